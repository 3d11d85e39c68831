"""Numerical kernels (tanh-sinh quadrature, central difference, linear interpolation), checked
through the private _velmora_kernels extension against mpmath, numpy and closed forms."""
import bisect
import math

import mpmath
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _kernels import load

K = load()

EPS = 2.0**-52
COUNTS = {25, 49, 97, 193, 385}
NODES = K.tanh_sinh_nodes()
X_MAX = max(x for level in NODES for _, x in level)


def check(bad, what):
    assert not bad, f"{len(bad)} bad {what}:\n" + "\n".join(map(str, bad))


def pair(expr):  # the integrand in floats, and in mpmath for the reference
    return eval("lambda x: " + expr, vars(math)), eval("lambda x: " + expr, vars(mpmath))


def counted(f):
    calls = []
    return (lambda x: calls.append(x) or f(x)), calls


# ---------------------------------------------------------------- quadrature: node table
def test_node_table_matches_mpmath():
    assert [len(level) for level in NODES] == [3, 3, 6, 12, 24, 48, 96]
    assert NODES[0][0] == (0.23002239451478868, 0.9513679640727469)
    assert NODES[6][0] == (0.024531906707493643, 0.02453976357464916)
    assert X_MAX == 0.999999999999957
    bad = []
    with mpmath.workdps(50):
        for level, nodes in enumerate(NODES):
            h = mpmath.mpf(2) ** -level
            ts = [1, 2, 3] if level == 0 else [(2 * k - 1) * h for k in range(1, 3 * 2 ** (level - 1) + 1)]
            for (w, x), t in zip(nodes, ts):
                s = mpmath.pi / 2 * mpmath.sinh(t)
                want_w, want_x = h * mpmath.pi / 2 * mpmath.cosh(t) / mpmath.cosh(s) ** 2, mpmath.tanh(s)
                for name, got, want in (("w", w, want_w), ("x", x, want_x)):
                    rel = float(abs((got - want) / want))
                    if rel > 2.3e-16:
                        bad.append((level, float(t), name, got, float(want), rel))
    check(bad, "nodes")


# ---------------------------------------------------------------- quadrature: results
@pytest.mark.parametrize("expr, a, b, target, tol", [
    ("1.0", 0.0, 1.0, 1e-12, 1e-13),
    ("x**3 - 2*x + 1", -1.0, 2.0, 1e-12, 1e-12),
    ("x**6", 0.0, 1.0, 1e-12, 1e-12),
    ("exp(x)", 0.0, 1.0, 1e-12, 1e-12),
    ("exp(-x)*sin(3*x)", -2.0, 5.0, 1e-12, 1e-11),
    ("sin(x)", 0.0, 3.0, 1e-12, 1e-12),
    ("1/(1+x*x)", -1.0, 1.0, 1e-12, 1e-12),
    # log's tail below the smallest point (x < ~2e-14) holds ~eps·log(eps) ≈ 7e-13, which is lost
    ("log(x) if x > 0 else -inf", 0.0, 1.0, 1e-12, 1e-12),
])
def test_known_integrals(expr, a, b, target, tol):
    f, g = pair(expr)
    got, _, n = K.integrate(f, a, b, target)
    want = float(mpmath.quad(g, [a, b]))
    assert abs(got - want) <= tol * max(1.0, abs(want)), (got, want, got - want, n)


@pytest.mark.parametrize("expr", ["1/sqrt(1-x) if x < 1 else inf", "1/sqrt(x) if x > 0 else inf"])
def test_inverse_sqrt_endpoint_loses_only_the_tail(expr):
    # The ladder stops at t = 3 (largest abscissa 1 - 4.3e-14), so everything within
    # c·4.3e-14 ≈ 2e-14 of the singular end is dropped; for 1/√ that strip holds 2√(2e-14) ≈ 2.6e-7.
    got, _, _ = K.integrate(pair(expr)[0], 0.0, 1.0, 1e-10)
    assert 1e-7 < 2.0 - got < 3e-7, 2.0 - got


