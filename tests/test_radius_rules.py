"""The radius integrals' Gauss rules against mpmath over the whole domain, and proof that the test
points see a weakened rule.

The references (tests/data/, written by scripts/make_references.py, which says why each point is
there) integrate the ring magnification (Carlson's form at 34 digits) with mpmath's tanh-sinh rule,
split at r = l, the knots and the ring's width; the law's are exactly normalised (0.8π itself).
The functions use Gauss–Legendre with a-priori node counts, Gauss–Jacobi in r² for the law just
outside the source, the law's uniform part in closed form, and a far-field series from l = 3 (the
law) and 4 (tables).
"""
import math
from collections import defaultdict

import numpy as np
import pytest

import velmora
from _kernels import load
from _references import exact_normaliser, load_data, mp, stored_law
from _support import assert_all_ok, rel_err

kern = load()

LAW_TOL = 1e-12
TABLE_TOL = 1e-11
RING, DISK = 0, 1  # the law's routes in integrated_with_rule; 2, 3 are the tables'

LAW_POINTS = sorted({(row["l"], row["rho"]) for row in load_data("power_integrals.json")[2]})


def law_errors(exponent=None, points=LAW_POINTS):
    """Every law point's error on both routes, worst first, for the shipped rule or a changed one."""
    out = []
    for l, rho in points:
        want = stored_law(l, rho)
        for route in (RING, DISK):
            got = kern.integrated_with_rule(route, [l], 1.0, rho, [], [], exponent, None)[0]
            out.append((rel_err(got, want), route, l, rho, got))
    return sorted(out, reverse=True)


def test_law_routes_against_mpmath():
    bad = [f"{'ring disk'.split()[route]} l={l!r} rho={rho:g}: {got!r} off by {e:.1e}"
           for e, route, l, rho, got in law_errors() if not e <= LAW_TOL]
    assert_all_ok(bad)


def test_public_functions_are_the_shipped_rule():
    ls = [l for l, _ in LAW_POINTS]
    for rho in (1e-3, 1.0):
        assert velmora.integrated_heyrovsky_magnification(ls, 1.0, rho) == kern.integrated_with_rule(
            RING, ls, 1.0, rho, [], [], None, None)
        assert velmora.integrated_witt_mao_magnification(ls, 1.0, rho) == kern.integrated_with_rule(
            DISK, ls, 1.0, rho, [], [], None, None)


def test_routes_agree_on_a_dense_sweep():
    # l in steps across the limb, the switch to the r² rule and the far-field switches; 1e-11 between
    # the two routes.
    ls = np.concatenate([np.linspace(0, 2, 201), 1 + np.geomspace(1e-13, 1e-2, 12), 1 - np.geomspace(1e-13, 1e-2, 12),
                         np.linspace(1.02, 1.04, 11), np.linspace(2.5, 4.5, 21), np.linspace(15.5, 16.5, 11)])
    bad = []
    for rho in (1e-4, 0.05, 1.0, 300.0):
        ring = velmora.integrated_heyrovsky_magnification(ls, 1.0, rho)
        disk = velmora.integrated_witt_mao_magnification(ls, 1.0, rho)
        bad += [f"l={l!r} rho={rho:g}: {a!r} vs {b!r}" for l, a, b in zip(ls, ring, disk)
                if not abs(a - b) <= 1e-11 * a]
    assert_all_ok(bad)


# The points where the r² rule serves (1.028 < l < 3): its smooth integrand needs fewer nodes, so
# only a rule cut harder shows there.
SQUARE_POINTS = [(l, rho) for l, rho in LAW_POINTS if 1.0285 < l < 3.0]


@pytest.mark.parametrize("exponent, points", [(26.0, LAW_POINTS), (30.0, LAW_POINTS), (20.0, SQUARE_POINTS)],
                         ids=["26 everywhere", "30 everywhere", "20 on the r² rule"])
def test_weakened_rule_fails(exponent, points):
    # Fewer nodes per panel (the shipped exponent is 40 for the law): some tested point must then be off by more
    # than the 1e-12 the test above allows. (The grading ratio changes only the cost: every panel's
    # count follows from its own ellipse.)
    worst = law_errors(exponent, points)[0]
    assert worst[0] > LAW_TOL, f"the tests cannot tell this rule from the shipped one: worst {worst}"


