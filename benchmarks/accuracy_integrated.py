"""Accuracy of the integrated magnifications against mpmath references, printed as a table.

Relative errors of the ring route (integrated_heyrovsky_magnification), the disk route
(integrated_witt_mao_magnification) and the two flux-map functions (a table that ends at r = 0.7),
and, for comparison, the disk route with dW/dr from a central difference instead of integration by
parts. Needs the test extras (mpmath, and the _velmora_kernels test extension for the comparison).
Usage: python benchmarks/accuracy_integrated.py [--quick] [--table]   (about a minute; --table prints the
result as the Markdown table of docs/accuracy.md)
"""
import argparse
import math
import pathlib
import sys

import velmora

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from _kernels import load  # noqa: E402  (builds the test extension on first use)
from _references import LAW_NORM, law_mp, table_mp  # noqa: E402  (the tests' mpmath references)

kernels = load()

POINTS = [(0.0, 0.05), (1e-4, 0.05), (0.5, 0.05), (1 - 1e-12, 0.05), (1.0, 0.05), (1 + 1e-12, 0.05), (2.0, 0.05),
          (10.0, 0.05), (0.5, 1e-5), (0.99, 1e-3), (0.5, 1.0), (1.5, 1.0), (0.5, 10.0), (1.0, 10.0), (0.3, 1e3),
          (3.0, 1e3)]
TABLE = ([0.0, 0.35, 0.7], [1.0, 0.9, 0.5])


def disk_route_by_central_difference(l, rho):
    """(1/N) ∫ 2πr (W + (r/2) W') I dr with W' = (W(r + h) - W(r - h))/2h, split at r = l."""
    def disk(r):
        try:
            return velmora.witt_mao_magnification([l / r], 1.0, r * rho)[0]
        except RuntimeError:
            return math.nan

    def integrand(r):
        slope = kernels.sderivative(disk, r)
        return 2 * math.pi * r * (disk(r) + 0.5 * r * slope) * (1 - 0.6 * (1 - math.sqrt(1 - r * r)))

    points = [0.0] + ([l] if 0 < l < 1 else []) + [1.0]
    return sum(kernels.integrate(integrand, a, b, 1e-16)[0] for a, b in zip(points, points[1:])) / LAW_NORM


def rel(got, ref):
    return float(abs(got - ref) / abs(ref))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"every fourth of the {len(POINTS)} points")
    parser.add_argument("--table", action="store_true", help="print the Markdown table of docs/accuracy.md")
    args = parser.parse_args()
    points = POINTS[::4] if args.quick else POINTS
    if args.table:
        print("| l | rstar/re | ring | disk | disk, dW/dr | map ring | map disk |\n|---|---|---|---|---|---|---|")
        row = "| {:.13g} | {:.3g} | {:.1e} | {:.1e} | {:.1e} | {:.1e} | {:.1e} |"
    else:
        print(f"{'l':<16} {'rstar/re':>8} | {'ring':>9} {'disk':>9} {'disk, dW/dr':>11} | {'map ring':>9} {'map disk':>9}")
        row = "{:<16.13g} {:8.3g} | {:9.1e} {:9.1e} {:11.1e} | {:9.1e} {:9.1e}"
    for l, rho in points:
        ref = law_mp(l, rho)
        ref_map = table_mp(l, rho, *TABLE)
        ring = velmora.integrated_heyrovsky_magnification([l], 1.0, rho)[0]
        disk = velmora.integrated_witt_mao_magnification([l], 1.0, rho)[0]
        map_ring = velmora.integrated_flux_map_heyrovsky_magnification([l], 1.0, rho, *TABLE)[0]
        map_disk = velmora.integrated_flux_map_witt_mao_magnification([l], 1.0, rho, *TABLE)[0]
        by_difference = disk_route_by_central_difference(l, rho)
        print(row.format(l, rho, rel(ring, ref), rel(disk, ref), rel(by_difference, ref), rel(map_ring, ref_map),
                         rel(map_disk, ref_map)), flush=True)


if __name__ == "__main__":
    main()
