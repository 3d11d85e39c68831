"""Accuracy of the astrometric centroid shifts against the stored mpmath references.

witt_mao_centroid_shift against tests/data/disk_centroid_shifts.json (N/M - u from two boundary
integrals at 60 digits); integrated_law_heyrovsky_centroid_shift for the uniform, linear, quadratic,
square-root and power-2 laws against sum_j w_j Z_pj / sum_j w_j J_pj, with Z_p the stored integrals
of the ring's shift numerator (tests/data/centroid_power_integrals.json) and J_p those of the ring
magnification (tests/data/power_integrals.json); integrated_flux_map_heyrovsky_centroid_shift for
four flux maps against tests/data/flux_map_centroid_shifts.json (the same radius integrals of the
piecewise-linear profile); all read with tests/_references.py. Per region of the
lens position l (source radii): inside (l < 1 - 1e-3), at the limb (|l - 1| <= 1e-3), outside
(1 + 1e-3 < l < 16), far (l >= 16). Prints per law and region the largest |error|/|shift| and the
largest error over the accuracy asked, 1e-12·|shift| + 1e-16·(u + rho) (below 1: met), and the
number of points. Needs mpmath. Usage: python benchmarks/accuracy_centroid.py   (a few seconds)
"""
import pathlib
import sys

import mpmath as mp

import velmora

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from _references import load_data  # noqa: E402  (the tests' stored mpmath references)

LAWS = [
    ("uniform", (0.0,), (1.0,)),
    ("linear c = 0.6", (0.0, 1.0), (0.4, 0.6)),
    ("quadratic a = 0.4, b = 0.25", (0.0, 1.0, 2.0), (1 - 0.4 - 0.25, 0.4 + 2 * 0.25, -0.25)),
    ("square-root c = 0.25, d = 0.45", (0.0, 1.0, 0.5), (1 - 0.25 - 0.45, 0.25, 0.45)),
    ("power-2 c = 0.65, alpha = 0.8", (0.0, 0.8), (0.35, 0.65)),
]
REGIONS = ("inside", "limb", "outside", "far")


def region(l):
    return "limb" if abs(l - 1) <= 1e-3 else "inside" if l < 1 else "far" if l >= 16 else "outside"


def table(name, cases):
    """cases: [(l, rho, got, reference)] -> one printed row per region."""
    worst = {}
    for l, rho, got, ref in cases:
        err = abs(mp.mpf(got) - ref)
        rel = float(err / abs(ref)) if ref else float(err)
        asked = float(err / (mp.mpf(1e-12) * abs(ref) + mp.mpf(1e-16) * (l * rho + rho)))
        old = worst.get(region(l), (0.0, 0.0, 0))
        worst[region(l)] = (max(old[0], rel), max(old[1], asked), old[2] + 1)
    cells = "".join(f"{f'{w[0]:.1e} {w[1]:.2f} ({w[2]})' if (w := worst.get(r)) else '-':>24}" for r in REGIONS)
    print(f"{name:<46}{cells}")


def main():
    print("largest |error|/|shift|, largest error / (1e-12·|shift| + 1e-16·(u + rho)), (points) per region")
    print(f"{'function / law':<46}" + "".join(f"{r:>24}" for r in REGIONS))
    print("(law: integrated_law_heyrovsky_centroid_shift)")
    _, _, rows = load_data("disk_centroid_shifts.json")
    table("witt_mao_centroid_shift", [(r["l"], r["rho"], velmora.witt_mao_centroid_shift([r["l"]], 1.0, r["rho"])[0],
                                       r["value"]) for r in rows])
    _, _, z_rows = load_data("centroid_power_integrals.json")
    _, _, j_rows = load_data("power_integrals.json")
    z = {(r["l"], r["rho"], r["p"]): r["value"] for r in z_rows}
    j = {(r["l"], r["rho"], r["p"]): r["value"] for r in j_rows}
    points = sorted({(l, rho) for l, rho, _ in z})
    for name, powers, weights in LAWS:
        cases = []
        for l, rho in points:
            if not all((l, rho, p) in z for p in powers):
                continue
            with mp.workdps(30):
                ref = (sum(mp.mpf(w) * z[(l, rho, p)] for p, w in zip(powers, weights))
                       / sum(mp.mpf(w) * j[(l, rho, p)] for p, w in zip(powers, weights)))
            got = velmora.integrated_law_heyrovsky_centroid_shift([l], 1.0, rho, powers, weights)[0]
            cases.append((l, rho, got, ref))
        table(f"  law: {name}", cases)
    _, maps, rows = load_data("flux_map_centroid_shifts.json")
    table("integrated_flux_map_heyrovsky_centroid_shift", [
        (r["l"], r["rho"], velmora.integrated_flux_map_heyrovsky_centroid_shift([r["l"]], 1.0, r["rho"], *maps[r["table"]])[0],
         r["value"]) for r in rows])


if __name__ == "__main__":
    main()
