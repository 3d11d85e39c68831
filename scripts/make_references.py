"""Computes the tests' high-precision radius-integral references and writes them to tests/data/.

    python scripts/make_references.py [--jobs N] [--only NAME] [--keep]   (needs mpmath, NumPy and SciPy)

The references are slow (seconds each), so the tests read them from the files instead of
recomputing them every run; tests/test_reference_data.py recomputes a seeded sample of every file
on each run, so a file cannot drift from this script. The points are chosen here, with why; the
tests take every row of a file (and select rows by their inputs where a test needs a region).

Files (each holds its inputs exactly, as JSON doubles, the method and the precision):
- power_integrals.json: J_p = ∫₀¹ 2πr A_ring(l, r) μ^p dr, μ = √(1 − r²), for p = 0 and 1 (from
  which every linear limb-darkening law follows exactly; the built-in law is c = 0.6) and, at a
  subset of the points, other powers, from which every law Σ w_j μ^p_j follows;
- flux_map_integrals.json: flux maps' magnifications (radius integral over the exact normaliser);
- many_knot_tables.json: tables of 21 to 1001 knots by adaptive quadrature per segment;
- peaked_powers.json: the magnification of a single high power μ^p (p = 100 and 1e6);
- power_gradients.json: the derivatives of J_p in u and in rho (the power laws' gradients);
- table_gradients.json: flux maps' derivatives in u and in rho;
- disk_centroid_shifts.json: the astrometric centroid shift of a uniform disk;
- centroid_power_integrals.json: Z_p = ∫₀¹ 2πr Z(l, r) μ^p dr, Z the ring's centroid-shift
  numerator, from which with power_integrals.json every power law's shift follows;
- flux_map_centroid_shifts.json: flux maps' centroid shifts (the radius integral of Z over that of
  the ring magnification).
"""
import argparse
import json
import math
import multiprocessing
import pathlib
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))

import mpmath as mp  # noqa: E402

from _references import (DATA, INTEGRAL_DPS, LAW_C, RECOMPUTE, adaptive_table_mp,  # noqa: E402
                         spotted_law)

# ---------------------------------------------------------------------------------------------
# power_integrals.json: (l, rho) points.

POWER_POINTS = [
    # The centre, next to it, inside, both sides of the limb within 1e-12, a hair outside, both sides
    # of where the r² rule takes over (l ≈ 1.028 for the largest rule), both sides of the law's
    # far-field switch at l = 3 and the disk's at 16, far out; rho from 1e-6 to 1e4.
    (0.0, 1e-6), (0.5, 1e-6), (1 - 1e-12, 1e-6), (1 + 1e-12, 1e-6), (2.0, 1e-6), (1e8, 1e-6),
    (0.0, 1e-5), (0.3, 1e-5), (1 - 1e-12, 1e-5), (1 + 1e-12, 1e-5), (2.999, 1e-5), (3.0, 1e-5), (15.9, 1e-5),
    (1e-9, 1e-3), (0.9, 1e-3), (1.0, 1e-3), (1.5, 1e-3), (16.0, 1e-3),
    (0.0, 0.05), (0.3, 0.05), (1 - 1e-12, 0.05), (1.0, 0.05), (1 + 1e-12, 0.05), (1.028, 0.05), (1.029, 0.05),
    (3.0, 0.05), (1e4, 0.05), (1e8, 0.05),
    (1e-4, 1.0), (0.9, 1.0), (1 + 1e-12, 1.0), (1.1, 1.0), (2.999, 1.0), (10.0, 1.0),
    (0.3, 100.0), (1 - 1e-12, 100.0), (1.001, 100.0), (2.0, 100.0), (15.9, 100.0),
    (0.0, 1e3), (0.5, 1e3), (1.0, 1e3), (1.03, 1e3), (2.999, 1e3), (3.0, 1e3), (15.9, 1e3),
    (0.0, 1e4), (0.7, 1e4), (1 - 1e-12, 1e4), (1 + 1e-12, 1e4), (1.5, 1e4), (40.0, 1e4),
    # Small offsets (1e-9 … 1e-4) put the lens near the centre, where every small ring passes close to it.
    (1e-6, 1e-3), (0.5, 1e-3), (1e-9, 0.05), (1e-4, 0.05), (0.5, 0.05), (0.3, 1.0), (1.0, 1.0), (1.5, 1.0),
    (0.0, 10.0), (1e-7, 10.0), (0.5, 10.0), (1.0, 10.0), (3.0, 10.0),
    # Where the full-disk value once rounded n to 1 and raised (rho = 1000, within 3e-8 of the limb).
    (0.999999989999999, 1000.0), (1.00000002, 1000.0),
    # Any linear coefficient by the identity: from the centre through the limb, rho 1e-3 and 0.5.
    *[(l, rho) for rho in (1e-3, 0.5) for l in (0.0, 0.3, 0.9, 0.998, 1.0, 1.5, 10.0)],
]


