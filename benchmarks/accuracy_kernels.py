"""Largest relative error of each elliptic kernel against mpmath over the tests' seeded random sets.

Needs the test extras (mpmath, numpy); the _velmora_kernels test extension is built as for the
tests (tests/_kernels.py).
Usage: python benchmarks/accuracy_kernels.py [--quick] [--table]   (about ten seconds; --table prints the result
as the Markdown table of docs/accuracy.md)
"""
import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
import mpmath as mp  # noqa: E402
import numpy as np  # noqa: E402
from _support import rel_err  # noqa: E402
from test_elliptic import EPS, N, RANDOM_SETS, condition, kern, loguniform, points, ref, rj_pv  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"the first {N // 10} points of each set instead of {N}")
    parser.add_argument("--table", action="store_true", help="print the Markdown table of docs/accuracy.md")
    args = parser.parse_args()
    n = N // 10 if args.quick else N
    if args.table:
        print("| set | kernel | points | max rel. error | in eps |\n|---|---|---|---|---|")
        row = "| {} | `{}` | {} | {:.2e} | {:.2f}{} |"
    else:
        print(f"{'set':<20} {'kernel':<9} {'points':>6} {'max rel. error':>15} {'in eps':>7}")
        row = "{:<20} {:<9} {:6d} {:15.2e} {:7.2f}{}"
    for key, (name, pts, _) in RANDOM_SETS.items():
        pts = pts[:n]
        worst = max(rel_err(getattr(kern, name)(*args), ref(name, *args), dps=40) for args in pts)
        print(row.format(key, name, len(pts), worst, worst / EPS, ""), flush=True)
    # Negative p: the principal value crosses zero, so the error is also given per unit of the
    # problem's condition number.
    rng = np.random.default_rng(7)
    worst = worst_scaled = 0.0
    for args in points(loguniform(rng, 1e-6, 1e6, (N, 3)), -loguniform(rng, 1e-6, 1e6, N))[:n]:
        with mp.workdps(52):
            err = rel_err(kern.elliprj(*args), rj_pv(*args), dps=40)
            worst = max(worst, err)
            worst_scaled = max(worst_scaled, err / max(1.0, float(condition(rj_pv, args))))
    print(row.format("rj_negative_p", "elliprj", n, worst, worst / EPS,
                     f"   (per unit of condition: {worst_scaled / EPS:.2f} eps)"))


if __name__ == "__main__":
    main()