def test_tight_target_reaches_the_ladder_limit():
    # At target 1e-16 a smooth integrand is exact to rounding except for the two end strips the
    # ladder leaves out (beyond t = 3, within c·4.3e-14 of each end): at most c·(|f(a)| + |f(b)|)·4e-14.
    bad = []
    for expr in ("sin(pi*x)", "(x*(1-x))**2", "1.0", "exp(x)", "cos(x)", "x**4"):
        f, g = pair(expr)
        got, _, n = K.integrate(f, 0.0, 1.0, 1e-16)
        want = float(mpmath.quad(g, [0, 1]))
        allowed = 2e-16 * max(1.0, abs(want)) + 0.5 * (abs(f(0.0)) + abs(f(1.0))) * 4e-14
        if abs(got - want) > allowed:
            bad.append((expr, got, want, got - want, n))
    check(bad, "integrals at target 1e-16 on [0, 1]")


@pytest.mark.parametrize("expr, a, b, target, allowed", [
    ("1.0", 0.0, 1.0, 1e-10, {25, 49}),
    ("3.0", -5.0, 7.0, 1e-10, {25, 49}),
    ("x*x", 0.0, 1.0, 1e-10, {25, 49}),
    ("abs(x - 1/3)", 0.0, 1.0, 1e-12, {385}),
    ("cos(100*x)", 0.0, 1.0, 1e-12, {385}),
    ("exp(x)", 0.0, 1.0, 1e-6, COUNTS),
    ("sin(x)", 0.0, 3.0, 1e-12, COUNTS),
    ("x**5", 0.0, 1.0, 1e-10, COUNTS),
])
def test_evaluation_counts(expr, a, b, target, allowed):
    f, calls = counted(pair(expr)[0])
    _, _, n = K.integrate(f, a, b, target)
    assert n == len(calls) and n in allowed, (n, len(calls), allowed)


@pytest.mark.parametrize("expr", ["exp(x)", "1.0", "x**3 - x", "1/(1+x*x)"])
def test_reversed_interval_negates_and_never_converges(expr):
    f, calls = counted(pair(expr)[0])
    forward, _, _ = K.integrate(f, 0.0, 2.0, 1e-10)
    calls.clear()
    backward, _, n = K.integrate(f, 2.0, 0.0, 1e-10)
    assert n == len(calls) == 385  # the tolerance 0.25·target/c is negative
    assert abs(backward + forward) <= 1e-12 * max(1.0, abs(forward)), (forward, backward)


@pytest.mark.parametrize("value", [0.0, math.nan, math.inf])
def test_zero_change_stops_at_first_test_even_reversed(value):
    for a, b in ((0.0, 1.0), (1.0, 0.0)):
        got, err, n = K.integrate(lambda x: value, a, b, 1e-10)
        assert (got, err, n) == (0.0, 0.0, 25), (value, a, b, got, err, n)


def test_empty_interval():
    assert K.integrate(math.exp, 2.0, 2.0, 1e-10)[0] == K.integrate(math.exp, 2.0, 2.0, 0.0)[0] == 0.0


def test_non_finite_endpoint_values_count_as_zero():
    # On [1000, 1001] the outermost points d ± c·x_max round onto a and b themselves.
    a, b = 1000.0, 1001.0
    f, calls = counted(lambda x: math.nan if x == a else (math.inf if x == b else 1.0))
    got, _, _ = K.integrate(f, a, b, 1e-12)
    assert a in calls and b in calls
    assert abs(got - 1.0) < 1e-12, got


def test_points_are_symmetric_about_the_midpoint_and_inside():
    a, b = -1.0, 3.0
    c, d = (b - a) / 2, (a + b) / 2
    f, calls = counted(math.exp)
    K.integrate(f, a, b, 0.0)
    want = [d] + [v for level in NODES for _, x in level for v in (c * x + d, -c * x + d)]
    assert len(calls) == len(want) == 385
    bad = [(i, got, w) for i, (got, w) in enumerate(zip(calls, want)) if abs(got - w) > 4 * EPS * 3]
    bad += [(i, p, "outside") for i, p in enumerate(calls) if not a < p < b]
    check(bad, "evaluation points")


# ---------------------------------------------------------------- central difference
def test_cbrt_eps():
    assert K.cbrt_eps() == 6.0554544523933395e-06 == float(mpmath.cbrt(mpmath.mpf(2) ** -52))  # math.cbrt: 3.11+


@pytest.mark.parametrize("x, step, h", [
    (0.0, None, 6.0554544523933395e-06), (1000.0, None, 1001 * 6.0554544523933395e-06),
    (-3.5, None, 4.5 * 6.0554544523933395e-06), (2.0, 1e-3, 3e-3), (0.0, 0.25, 0.25),
])
def test_derivative_evaluation_points(x, step, h):
    f, calls = counted(lambda t: t)
    K.sderivative(f, x, step)
    assert calls == [x + h, x - h]  # forward point first