# --- flux maps ------------------------------------------------------------------------------------

def _by_table(name):
    _, tables, rows = load_data(name)
    cases = defaultdict(list)
    for row in rows:
        cases[row["table"], row["rho"]].append((row["l"], row["value"]))
    return tables, cases


TABLES, TABLE_CASES = _by_table("flux_map_integrals.json")


def route_errors(bl, bf, rho, points):
    ls = [l for l, _ in points]
    ring = velmora.integrated_flux_map_heyrovsky_magnification(ls, 1.0, rho, bl, bf)
    disk = velmora.integrated_flux_map_witt_mao_magnification(ls, 1.0, rho, bl, bf)
    return [(route, l, got, rel_err(got, want))
            for (l, want), a, b in zip(points, ring, disk) for route, got in (("ring", a), ("disk", b))]


@pytest.mark.parametrize("name, rho", sorted(TABLE_CASES), ids=[f"{n}-{r:g}" for n, r in sorted(TABLE_CASES)])
def test_tables_against_mpmath(name, rho):
    bad = [f"{route} l={l!r}: {got!r} off by {e:.1e}"
           for route, l, got, e in route_errors(*TABLES[name], rho, TABLE_CASES[name, rho]) if not e <= TABLE_TOL]
    assert_all_ok(bad)


MANY_TABLES, MANY_CASES = _by_table("many_knot_tables.json")


@pytest.mark.parametrize("name, rho", sorted(MANY_CASES), ids=[f"{n}-{r:g}" for n, r in sorted(MANY_CASES)])
def test_many_knot_tables_against_adaptive_quadrature(name, rho):
    # Table pieces away from the lens take a short fixed rule; the lens is put on a knot, just
    # beside one, between knots, at the centre, just outside the limb and far outside.
    bad = [f"{route} l={l!r}: {got!r} off by {e:.1e}"
           for route, l, got, e in route_errors(*MANY_TABLES[name], rho, MANY_CASES[name, rho]) if not e <= TABLE_TOL]
    assert_all_ok(bad)


def test_table_with_a_weakened_rule_fails():
    bl, bf = TABLES["spot"]
    points = TABLE_CASES["spot", 1.0]
    got = kern.integrated_with_rule(2, [l for l, _ in points], 1.0, 1.0, bl, bf, 14.0, None)
    assert max(rel_err(g, w) for g, (_, w) in zip(got, points)) > TABLE_TOL


def _random_table(n, seed, lo=0.0, hi=1.0):
    rng = np.random.default_rng(seed)
    return list(np.sort(rng.uniform(lo, hi, n))), list(rng.uniform(0.1, 3.0, n))


def _knots_law(x):
    x = np.asarray(x)
    return list(x), list(1 - 0.6 * (1 - np.sqrt(1 - x * x)))


NORMALISER_TABLES = [
    ("two knots", [0.0, 0.7], [1.0, 0.5]),
    ("11 uniform", *_knots_law(np.linspace(0, 1, 11))),
    ("1000 uniform", *_knots_law(np.linspace(0, 1, 1000))),
    ("1000 clustered", *_knots_law(np.sin(np.linspace(0, math.pi / 2, 1000)))),
    ("1000 random", *_random_table(1000, 5)),
    ("beyond the disk", *_random_table(50, 6, -0.5, 1.5)),
    ("spot", *TABLES["spot"]),
]


@pytest.mark.parametrize("name, bl, bf", NORMALISER_TABLES, ids=[t[0] for t in NORMALISER_TABLES])
def test_flux_map_normaliser_against_exact_rationals(name, bl, bf):
    want = exact_normaliser(bl, bf)
    got = kern.flux_map_normaliser(bl, bf)
    assert rel_err(got, want) <= 1e-14, f"{name}: {got!r} against {mp.nstr(want, 20)}"


