"""Accuracy of integrated_law_heyrovsky_magnification for the common limb-darkening laws.

Each law is written as a sum of powers of mu = sqrt(1 - r^2), I(r) = sum_j w_j mu^p_j, and its
reference is sum_j w_j J_pj / sum_j w_j 2 pi/(p_j + 2), with J_p = integral_0^1 2 pi r A_ring(l, r) mu^p dr
the stored mpmath integrals of tests/data/power_integrals.json (20-digit quadrature, p in
{0, 0.1, 0.5, 0.8, 1, 1.5, 2, 3, 8}), read with tests/_references.py. The points are every (l, rho)
of that file at which all nine powers are stored: rho = rstar/re from 1e-6 to 1e4, the lens from the
centre through the limb (within 1e-12 of it) to far outside. Prints the largest relative error per
law, off the limb and within 1e-2 of it (|l - 1| <= 1e-2), and where the largest one is.
Needs mpmath. Usage: python benchmarks/accuracy_laws.py [--table]   (a few seconds; --table prints
the Markdown table of docs/limb_darkening.md)
"""
import argparse
import math
import pathlib
import sys

import mpmath as mp

import velmora

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from _references import load_data  # noqa: E402  (the tests' stored mpmath references)

# name, coefficients as written, (powers, weights) as velmora takes them
LAWS = [
    ("linear", "c = 0.6", (0, 1), (0.4, 0.6)),
    ("quadratic", "a = 0.4, b = 0.25", (0, 1, 2), (1 - 0.4 - 0.25, 0.4 + 2 * 0.25, -0.25)),
    ("square-root", "c = 0.1, d = 0.6", (0, 1, 0.5), (1 - 0.1 - 0.6, 0.1, 0.6)),
    ("power-2", "c = 0.7, alpha = 0.8", (0, 0.8), (1 - 0.7, 0.7)),
    ("power-2", "c = 0.9, alpha = 3", (0, 3), (1 - 0.9, 0.9)),
    ("four-coefficient", "a1..a4 = 0.5, 0.3, -0.2, 0.1",
     (0, 0.5, 1, 1.5, 2), (1 - 0.5 - 0.3 + 0.2 - 0.1, 0.5, 0.3, -0.2, 0.1)),
    ("single power", "mu^8", (8,), (1.0,)),
]
LIMB = 1e-2


def stored():
    """{(l, rho): {p: J_p}} for the points with every power stored."""
    _, _, rows = load_data("power_integrals.json")
    by_point = {}
    for row in rows:
        by_point.setdefault((row["l"], row["rho"]), {})[row["p"]] = row["value"]
    powers = {row["p"] for row in rows}
    return {point: js for point, js in sorted(by_point.items()) if set(js) == powers}


def reference(js, powers, weights):
    with mp.workdps(40):
        total = sum(mp.mpf(w) * js[float(p)] for p, w in zip(powers, weights))
        norm = sum(mp.mpf(w) * 2 * mp.pi / (mp.mpf(p) + 2) for p, w in zip(powers, weights))
        return total / norm


def errors():
    """[(law, coefficients, worst off the limb, worst at it, (l, rho) of the worst)] and the point count."""
    points = stored()
    out = []
    for name, coefficients, powers, weights in LAWS:
        worst = {False: (0.0, None), True: (0.0, None)}
        for (l, rho), js in points.items():
            got = velmora.integrated_law_heyrovsky_magnification([l], 1.0, rho, powers, weights)[0]
            ref = reference(js, powers, weights)
            err = float(abs((mp.mpf(got) - ref) / ref))
            near = abs(l - 1) <= LIMB
            if not err <= worst[near][0]:
                worst[near] = (err, (l, rho))
        where = max(worst.values(), key=lambda e: e[0])[1]
        out.append((name, coefficients, worst[False][0], worst[True][0], where))
    return out, points


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--table", action="store_true", help="print the Markdown table of docs/limb_darkening.md")
    args = parser.parse_args()
    rows, points = errors()
    rhos = sorted({rho for _, rho in points})
    if args.table:
        print(f"{len(points)} stored points, rho = {', '.join(f'{r:g}' for r in rhos)}; largest relative error "
              f"against the stored mpmath integrals (at the limb: |l - 1| <= {LIMB:g})")
        print()
        print("| law | coefficients | off the limb | at the limb | worst at (l, rho) |")
        print("|---|---|---|---|---|")
        for name, coefficients, off, at, (l, rho) in rows:
            print(f"| {name} | {coefficients} | {off:.1e} | {at:.1e} | ({l:.13g}, {rho:g}) |")
        return
    print(f"{len(points)} stored points, rho in {rhos}")
    print(f"{'law':<18}{'coefficients':<32}{'off the limb':>14}{'at the limb':>14}  worst at (l, rho)")
    for name, coefficients, off, at, (l, rho) in rows:
        print(f"{name:<18}{coefficients:<32}{off:>14.1e}{at:>14.1e}  ({l:.13g}, {rho:g})")
    if any(math.isnan(r[2]) or math.isnan(r[3]) for r in rows):
        raise SystemExit("a NaN result")


if __name__ == "__main__":
    main()