# Other powers, for the power laws (non-integer powers have an algebraic singularity at the limb):
# square-root (1/2), quadratic (2), Claret's four coefficients (1/2, 3/2, 2), power-2 exponents from
# 0.1 to 2 (0.1, 0.8), and high integer powers (3, 8). A subset of the points above that still spans
# rho from 1e-6 to 1e4, l from the centre through both sides of the limb (1e-12) to 1e8 and both
# sides of every switch between rules.
MORE_POWERS = (0.1, 0.5, 0.8, 1.5, 2.0, 3.0, 8.0)
MORE_POWER_POINTS = [
    (0.0, 1e-6), (1 - 1e-12, 1e-6), (1 + 1e-12, 1e-6), (1e8, 1e-6),
    (0.3, 1e-5), (2.999, 1e-5), (3.0, 1e-5),
    (1e-9, 1e-3), (0.9, 1e-3), (1.0, 1e-3), (1.5, 1e-3), (16.0, 1e-3),
    (0.0, 0.05), (1e-4, 0.05), (0.3, 0.05), (0.5, 0.05), (1 - 1e-12, 0.05), (1.0, 0.05), (1 + 1e-12, 0.05),
    (1.028, 0.05), (1.029, 0.05), (3.0, 0.05), (1e4, 0.05),
    (0.9, 1.0), (1 + 1e-12, 1.0), (1.1, 1.0), (1.5, 1.0), (0.0, 10.0), (1.0, 10.0),
    (1 - 1e-12, 100.0), (1.001, 100.0), (2.0, 100.0),
    (0.5, 1e3), (1.03, 1e3), (3.0, 1e3),
    (0.7, 1e4), (1 - 1e-12, 1e4), (1 + 1e-12, 1e4), (40.0, 1e4),
]


def power_rows():
    points = sorted(set(POWER_POINTS))
    rows = [{"l": l, "rho": rho, "p": p} for l, rho in points for p in (0.0, 1.0)]
    return rows + [{"l": l, "rho": rho, "p": p} for l, rho in sorted(set(MORE_POWER_POINTS)) for p in MORE_POWERS]


# ---------------------------------------------------------------------------------------------
# flux_map_integrals.json: tables and their (l, rho) points.

def _law(r):
    return 1 - LAW_C * (1 - math.sqrt(1 - r * r))


def _knots_uniform(n):
    bl = [k / (n - 1) for k in range(n)]
    return bl, [_law(r) for r in bl]


def _knots_clustered(n):
    bl = [math.sin(0.5 * math.pi * k / (n - 1)) for k in range(n)]
    return bl, [_law(r) for r in bl]


# name: (bl, bf, [(l, rho)]): two knots, uniform and clustered knots, a spot of 1e-7 width, maps
# ending inside the disk and beyond it; the lens on a knot, 1e-9 from one, on the limb, both sides
# of the far-field switch at l = 4 and beyond.
def _grid(ls, rhos=(1e-3, 1.0, 100.0)):
    return [(l, rho) for rho in rhos for l in ls]


