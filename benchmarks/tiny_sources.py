"""velmora for very small sources, rstar/re from 1e-10 down to the smallest doubles, against the
small-source limit.

As rho = rstar/re tends to 0 the magnification grows like 1/rho: rho·A(rho·s) = 1/s·(1 + O(rho² s²)),
so rho·M tends to the profile-weighted mean over the source of 1/s, s the distance from the lens in
source radii. Around a ring of radius r that mean is (2/pi)·K(4lr/(l + r)^2)/(l + r) (K in the
parameter convention, as Carlson's R_F), and mpmath integrates it over the radius (split at r = l, 20 digits). From
rho = 1e-10 down the O(rho²) part is below 1e-19 relative, so the limit is the reference.

Prints the largest relative error of rho·M per function and rho over the lens positions l = 0.5
and 1.5 (the ring: radius 0.3; the flux maps: the table (0, 1) -> (1, 0.5)); "inf", "nan" or
"gives 1" where the function returns that at one of them.
Usage: python benchmarks/tiny_sources.py [--table]   (needs mpmath; a few seconds; --table prints
the Markdown table of docs/faults_and_limits.md)
"""
from __future__ import annotations

import argparse
import math

import mpmath as mp

import velmora

RHOS = [1e-10, 1e-100, 1e-150, 1e-158, 1e-160, 1e-200, 1e-300, 1e-306, 1e-307, 1e-308, 1e-309]
LENS = [0.5, 1.5]
RING = 0.3
TABLE = ([0.0, 1.0], [1.0, 0.5])

PROFILES = {  # brightness at r, for the mpmath limit
    "uniform": lambda r: 1,
    "law": lambda r: 1 - mp.mpf(0.6) * (1 - mp.sqrt(1 - r * r)),
    "table": lambda r: 1 - r / 2,
}
FUNCTIONS = {  # name: (the limit it tends to, rho -> values at LENS)
    "witt_mao_magnification": ("uniform", lambda rho: velmora.witt_mao_magnification(LENS, 1.0, rho)),
    "heyrovsky_magnification (r = 0.3)":
        ("ring", lambda rho: [velmora.heyrovsky_magnification(l, RING, 1.0, rho) for l in LENS]),
    "integrated_heyrovsky_magnification": ("law", lambda rho: velmora.integrated_heyrovsky_magnification(LENS, 1.0, rho)),
    "integrated_witt_mao_magnification": ("law", lambda rho: velmora.integrated_witt_mao_magnification(LENS, 1.0, rho)),
    "integrated_flux_map_heyrovsky_magnification":
        ("table", lambda rho: velmora.integrated_flux_map_heyrovsky_magnification(LENS, 1.0, rho, *TABLE)),
    "integrated_flux_map_witt_mao_magnification":
        ("table", lambda rho: velmora.integrated_flux_map_witt_mao_magnification(LENS, 1.0, rho, *TABLE)),
}


def ring_mean(l: mp.mpf, r: mp.mpf) -> mp.mpf:
    """Mean of 1/s around the ring of radius r, the lens l from its centre."""
    if l == 0:
        return 1 / r
    # K(m) = R_F(0, 1 - m, 1) with 1 - m = ((l - r)/(l + r))^2 from the geometry: m itself would
    # round to 1 at the quadrature's nodes next to r = l
    return 2 / mp.pi * mp.elliprf(0, ((l - r) / (l + r)) ** 2, 1) / (l + r)


def limit(kind: str, l: float) -> mp.mpf:
    with mp.workdps(20):
        l_ = mp.mpf(l)
        if kind == "ring":
            return ring_mean(l_, mp.mpf(RING))
        profile = PROFILES[kind]
        points = [0, l_, 1] if l < 1 else [0, 1]
        numerator = mp.quad(lambda r: 2 * mp.pi * r * profile(r) * ring_mean(l_, r), points)
        return numerator / mp.quad(lambda r: 2 * mp.pi * r * profile(r), [0, 1])


def error(values: list[float], rho: float, refs: list[mp.mpf]) -> str:
    if any(math.isnan(v) for v in values):
        return "nan"
    if any(math.isinf(v) for v in values):
        return "inf"
    if any(v == 1.0 for v in values):  # the magnification of no source at all
        return "gives 1"
    return f"{max(float(abs(v * rho - ref) / ref) for v, ref in zip(values, refs)):.1e}"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--table", action="store_true", help="print the Markdown table of docs/faults_and_limits.md")
    args = parser.parse_args()
    refs = {kind: [limit(kind, l) for l in LENS] for kind in ("uniform", "ring", "law", "table")}
    rows = {name: [error(call(rho), rho, refs[kind]) for rho in RHOS] for name, (kind, call) in FUNCTIONS.items()}
    if args.table:
        print("| function | " + " | ".join(f"{rho:g}" for rho in RHOS) + " |")
        print("|---" * (len(RHOS) + 1) + "|")
        for name, cells in rows.items():
            print(f"| `{name.split(' ')[0]}`{name[len(name.split(' ')[0]):]} | " + " | ".join(cells) + " |")
        return
    print(f"Largest relative error of rho·M against the small-source limit, l in {LENS}; columns: rho = rstar/re")
    print(f"{'function':<45}" + "".join(f"{rho:>9g}" for rho in RHOS))
    for name, cells in rows.items():
        print(f"{name:<45}" + "".join(f"{c:>9}" for c in cells))


if __name__ == "__main__":
    main()