def test_linear_functions_give_their_slope():
    bad = []
    for slope, icpt in ((3.0, 2.0), (-0.5, 7.0), (1e3, -1e-3)):
        for x in (0.0, -3.5, 1000.0, 1e-8):
            h = (abs(x) + 1.0) * K.cbrt_eps()
            got = K.sderivative(lambda t: slope * t + icpt, x)
            tol = 4 * EPS * (abs(slope) * (abs(x) + h) + abs(icpt)) / h  # rounding of f, amplified by 1/2h
            if abs(got - slope) > tol:
                bad.append((slope, icpt, x, got, got - slope, tol))
    check(bad, "slopes")


def test_smooth_derivatives_match_closed_forms():
    cases = [(math.sin, math.cos), (math.exp, math.exp), (lambda t: t**3, lambda t: 3 * t * t)]
    bad = [(i, x, got, want, got / want - 1)
           for i, (f, df) in enumerate(cases) for x in (-2.0, -0.7, 1.2, 1.7, 2.5)
           for got, want in [(K.sderivative(f, x), df(x))] if abs(got / want - 1) > 1e-10]
    check(bad, "derivatives")


def test_explicit_step_is_used():
    # For a cubic the central difference is exactly 3x² + h², so h = 2·1e-3 shows up clearly.
    got = K.sderivative(lambda t: t**3, 1.0, 1e-3)
    assert abs(got - (3.0 + 4e-6)) < 1e-12, got


@pytest.mark.parametrize("fails_at", ["left", "right", "both"])
def test_failed_evaluation_gives_nan(fails_at):
    def f(t):
        side = "right" if t > 1.0 else "left"
        return None if fails_at in (side, "both") else t * t
    assert math.isnan(K.sderivative(f, 1.0, None, True))
    assert abs(K.sderivative(lambda t: t * t, 1.0, None, True) - 2.0) < 1e-9


# ---------------------------------------------------------------- linear interpolation
T3 = ([0.0, 1.0, 2.0], [0.0, 10.0, 40.0])
MODES = ("linear", "clamp", "fill")


@pytest.mark.parametrize("xs, ys, fill, cases", [  # a fill value never applies to 0 or 1 knots
    ([], [], -3.0, {(x, m): 0.0 for x in (-1.0, 0.0, 5.0) for m in MODES}),
    ([3.0], [], -3.0, {(x, m): 0.0 for x in (-1.0, 3.0) for m in MODES}),
    ([3.0], [7.0], -3.0, {(x, m): 7.0 for x in (-1.0, 3.0, 9.0) for m in MODES}),
    ([3.0, 4.0], [7.0], -3.0, {(x, m): 7.0 for x in (-1.0, 3.5, 9.0) for m in MODES}),
    (*T3, 0.0, {**{(x, m): v for x, v in ((0.5, 5.0), (1.0, 10.0), (1.5, 25.0), (0.0, 0.0), (2.0, 40.0)) for m in MODES},
           (3.0, "fill"): 0.0, (-1.0, "fill"): 0.0, (3.0, "linear"): 70.0, (-1.0, "linear"): -10.0,
           (3.0, "clamp"): 40.0, (-1.0, "clamp"): 0.0}),
    # A 4th x without a y: the table still ends at 2 (clamp/fill), and beyond it the line of the
    # last real segment [1, 2] is used, even where the scan passes x = 3.
    ([0.0, 1.0, 2.0, 3.0], T3[1], 0.0, {(2.5, "linear"): 55.0, (3.5, "linear"): 85.0, (2.5, "clamp"): 40.0,
                                   (2.5, "fill"): 0.0, (1.5, "fill"): 25.0}),
    (T3[0], T3[1] + [1e3], 0.0, {(2.5, "linear"): 55.0, (2.5, "clamp"): 40.0, (2.5, "fill"): 0.0}),
])
def test_interp_table(xs, ys, fill, cases):
    bad = [(x, m, got, want) for (x, m), want in cases.items()
           for got in [K.interp(xs, ys, x, m, fill)] if got != want]
    check(bad, "interpolated values")


