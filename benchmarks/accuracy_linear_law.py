"""Any linear limb-darkening coefficient by the identity, against a 30-digit reference.

The magnification is linear in the brightness profile, so a source with I(r) = 1 - c(1 - sqrt(1 - r^2))
is magnified by M_c = [(1 - 5c/3) W + (4c/3) M] / (1 - c/3), W the uniform disk and M velmora's
built-in law (c = 0.6). Three ways to take W and M:

- ring + map W: M = integrated_heyrovsky_magnification, W the one-knot flux map on the same route,
  integrated_flux_map_heyrovsky_magnification(l, re, rstar, [0.0], [1.0]);
- ring + closed W: the same M, W = witt_mao_magnification (the closed form);
- disk + closed W: M = integrated_witt_mao_magnification, W = witt_mao_magnification.

The reference is that of benchmarks/validate.py (the point-lens magnification integrated over the
source in polar coordinates about the lens, 30 digits), whose uniform and sqrt(1 - r^2) parts are
recombined exactly for each c. Prints the largest relative error of each way per coefficient, off
the limb and within 1e-2 of it (lens positions from the centre to 10 source radii, rstar/re = 1e-3
and 1), and MulensModel's Gamma for each c (Gamma = 2c/(3 - c)); VBMicrolensing's a1 is c.

Needs benchmarks/validate.py's imports (the peers extra: python -m pip install '.[peers]').
Usage: python benchmarks/accuracy_linear_law.py [--table]   (a few seconds; --table prints the
Markdown table of docs/limb_darkening.md)
"""
from __future__ import annotations

import argparse
import pathlib
import sys

import mpmath as mp

import velmora

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
try:
    from validate import LD, reference  # the 30-digit reference (validate.py imports the peers)
except (ImportError, SystemExit) as error:
    raise SystemExit(f"benchmarks/validate.py does not import ({error}): python -m pip install '.[peers]'")

COEFFICIENTS = [0.0, 0.3, 0.6, 0.8, 1.0]
RHOS = [1e-3, 1.0]
LENS = [0.0, 0.5, 0.99, 0.999, 1 - 1e-6, 1.0, 1 + 1e-6, 1.001, 1.01, 10.0]
NEAR = 1e-2  # "at the limb": |l - 1| <= NEAR


def ways(l: list[float], rho: float, c: float) -> dict[str, list[float]]:
    ring = velmora.integrated_heyrovsky_magnification(l, 1.0, rho)
    disk = velmora.integrated_witt_mao_magnification(l, 1.0, rho)
    map_w = velmora.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, [0.0], [1.0])
    closed_w = velmora.witt_mao_magnification(l, 1.0, rho)
    a, b, n = 1.0 - 5.0 * c / 3.0, 4.0 * c / 3.0, 1.0 - c / 3.0
    combine = lambda w, m: [(a * wi + b * mi) / n for wi, mi in zip(w, m)]  # noqa: E731
    return {"ring + map W": combine(map_w, ring), "ring + closed W": combine(closed_w, ring),
            "disk + closed W": combine(closed_w, disk)}


def references(rho: float) -> list[tuple[mp.mpf, mp.mpf]]:
    """Per lens position: (uniform part U, sqrt part R), the law of coefficient c being
    ((1 - c) U + c R)/(1 - c/3), both from validate.py's (uniform, law) pair."""
    out = []
    for l in LENS:
        uniform, law = reference(l, rho)
        with mp.workdps(40):
            ld = mp.mpf(LD)
            out.append((uniform, (law * (1 - ld / 3) - (1 - ld) * uniform) / ld))
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--table", action="store_true", help="print the Markdown table of docs/limb_darkening.md")
    args = parser.parse_args()
    refs = {rho: references(rho) for rho in RHOS}
    names = list(ways([0.5], 0.05, 0.6))
    worst = {(c, name, near): 0.0 for c in COEFFICIENTS for name in names for near in (False, True)}
    for c in COEFFICIENTS:
        for rho in RHOS:
            got = ways(LENS, rho, c)
            for i, l in enumerate(LENS):
                with mp.workdps(40):
                    u, r = refs[rho][i]
                    cc = mp.mpf(c)
                    want = ((1 - cc) * u + cc * r) / (1 - cc / 3)
                    for name in names:
                        key = (c, name, abs(l - 1.0) <= NEAR)
                        worst[key] = max(worst[key], float(abs(got[name][i] - want) / want))
    if args.table:
        print(f"| c | Γ (MulensModel) | {' | '.join(f'{n}: off the limb | at the limb' for n in names)} |")
        print("|---" * (2 + 2 * len(names)) + "|")
        for c in COEFFICIENTS:
            cells = " | ".join(f"{worst[(c, n, near)]:.1e}" for n in names for near in (False, True))
            print(f"| {c:g} | {2 * c / (3 - c):.4g} | {cells} |")
        return
    print(f"Largest relative error against the 30-digit reference; rstar/re in {RHOS}; l in {LENS};"
          f" at the limb: |l - 1| <= {NEAR:g}")
    print(f"{'c':>5} {'Gamma':>7} " + " ".join(f"{n + ', off / at limb':>34}" for n in names))
    for c in COEFFICIENTS:
        cells = " ".join(f"{worst[(c, n, False)]:>24.1e} {worst[(c, n, True)]:>9.1e}" for n in names)
        print(f"{c:5.2f} {2 * c / (3 - c):7.4f} {cells}")


if __name__ == "__main__":
    main()
