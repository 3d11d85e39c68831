"""Accuracy of the gradient functions by region of l: the largest relative error of dA/du and of
dA/drho (relative to max(|d|, 1e-5*A/rho): where a derivative is below 1e-5 of A/rho, as far out
or at the centre, its error is measured against that floor), and the largest error in units of the
bound 1e-10*|d| + 1e-15*A/rho of tests/test_gradient.py.

- witt_mao_magnification_gradient against central differences of the Witt–Mao closed form at 100
  digits (tests/_references.py, disk_gradient_mp), rho from 1e-6 to 1e4;
- integrated_law_heyrovsky_magnification_gradient for four laws against the stored five-point
  differences of mpmath's ring-magnification integrals (tests/data/power_gradients.json);
- integrated_flux_map_heyrovsky_magnification_gradient for three flux maps against the same
  differences of the maps' integrals (tests/data/table_gradients.json).

Usage: python benchmarks/accuracy_gradients.py   (needs mpmath; about half a minute)
"""
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import mpmath as mp  # noqa: E402

import velmora  # noqa: E402
from _references import disk_gradient_mp, load_data  # noqa: E402

REGIONS = [("centre, inside (l < 0.999)", lambda l: l < 0.999),
           ("near the limb (|l - 1| <= 1e-3)", lambda l: abs(l - 1) <= 1e-3 and l != 1),
           ("outside (1.001 <= l < 4)", lambda l: 1.001 <= l < 4),
           ("far (l >= 4)", lambda l: l >= 4)]
RHOS = [1e-6, 1e-3, 0.05, 1.0, 10.0, 1e4]
DISK_LS = ([0.0, 1e-3, 0.3, 0.9, 0.99] + [1 + s * 10.0**-k for k in (9, 6, 4, 3) for s in (-1, 1)]
           + [1.5, 2.0, 3.0, 3.999, 4.0, 8.0, 16.0, 100.0, 1e4, 1e8])
LAWS = {
    "linear c = 0.6": ([0.0, 1.0], [0.4, 0.6]),
    "quadratic (0.4, 0.25)": ([0.0, 1.0, 2.0], [0.35, 0.9, -0.25]),
    "square-root (0.25, 0.45)": ([0.0, 1.0, 0.5], [0.3, 0.25, 0.45]),
    "power-2 (0.65, 0.7)": ([0.0, 0.7], [0.35, 0.65]),
}


def errors(got, want, a, rho):
    """(relative error, error in units of the bound) of one derivative."""
    with mp.workdps(30):
        e = abs(mp.mpf(got) - want)
        floor = max(abs(want), 1e-5 * abs(a) / rho)
        return float(e / floor), float(e / (1e-10 * abs(want) + 1e-15 * abs(a) / rho))


def report(title, rows):
    """rows: (l, rel_u, bound_u, rel_rho, bound_rho)."""
    print(title)
    print(f"  {'region':<34}{'points':>7}{'dA/du rel':>12}{'x bound':>9}{'dA/drho rel':>13}{'x bound':>9}")
    for name, inside in REGIONS:
        picked = [r for r in rows if inside(r[0])]
        if not picked:
            continue
        worst = [max(r[k] for r in picked) for k in range(1, 5)]
        print(f"  {name:<34}{len(picked):>7}{worst[0]:>12.1e}{worst[1]:>9.3f}{worst[2]:>13.1e}{worst[3]:>9.3f}")


def disk_rows():
    rows = []
    for rho in RHOS:
        got = zip(*velmora.witt_mao_magnification_gradient(DISK_LS, 1.0, rho))
        for l, (a, d_u, d_rho) in zip(DISK_LS, got):
            _, want_u, want_rho = disk_gradient_mp(l, rho)
            rows.append((l, *errors(d_u, want_u, a, rho), *errors(d_rho, want_rho, a, rho)))
    return rows


def law_rows(powers, weights):
    _, _, stored = load_data("power_gradients.json")
    dj = {(r["l"], r["rho"], r["p"], r["which"]): r["value"] for r in stored}
    rows = []
    for l, rho in sorted({(l, rho) for l, rho, _, _ in dj}):
        a, d_u, d_rho = (x[0] for x in velmora.integrated_law_heyrovsky_magnification_gradient(
            [l], 1.0, rho, powers, weights))
        with mp.workdps(40):
            disk = disk_gradient_mp(l, rho)
            n = 2 * mp.pi * sum(mp.mpf(w) / (mp.mpf(p) + 2) for p, w in zip(powers, weights))
            want = [sum(mp.mpf(w) * (mp.pi * disk[at] if p == 0 else dj[(l, rho, float(p), which)])
                        for p, w in zip(powers, weights)) / n for which, at in (("u", 1), ("rho", 2))]
        rows.append((l, *errors(d_u, want[0], a, rho), *errors(d_rho, want[1], a, rho)))
    return rows


def table_rows(name):
    _, tables, stored = load_data("table_gradients.json")
    bl, bf = tables[name]
    d = {(r["l"], r["rho"], r["which"]): r["value"] for r in stored if r["table"] == name}
    rows = []
    for l, rho in sorted({(l, rho) for l, rho, _ in d}):
        a, d_u, d_rho = (x[0] for x in velmora.integrated_flux_map_heyrovsky_magnification_gradient(
            [l], 1.0, rho, bl, bf))
        rows.append((l, *errors(d_u, d[(l, rho, "u")], a, rho), *errors(d_rho, d[(l, rho, "rho")], a, rho)))
    return rows


def main():
    report(f"witt_mao_magnification_gradient, rho {RHOS[0]:g} to {RHOS[-1]:g} "
           "(against 100-digit differences of the closed form):", disk_rows())
    for name, (powers, weights) in LAWS.items():
        report(f"\nintegrated_law_heyrovsky_magnification_gradient, {name} (against tests/data/power_gradients.json):",
               law_rows(powers, weights))
    for name in sorted(load_data("table_gradients.json")[1]):
        report(f"\nintegrated_flux_map_heyrovsky_magnification_gradient, {name} (against tests/data/table_gradients.json):",
               table_rows(name))


if __name__ == "__main__":
    main()
