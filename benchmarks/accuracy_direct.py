"""Largest relative error of the uniform disk, the thin ring and the discrete sum, per region of
the physical domain, against the 60-digit closed forms of tests/_references.py.

Regions: rho = rstar/re from 1e-6 to 1e4, the lens distance l from 0 to 1e8 source radii, within
1e-12 to 1e-2 of the limb on both sides; for the ring, l from 1e-9 to 1e4 with |r - l| from 1e-14
to 1 on both sides, r = 0 and l = 0. Points are log-spaced and random (seeded).
Usage: python benchmarks/accuracy_direct.py [--quick] [--table]   (needs mpmath and numpy; a minute or two;
--table prints the result as the Markdown table of docs/accuracy.md)
"""
import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
import numpy as np  # noqa: E402

import velmora  # noqa: E402
from _references import disk_mp, ring_mp  # noqa: E402
from _support import rel_err  # noqa: E402


def disk_regions(rng, n):
    rho = lambda: 10.0 ** rng.uniform(-6, 4, n)
    near = 10.0 ** rng.uniform(-12, -2, n)
    yield "inside, l < 1 - 1e-2", rho(), rng.uniform(0, 0.99, n)
    yield "limb, 1e-12 < |l - 1| < 1e-2", rho(), 1 + near * rng.choice([-1, 1], n)
    yield "limb, l = 1", rho(), np.ones(n)
    yield "outside, 1.01 < l < 16", rho(), rng.uniform(1.01, 16, n)
    yield "far, 16 <= l <= 1e8", rho(), 10.0 ** rng.uniform(np.log10(16), 8, n)


def ring_regions(rng, n):
    eps = lambda: 10.0 ** rng.uniform(-4, 6, n)  # re/rstar
    l = 10.0 ** rng.uniform(-9, 4, n)
    f = 10.0 ** rng.uniform(-14, 0, n) * rng.choice([-1, 1], n)
    r = np.abs(l + f)
    keep = r != l
    yield "next to the ring, 1e-14 < |r - l| < 1", eps()[keep], l[keep], r[keep]
    yield "anywhere, l, r in [0, 2]", eps(), rng.uniform(0, 2, n), rng.uniform(0, 2, n)
    yield "r = 0", eps(), l, np.zeros(n)
    yield "l = 0", eps(), np.zeros(n), 10.0 ** rng.uniform(-9, 4, n)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="40 points per region instead of 400")
    parser.add_argument("--table", action="store_true", help="print the Markdown table of docs/accuracy.md")
    args = parser.parse_args()
    n = 40 if args.quick else 400
    rng = np.random.default_rng(20261208)
    if args.table:
        print("| function | region | points | max rel. error | where |\n|---|---|---|---|---|")
        row = "| `{}` | {} | {} | {:.2e} | {} |"
    else:
        print(f"{'function':<26} {'region':<42} {'points':>6} {'max rel. error':>15}  where")
        row = "{:<26} {:<42} {:6d} {:15.2e}  {}"
    bar = "\\|" if args.table else "|"  # a bar inside a Markdown cell (|l - 1|) is escaped
    for name, rhos, ls in disk_regions(rng, n):
        worst = (0.0, None)
        for rho, l in zip(rhos, ls):
            (got,) = velmora.witt_mao_magnification([float(l)], 1.0, float(rho))
            worst = max(worst, (rel_err(got, disk_mp(l, rho)), f"rho={rho:.3g} l={float(l)!r}"), key=lambda w: w[0])
        print(row.format("witt_mao_magnification", name.replace("|", bar), len(ls), *worst), flush=True)
    for name, epss, ls, rs in ring_regions(rng, n):
        worst = (0.0, None)
        for eps, l, r in zip(epss, ls, rs):
            got = velmora.heyrovsky_magnification(float(l), float(r), float(eps), 1.0)
            worst = max(worst, (rel_err(got, ring_mp(l, r, eps)), f"re/rstar={eps:.3g} l={float(l)!r} r={float(r)!r}"),
                        key=lambda w: w[0])
        print(row.format("heyrovsky_magnification", name.replace("|", bar), len(ls), *worst), flush=True)


if __name__ == "__main__":
    main()