@pytest.mark.parametrize("xs, ys, x, modes", [
    ([0.0, 0.0, 1.0], [5.0, 6.0, 7.0], 0.0, MODES),  # x = 0 picks the zero-width first segment
    ([0.0, 0.0, 1.0], [5.0, 6.0, 7.0], -1.0, ("linear",)),
    ([0.0, 1.0, 1.0], [5.0, 6.0, 7.0], 2.0, ("linear",)),
    (*T3, math.nan, MODES),
])
def test_interp_non_finite(xs, ys, x, modes):
    got = {m: K.interp(xs, ys, x, m) for m in modes}
    assert all(not math.isfinite(v) for v in got.values()), got


def neighbours(xs, ys, x):
    """Index j of the knots around x, and a rounding allowance for the segment's line: it is
    evaluated as s·x + (y_j − s·x_j), so the error scales with those terms, not just with y."""
    j = min(max(bisect.bisect_left(xs, x) - 1, 0), len(xs) - 2)
    s = (ys[j + 1] - ys[j]) / (xs[j + 1] - xs[j])
    return j, 2 * EPS * (abs(ys[j]) + abs(s * x) + abs(s * xs[j]))


@pytest.mark.parametrize("seed", [1, 2])
def test_interp_matches_numpy_inside(seed):
    rng = np.random.default_rng(seed)
    xs = np.sort(rng.uniform(-3.0, 5.0, 40)) if seed == 1 else np.cumsum(rng.uniform(0.05, 1.0, 30)) - 4.0
    ys = rng.normal(0.0, 2.0, len(xs))
    bad = []
    for x in np.concatenate([rng.uniform(xs[0], xs[-1], 400), xs]):
        tol = neighbours(xs, ys, x)[1]
        got, want = K.interp(list(xs), list(ys), float(x), "linear"), np.interp(x, xs, ys)
        if abs(got - want) > tol:
            bad.append((float(x), got, float(want), got - want, tol))
    check(bad, "points")


@settings(max_examples=200, deadline=None, derandomize=True, database=None)
@given(st.lists(st.floats(0.01, 10.0), min_size=1, max_size=12), st.floats(-100.0, 100.0),
       st.lists(st.floats(-1e3, 1e3), min_size=13, max_size=13), st.floats(0.0, 1.0), st.sampled_from(MODES))
def test_interp_stays_between_neighbours(gaps, x0, ys, u, mode):
    xs = [float(v) for v in np.cumsum([x0] + gaps)]
    ys = ys[: len(xs)]
    x = min(xs[0] + u * (xs[-1] - xs[0]), xs[-1])
    j, tol = neighbours(xs, ys, x)
    got = K.interp(xs, ys, x, mode)
    assert min(ys[j], ys[j + 1]) - tol <= got <= max(ys[j], ys[j + 1]) + tol, (xs, ys, x, got, tol)


def test_gauss_legendre_nodes_are_nearest_doubles():
    # Each abscissa is the nearest double to a root of P10, each weight to 2/((1 - x^2) P10'(x)^2).
    bad = []
    with mpmath.workdps(40):
        for x, w in K.gauss_legendre_nodes():
            root = mpmath.findroot(lambda t: mpmath.legendre(10, t), mpmath.mpf(x))
            weight = 2 / ((1 - root**2) * mpmath.diff(lambda t: mpmath.legendre(10, t), root) ** 2)
            for got, want in ((x, root), (w, weight)):
                if got != float(want):
                    bad.append((got, mpmath.nstr(want, 20)))
    assert not bad, bad
    assert len(K.gauss_legendre_nodes()) == 5


@pytest.mark.parametrize("a, b", [(0.0, 1.0), (-2.0, 3.0), (0.25, 0.2500001), (1.0, 0.0)])
def test_gauss_legendre_is_exact_to_degree_19(a, b):
    # x^k for k ≤ 19 integrates to rounding; x^20 does not (the rule's degree ends at 19).
    bad = []
    for k in range(20):
        with mpmath.workdps(50):
            exact = float((mpmath.mpf(b) ** (k + 1) - mpmath.mpf(a) ** (k + 1)) / (k + 1))
        got = K.gauss_legendre(lambda x: x**k, a, b)
        scale = max(abs(b), abs(a)) ** k * abs(b - a)  # nodes rounded to 1 ulp move x^k by k ulps
        if abs(got - exact) > 4 * (k + 2) * 2.0**-52 * scale:
            bad.append((k, got, exact))
    assert not bad, bad
    exact20 = (1 - 0) / 21
    assert abs(K.gauss_legendre(lambda x: x**20, 0.0, 1.0) - exact20) > 1e-12