TABLES = {
    "two knots": ([0.0, 0.7], [1.0, 0.5], _grid([0.0, 0.7, 0.7 + 1e-9, 1.0, 2.0])),
    "11 uniform": (*_knots_uniform(11), _grid([0.5, 0.5 - 1e-9, 1 - 1e-12, 1.0 + 1e-12, 3.99, 4.0, 20.0])),
    "40 clustered": (*_knots_clustered(40), _grid([0.3, 0.9999, 1.0, 3.0])),
    "spot": ([0.0, 0.3, 0.3000001, 0.5, 1.0], [1.0, 1.0, 3.0, 0.5, 0.2], _grid([0.3000001, 0.30000005, 0.4])),
    "law 5 knots": (*_knots_uniform(5), [(0.5, 0.05), (1.0, 0.05), (0.9, 1e-3)]),  # l = 0.5 is a knot
    "ends at 0.7": ([0.1, 0.4, 0.7], [1.0, 0.9, 0.5], [(0.7, 1.0), (0.4, 10.0), (1.5, 0.05)]),
    "beyond the limb": ([0.0, 0.6, 1.5, 2.0], [1.0, 0.7, 0.2, 0.1], [(0.3, 0.05), (1.0, 1.0), (0.6, 10.0)]),
}


def table_rows():
    return [{"table": name, "l": l, "rho": rho} for name, (_, _, points) in TABLES.items() for l, rho in points]


# ---------------------------------------------------------------------------------------------
# many_knot_tables.json: the law with a bright belt at r ≈ 0.6 on 21 to 1001 knots. The lens on a
# knot, just beside one (the neighbouring piece then touches the singularity's near side), between
# knots, at the centre, just outside the limb and far outside.

MANY_KNOTS = [(101, 0.05), (101, 10.0), (21, 1.0), (1001, 0.05)]


def many_knot_tables():
    return {f"{n} knots": spotted_law(n) for n in sorted({n for n, _ in MANY_KNOTS})}


def many_knot_rows():
    rows = []
    for n, rho in MANY_KNOTS:
        h = 1 / (n - 1)
        for l in [0.0, 0.5 + 1e-7, 0.5 + 0.37 * h, 0.6 - 2e-9, 0.995, 1 + 1e-4, 2.5]:
            rows.append({"table": f"{n} knots", "l": l, "rho": rho})
    return rows


# peaked_powers.json: single high powers μ^p, a peak of width 1/√p at the centre, with the lens at
# the centre, inside the peak, beyond it, on the limb and outside.
PEAKED_POINTS = [(0.0, 0.05), (0.01, 0.05), (0.5, 0.05), (1.0, 0.05), (2.0, 1.0), (0.001, 1e-3)]


def peaked_rows():
    return [{"l": l, "rho": rho, "p": p} for p in (100.0, 1e6) for l, rho in PEAKED_POINTS]


# disk_centroid_shifts.json: the uniform disk's centroid shift from rho 1e-6 to 1e4: near the centre,
# inside, both sides of the limb within 1e-12 and 1e-9 (the shift changes sign on the limb), the
# far-field series from its switch at l = 3 on (15.9 and 16: the magnification's own switch), and far
# out to l = 1e8. (l = 0 and l = 1, where the shift
# is 0, are tested without a stored value.)
CENTROID_RHOS = (1e-6, 1e-3, 0.05, 0.5, 1.0, 10.0, 100.0, 1e4)
CENTROID_LS = (1e-3, 0.3, 0.9, 1 - 1e-9, 1 - 1e-12, 1 + 1e-12, 1 + 1e-9, 1.5, 3.0, 15.9, 16.0, 100.0, 1e4, 1e8)


def centroid_rows():
    return [{"l": l, "rho": rho} for rho in CENTROID_RHOS for l in CENTROID_LS]