@pytest.mark.parametrize("f, a, b, points, end, want", [
    # a logarithm at the flagged end: ∫₀¹ log x dx = −1
    (lambda x: math.log(x) if x > 0 else 0.0, 0.0, 1.0, [], 1, -1.0),
    # the same at the other end, with a pole pair 1e-6 off the far end
    (lambda x: (math.log(1 - x) if x < 1 else 0.0) + 1 / ((x + 1e-6)**2 + 1e-12), 0.0, 1.0, [complex(-1e-6, 1e-6)], 2,
     -1.0 + (math.atan((1 + 1e-6) / 1e-6) - math.atan(1.0)) / 1e-6),
    # poles at ±1e-9 i next to an interior point, graded from both sides (at 0, where the nodes'
    # rounding is relative to their distance from the pole)
    (lambda x: 1e-9 / (x * x + 1e-18), -0.3, 0.7, [1e-9j], 0, math.atan(0.7e9) + math.atan(0.3e9)),
])
def test_graded_gauss_kernel(f, a, b, points, end, want):
    got = kern.graded_gauss(f, a, b, points, end, 38.0, 0.25)
    assert abs(got - want) <= 1e-13 * abs(want), (got, want)
    # with the singular point withheld, the rule cannot see it and must miss
    if points:
        assert abs(kern.graded_gauss(f, a, b, [], end, 38.0, 0.25) - want) > 1e-6 * abs(want)


def test_mapped_panel_sees_the_principal_sixth_root():
    # A mapped panel x = e + w·s⁶ sees a singular point t (in units of w from e) at t^(1/6): its
    # ellipse parameter, taken without complex logarithms, against mpmath's principal root, over
    # every direction (the branch cut included) and 1e-12 to 1e12 in size.
    rng = np.random.default_rng(11)
    sizes = 10.0 ** rng.uniform(-12, 12, 400)
    angles = np.concatenate([rng.uniform(-math.pi, math.pi, 394), [0.0, math.pi, -math.pi / 2, math.pi / 2, 1e-9, -1e-9]])
    bad = []
    for size, angle in zip(sizes, angles):
        t = complex(size * math.cos(angle), size * math.sin(angle))
        root = mp.root(mp.mpc(t), 6)
        want = abs(root) + abs(root - 1)  # half the distance sum to the foci of [0, 1], over its half width
        got = kern.sixth_root_bernstein_s(t)
        if not abs(got - want) <= 1e-13 * want:
            bad.append(f"t={t!r}: {got!r}, want {mp.nstr(want, 17)}")
    assert_all_ok(bad)


_LAW_41 = _knots_law(np.linspace(0, 1, 41))
FLOORED = {  # the four integrated functions: (public function, its flux map or None)
    "integrated_heyrovsky_magnification": None,
    "integrated_witt_mao_magnification": None,
    "integrated_flux_map_heyrovsky_magnification": _LAW_41,
    "integrated_flux_map_witt_mao_magnification": _LAW_41,
}


@pytest.mark.parametrize("name", [*FLOORED, "uniform map"])
def test_floor_at_one_lifts_only_rounding(name):
    # Over the physical domain, through every switch of rule, the value before the floor at 1 is
    # finite and at most 4e-16 below 1 (the far field's μ_0/N rounds 3e-16 below 1 by itself), and
    # the public value is that value, or exactly 1 where it fell below. A route that lost accuracy
    # next to 1 would show below the bound, which the floor alone would hide.
    fn, table = (name, FLOORED[name]) if name in FLOORED else (
        "integrated_flux_map_heyrovsky_magnification", ([0.0], [2.0]))
    ls = list(np.concatenate([[0.0, 1e-300, 1 - 1e-13, 1.0, 1 + 1e-13, 1.028, 3.0, 4.0, 16.0, 1e8],
                              np.geomspace(1e-6, 1e8, 60)]))
    bad = []
    for rho in np.geomspace(1e-6, 1e4, 11):
        raw = kern.integrated_unfloored(fn, ls, 1.0, rho, *(table or ((), ())))
        public = getattr(velmora, fn)(ls, 1.0, rho, *table) if table else getattr(velmora, fn)(ls, 1.0, rho)
        bad += [f"rho={rho:g} l={l!r}: {m!r} before the floor, {p!r} after" for l, m, p in zip(ls, raw, public)
                if not (math.isfinite(m) and m >= 1 - 4e-16 and p == max(m, 1.0))]
    assert_all_ok(bad)