# centroid_power_integrals.json: the powers of the linear (0, 1), quadratic (0, 1, 2), square-root
# (0, 1/2, 1) and power-2 (0, α = 0.8) laws at points of MORE_POWER_POINTS (which have J_p for them):
# rho from 1e-6 to 1e4, l from the centre through the limb to 1e8, the far-field series' switch at
# l = 3 and beyond it. Z_0 is the uniform disk's J_0 times its shift (cheap).
# Points within 1e-12 of the limb cost ~35 s a power (the ring's log singularity graded toward the
# limb inside the radius integral), so each takes the powers of one or two laws only.
CENTROID_POWERS = (0.0, 0.5, 0.8, 1.0, 2.0)
CENTROID_POWER_POINTS = [
    (1e8, 1e-6), (0.3, 1e-5), (3.0, 1e-5), (0.9, 1e-3), (16.0, 1e-3), (1e-4, 0.05), (0.3, 0.05),
    (1.029, 0.05), (3.0, 0.05), (1.1, 1.0), (1.5, 1.0), (2.0, 100.0), (0.5, 1e3), (3.0, 1e3), (0.7, 1e4),
    (40.0, 1e4),
]
CENTROID_LIMB_POWERS = {
    (1 + 1e-12, 1e-6): (0.0, 1.0, 2.0), (1 - 1e-12, 0.05): (0.0, 0.5, 1.0), (1 + 1e-12, 0.05): (0.0, 0.8),
    (1.0, 10.0): (0.0, 1.0), (1 - 1e-12, 100.0): (0.0, 0.5, 1.0), (1 + 1e-12, 1e4): (0.0, 1.0),
}
assert set(CENTROID_POWER_POINTS) | set(CENTROID_LIMB_POWERS) <= set(MORE_POWER_POINTS)
assert set(CENTROID_POWERS) <= set(MORE_POWERS) | {0.0, 1.0}


def centroid_power_rows():
    rows = [{"l": l, "rho": rho, "p": p} for l, rho in CENTROID_POWER_POINTS for p in CENTROID_POWERS]
    return rows + [{"l": l, "rho": rho, "p": p} for (l, rho), ps in CENTROID_LIMB_POWERS.items() for p in ps]


# flux_map_centroid_shifts.json: four of the flux maps above: the lens on a knot and 1e-9 beside one,
# on the step of a map that ends inside the disk, within 1e-12 of the limb of a map bright there
# (its limb value is taken out as a uniform disk), just outside, and both sides of the far-field
# switch at l = 4; rho 1e-3 to 1e4.
CENTROID_TABLE_POINTS = {
    "two knots": [(0.7, 1e-3), (0.7 + 1e-9, 1.0), (0.3, 1.0), (1.0, 100.0), (2.0, 1.0)],
    "spot": [(0.3000001, 0.05), (0.30000005, 1.0), (0.5, 0.05), (0.5 + 1e-9, 1.0), (0.9, 10.0), (3.99, 1.0),
             (4.0, 1.0)],
    "law 5 knots": [(0.25, 1e-3), (1 - 1e-12, 0.05), (1.0, 1.0), (1 + 1e-12, 1e4), (1.2, 0.05)],
    "beyond the limb": [(0.6, 0.05), (1 + 1e-12, 1.0), (0.2, 1e4)],
}


def centroid_table_rows():
    return [{"table": name, "l": l, "rho": rho} for name, points in CENTROID_TABLE_POINTS.items() for l, rho in points]


def centroid_tables():
    return {name: (TABLES[name][0], TABLES[name][1]) for name in CENTROID_TABLE_POINTS}


# power_gradients.json: dJ_p/du and dJ_p/drho for the powers of the common laws (linear and
# quadratic 1, 2; square-root 1/2; power-2 with alpha = 0.7), from which every such law's gradient
# follows (J_0 = pi W has the disk's closed-form derivatives). The centre, inside, 1e-9 from the
# limb on both sides, outside, below and beyond the derivatives' far-field switch at l = 4; rho
# from 1e-3 to 100.
GRADIENT_POINTS = [
    (0.0, 0.05), (0.5, 0.05), (1 - 1e-9, 0.05), (1 + 1e-9, 0.05), (1.5, 0.05), (3.5, 0.05), (10.0, 0.05),
    (0.3, 1.0), (0.999, 1.0), (1.001, 1.0), (2.5, 1.0), (6.0, 1.0),
    (0.5, 1e-3), (1.2, 1e-3), (0.5, 100.0), (1.5, 100.0),
]
GRADIENT_POWERS = (0.5, 0.7, 1.0, 2.0)


def gradient_rows():
    return [{"l": l, "rho": rho, "p": p, "which": which} for l, rho in GRADIENT_POINTS for p in GRADIENT_POWERS
            for which in ("u", "rho")]


# table_gradients.json: flux maps' dA/du and dA/drho: the linear law on 5 knots, a map that ends
# inside the disk at both ends (jumps at 0.1 and 0.7) and one that runs beyond the limb (bright
# there); the lens away from the knots, 1e-9 from the limb on both sides, outside, below and beyond
# the derivatives' far-field switch at l = 8.
GRADIENT_TABLES = ["law 5 knots", "ends at 0.7", "beyond the limb"]
TABLE_GRADIENT_LS = [0.0, 0.3, 0.55, 1 - 1e-9, 1 + 1e-9, 1.5, 5.0, 12.0]


def table_gradient_rows():
    return [{"table": name, "l": l, "rho": rho, "which": which} for name in GRADIENT_TABLES for rho in (0.05, 1.0)
            for l in TABLE_GRADIENT_LS for which in ("u", "rho")]


FILES = {
    "power_integrals.json": dict(
        kind="power_integral", columns=["l", "rho", "p", "value"], rows=power_rows, tables=dict,
        method="mpmath tanh-sinh quadrature of 2πr·A_ring(l, r)·μ^p over [0, 1] split at r = l, the ring's width "
               "and toward the limb; A_ring by Carlson's RF and RJ at 34 digits with 1 − m and 1 − n from the geometry",
        precision=f"{INTEGRAL_DPS} digits (quadrature), 34 digits (integrand); stored to 25 significant digits",
        tolerance=1e-16),
    "flux_map_integrals.json": dict(
        kind="table", columns=["table", "l", "rho", "value"], rows=table_rows,
        tables=lambda: {name: (bl, bf) for name, (bl, bf, _) in TABLES.items()},
        method="as power_integrals.json, the profile read linearly between the knots (0 outside them), split at "
               "the knots too; over the exact normaliser (rational arithmetic on the given doubles)",
        precision=f"{INTEGRAL_DPS} digits (quadrature), 34 digits (integrand); stored to 25 significant digits",
        tolerance=1e-16),
    "many_knot_tables.json": dict(
        kind="adaptive_table", columns=["table", "l", "rho", "value"], rows=many_knot_rows, tables=many_knot_tables,
        method="per table segment: mpmath tanh-sinh (12 digits, Carlson ring at 34) within the segment's width of "
               "the lens, SciPy QUADPACK (epsrel 1e-13) with SciPy's Carlson RF/RJ ring elsewhere; exact normaliser",
        precision="about 1e-13 relative; stored to 20 significant digits",
        tolerance=1e-13),
    "peaked_powers.json": dict(
        kind="peaked_power", columns=["l", "rho", "p", "value"], rows=peaked_rows, tables=dict,
        method="the magnification of μ^p alone: as power_integrals.json, split also at multiples of the peak's "
               "width 1/√p, at 30 digits (μ^p multiplies the relative error of μ by p), over N = 2π/(p + 2)",
        precision="30 digits (quadrature), 34 digits (integrand); stored to 25 significant digits",
        tolerance=1e-16),
    "disk_centroid_shifts.json": dict(
        kind="disk_centroid_shift", columns=["l", "rho", "value"], rows=centroid_rows, tables=dict,
        method="N/M − u from two boundary integrals (divergence theorem: N = ρ∫h(s)cos θ dθ, h' = g, and "
               "M = ρ∫Φ'(s)(ρ + u cos θ)/s dθ, ΔΦ = A) by mpmath tanh-sinh split at θ = π/2 and π",
        precision="60 digits; stored to 25 significant digits",
        tolerance=1e-16),
    "power_gradients.json": dict(
        kind="power_gradient", columns=["l", "rho", "p", "which", "value"], rows=gradient_rows, tables=dict,
        method="five-point central differences (step 1e-3 of the scale on which J_p varies) of J_p as in "
               "power_integrals.json, in u = l*rho at fixed rho or in rho at fixed u",
        precision="about 1e-13 relative (truncation ~3e-14, quadrature 1e-19 times 1e3); stored to 25 significant "
                  "digits",
        tolerance=1e-12),
    "table_gradients.json": dict(
        kind="table_gradient", columns=["table", "l", "rho", "which", "value"], rows=table_gradient_rows,
        tables=lambda: {name: TABLES[name][:2] for name in GRADIENT_TABLES},
        method="five-point central differences (step 1e-3 of the scale on which the value varies, knots included) "
               "of the flux maps' values as in flux_map_integrals.json, in u = l*rho at fixed rho or in rho at fixed u",
        precision="about 1e-13 relative; stored to 25 significant digits",
        tolerance=1e-12),
    "flux_map_centroid_shifts.json": dict(
        kind="flux_map_centroid_shift", columns=["table", "l", "rho", "value"], rows=centroid_table_rows,
        tables=centroid_tables,
        method="mpmath tanh-sinh quadrature of 2πr·Z(l, r)·P(r) over [0, 1] split at the knots as "
               "flux_map_integrals.json, Z the ring's centroid-shift numerator by tanh-sinh in the Legendre "
               "variable at 30 digits, over the same of the ring magnification (Carlson's form)",
        precision=f"{INTEGRAL_DPS} digits (quadrature), 30 digits (integrand); stored to 25 significant digits",
        tolerance=1e-15),
    "centroid_power_integrals.json": dict(
        kind="centroid_power_integral", columns=["l", "rho", "p", "value"], rows=centroid_power_rows, tables=dict,
        method="mpmath tanh-sinh quadrature of 2πr·Z(l, r)·μ^p over [0, 1] split as power_integrals.json; Z the "
               "ring's centroid-shift numerator by tanh-sinh in the Legendre variable at 30 digits (checked against "
               "the plain mean around the ring); Z_0 = J_0 times the uniform disk's shift (boundary integrals)",
        precision=f"{INTEGRAL_DPS} digits (quadrature), 30 digits (integrand); stored to 25 significant digits",
        tolerance=1e-15),
}


def _compute(job):
    kind, row, tables = job
    with mp.workdps(30):
        return mp.nstr(RECOMPUTE[kind](row, tables), 25, strip_zeros=False)


def _stored(name, recipe):
    """{inputs: stored value} of the file as it is (empty if there is none)."""
    path = DATA / name
    if not path.exists():
        return {}
    data = json.loads(path.read_text())
    return {tuple(entry[:-1]): entry[-1] for entry in data["rows"]} if data["columns"] == recipe["columns"] else {}


def write(name, recipe, jobs, keep=False):
    tables = {k: (list(bl), list(bf)) for k, (bl, bf) in recipe["tables"]().items()}
    rows = recipe["rows"]()
    start = time.perf_counter()
    # With keep, rows whose inputs are stored already keep their value (the same inputs give the same
    # value; tests/test_reference_data.py recomputes a sample of every row each run).
    stored = _stored(name, recipe) if keep and not recipe["tables"]() else {}
    key = lambda row: tuple(row[c] for c in recipe["columns"][:-1])
    todo = [row for row in rows if key(row) not in stored]
    with multiprocessing.Pool(jobs) as pool:
        fresh = pool.map(_compute, [(recipe["kind"], row, tables) for row in todo], chunksize=1)
    stored.update({key(row): v for row, v in zip(todo, fresh)})
    values = [stored[key(row)] for row in rows]
    out = {
        "generator": "python scripts/make_references.py",
        "kind": recipe["kind"],
        "method": recipe["method"],
        "precision": recipe["precision"],
        "tolerance": recipe["tolerance"],  # how closely a recomputation must reproduce a stored value
        "tables": {k: {"bl": bl, "bf": bf} for k, (bl, bf) in tables.items()},
        "columns": recipe["columns"],
        "rows": [[row[c] for c in recipe["columns"][:-1]] + [v] for row, v in zip(rows, values)],
    }
    if not out["tables"]:
        del out["tables"]
    (DATA / name).write_text(json.dumps(out, indent=None, separators=(",", ":")).replace("],[", "],\n[") + "\n")
    print(f"{name}: {len(rows)} rows in {time.perf_counter() - start:.0f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument("--only", choices=sorted(FILES), action="append", help="write only this file")
    parser.add_argument("--keep", action="store_true",
                        help="keep the stored value of rows whose inputs are stored already (files without tables)")
    args = parser.parse_args()
    for name in args.only or FILES:
        write(name, FILES[name], args.jobs, args.keep)


if __name__ == "__main__":
    main()
