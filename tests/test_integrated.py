"""Limb-darkened and flux-map sources integrated over radius, checked against mpmath.

`l` (lens from source centre) and `r` (ring radius) are in source radii, rho = rstar/re. The reference
integrates mpmath's elliptic form of the ring magnification over r; that form is checked against the
plain ring average, and the chain against a 2-D integral of the point-lens magnification.
"""
import bisect
import functools
import math

import mpmath as mp
import pytest

import velmora
from _references import point_lens
from _support import assert_all_ok, panic_text, rel_err

RE = 4.0  # any unit: only rstar/re enters (a power of two keeps rstar/re exact)
LAW_N = 0.8 * mp.pi  # exact ∫₀¹ 2πr I(r) dr of the fixed law
DISK_TOL = 1e-6  # disk route against the reference, and against the ring route
RING_TOL = 1e-9  # ring route against the reference, at every lens position


def ring_mp(l, r, re, rstar):
    # the nodes come within 1e-20 of r = l: raise the working precision
    with mp.workdps(2 * mp.mp.dps + 10):
        l = mp.mpf(l); r = mp.mpf(r); eps = mp.mpf(re) / mp.mpf(rstar); f = r - l
        D = 4 * eps**2 + f**2
        if l == 0:
            return point_lens(r / eps, dps=None)
        if f == 0:
            # The lens on the ring: the magnification is +inf (Π's characteristic n is 1, where
            # mpmath 1.3 returns inf and 1.4 raises), and the callers give such a node no weight.
            return mp.inf
        m = 16 * eps**2 * l * r / ((l + r)**2 * D); n = 4 * l * r / (l + r)**2
        return mp.re(2 * eps**2 * mp.ellipk(m) + f**2 * mp.ellippi(n, m)) * 4 / ((l + r) * mp.sqrt(D)) / (2 * mp.pi)


def ring_plain(l, r, rho):
    """(1/pi) ∫₀^pi A(rho·dist) dphi; the peak at phi = 0 has width ~|r - l|/sqrt(l r)."""
    l, r = mp.mpf(l), mp.mpf(r)
    w = abs(r - l) / mp.sqrt(l * r)
    pts = [mp.mpf(0)] + [w * 10**j for j in range(-1, 6) if w * 10**j < mp.pi] + [mp.pi]
    u = lambda p: rho * mp.sqrt((r - l)**2 + 2 * l * r * (1 - mp.cos(p)))
    return mp.quad(lambda p: point_lens(u(p), dps=None), pts) / mp.pi


def law(r):
    return 1 - mp.mpf(0.6) * (1 - mp.sqrt(1 - r * r))


def table(bl, bf):
    """Linear interpolation of the table, 0 outside it; one knot is constant everywhere."""
    def profile(r):
        if len(bl) == 1:
            return mp.mpf(bf[0])
        if r < bl[0] or r > bl[-1]:
            return mp.mpf(0)
        i = min(bisect.bisect_right(bl, r) - 1, len(bl) - 2)
        return bf[i] + (r - bl[i]) / (mp.mpf(bl[i + 1]) - bl[i]) * (mp.mpf(bf[i + 1]) - bf[i])
    return profile


@functools.lru_cache(maxsize=None)
def reference(l, rho, bl=None, bf=None):
    profile = law if bl is None else table(bl, bf)
    knots = {mp.mpf(k) for k in (bl or ()) if 0 < k < 1} | {mp.mpf(0), mp.mpf(1)}
    def integrand(r):
        a = ring_mp(l, r, 1, rho)
        # a node that rounds onto r = l sees the lens on the ring (+inf): it gets no weight
        return 2 * mp.pi * r * a * profile(r) if mp.isfinite(a) else 0
    with mp.workdps(17):
        num = mp.quad(integrand, sorted(knots | ({mp.mpf(l)} if 0 < l < 1 else set())))
        return num / mp.quad(lambda r: 2 * mp.pi * r * profile(r), sorted(knots))


def collect(bad, label, got, ref, tol):
    err = rel_err(got, ref, dps=None)
    if not err <= tol:  # NaN fails too
        bad.append(f"{label}: got {got!r}, want {mp.nstr(ref, 15)}, rel err {err:.2e} > {tol:.0e}")


def routes(ls, rho, bl=None, bf=None, re=RE):
    """(ring route, disk route) at rstar = rho·re."""
    if bl is None:
        return (velmora.integrated_heyrovsky_magnification(ls, re, re * rho),
                velmora.integrated_witt_mao_magnification(ls, re, re * rho))
    return tuple(f(ls, re, re * rho, list(bl), list(bf)) for f in (
        velmora.integrated_flux_map_heyrovsky_magnification, velmora.integrated_flux_map_witt_mao_magnification))


def check_routes(ls, rho, bl=None, bf=None):
    ring, disk = routes(ls, rho, bl, bf)
    assert len(ring) == len(disk) == len(ls)
    bad = []
    for l, a, b in zip(ls, ring, disk):
        ref = reference(l, rho, bl, bf)
        collect(bad, f"ring rho={rho} l={l}", a, ref, RING_TOL)
        collect(bad, f"disk rho={rho} l={l}", b, ref, DISK_TOL)
        collect(bad, f"disk vs ring rho={rho} l={l}", b, mp.mpf(a), DISK_TOL)
    assert_all_ok(bad)


# --- references -------------------------------------------------------------------------------

@pytest.mark.parametrize("l,r,rho", [(0.5, 0.3, 0.05), (0.9, 1.0, 1.0), (1.5, 0.7, 10.0), (0.5, 0.50001, 0.05)])
def test_elliptic_reference_is_ring_average(l, r, rho):
    with mp.workdps(25):
        assert rel_err(ring_mp(l, r, 1, rho), ring_plain(l, r, rho), dps=None) <= 1e-18


@pytest.mark.slow  # an accuracy table: left out on the extra interpreters of scripts/test_versions
@pytest.mark.parametrize("l,rho", [(0.5, 0.05), (1.5, 1.0)])
def test_reference_is_point_lens_over_disk(l, rho):
    # polar about the source centre, weighted by the law; split at the lens radius
    with mp.workdps(10):
        pieces = [0, l, 1] if l < 1 else [0, 1]
        brute = mp.quad(lambda r: 2 * mp.pi * r * law(r) * ring_plain(l, r, rho), pieces) / LAW_N
        assert rel_err(reference(l, rho), brute, dps=None) <= 1e-6
    bad = []
    for name, got in zip(("ring", "disk"), routes([l], rho)):
        collect(bad, f"{name} rho={rho} l={l}", got[0], brute, 1e-6)
    assert_all_ok(bad)


# --- fixed limb-darkening law -----------------------------------------------------------------

# Small offsets (1e-9 … 1e-4) put the lens near the centre, where every small ring passes close to it.
LAW_POINTS = {1e-3: [0.0, 1e-6, 0.5, 0.9, 1.0, 1.5], 0.05: [0.0, 1e-9, 1e-4, 0.3, 0.5, 1.0, 3.0],
              1.0: [1e-4, 0.3, 0.9, 1.0, 1.5], 10.0: [0.0, 1e-7, 0.5, 1.0, 3.0]}


@pytest.mark.slow  # an accuracy table: left out on the extra interpreters of scripts/test_versions
@pytest.mark.parametrize("rho", LAW_POINTS)
def test_law_matches_reference(rho):
    check_routes(LAW_POINTS[rho], rho)


@pytest.mark.parametrize("table,want", [((), 39.3152703607), (((0.0, 1.0), (1.0, 1.0)), 37.3834207564)])
def test_planning_value(table, want):
    # l = 0.5, re = 1, rstar = 0.05: limb-darkened, and the uniform disk through a flat table
    assert [g[0] for g in routes([0.5], 0.05, *table, re=1.0)] == pytest.approx([want] * 2, rel=1e-10)


# --- flux maps --------------------------------------------------------------------------------

@pytest.mark.parametrize("bl,bf", [([0.0, 1.0], [1.0, 1.0]), ([0.3], [2.0]), ([1.7], [0.5])],
                         ids=["flat", "one-knot", "one-knot-outside"])
@pytest.mark.parametrize("rho", [1e-3, 0.05, 1.0, 10.0])
def test_flat_table_is_uniform_disk(bl, bf, rho):
    ls = [0.0, 1e-4, 0.3, 0.9, 1.0, 1.5, 3.0]
    disk = velmora.witt_mao_magnification(ls, RE, RE * rho)
    bad = []
    for name, got in zip(("ring", "disk"), routes(ls, rho, bl, bf)):
        for l, g, w in zip(ls, got, disk):
            collect(bad, f"{name} rho={rho} l={l}", g, mp.mpf(w), RING_TOL)
    assert_all_ok(bad)


def sampled_law(n):
    return tuple(k / (n - 1) for k in range(n)), tuple(float(law(mp.mpf(k) / (n - 1))) for k in range(n))


TABLES = {
    "law-5-knots": (*sampled_law(5), [(0.5, 0.05), (1.0, 0.05), (0.9, 1e-3)]),  # l = 0.5 is a knot
    "ends-at-0.7": ((0.1, 0.4, 0.7), (1.0, 0.9, 0.5), [(0.7, 1.0), (0.4, 10.0), (1.5, 0.05)]),
    "beyond-limb": ((0.0, 0.6, 1.5, 2.0), (1.0, 0.7, 0.2, 0.1), [(0.3, 0.05), (1.0, 1.0), (0.6, 10.0)]),
}


@pytest.mark.slow  # an accuracy table: left out on the extra interpreters of scripts/test_versions
@pytest.mark.parametrize("name", TABLES)
def test_table_matches_reference(name):
    bl, bf, points = TABLES[name]
    for l, rho in points:
        check_routes([l], rho, bl, bf)


@pytest.mark.parametrize("l,rho", [(0.5, 1e-3), (1.0, 1.0), (3.0, 0.05), (0.0, 10.0)])
def test_sampled_law_approaches_law(l, rho):
    # linear interpolation of the law: the error shrinks with the knot spacing
    ref = reference(l, rho)
    got = {n: routes([l], rho, *sampled_law(n)) for n in (5, 50)}
    errs = {(n, k): rel_err(got[n][k][0], ref, dps=None) for n in got for k in (0, 1)}
    diff = rel_err(got[50][1][0], mp.mpf(got[50][0][0]), dps=None)
    ok = all(errs[50, k] < errs[5, k] for k in (0, 1)) and max(errs[50, 0], errs[50, 1]) <= 1e-3
    listing = ", ".join(f"{n} knots {('ring', 'disk')[k]} {e:.2e}" for (n, k), e in errs.items())
    assert ok and diff <= DISK_TOL, f"l={l} rho={rho}: route difference {diff:.2e}, errors {listing}"


def test_empty_table_gives_non_finite():
    ls = [0.0, 0.5, 1.0, 3.0]
    for got in routes(ls, 0.05, (), ()):
        assert len(got) == len(ls) and not any(math.isfinite(g) for g in got), got


@pytest.mark.parametrize("bl,bf,left,right", [([0.1, 0.2, 0.3], [1.0] * 4, 3, 4),
                                               ([0.1, 0.2, 0.3, 0.4], [1.0] * 3, 4, 3)])
@pytest.mark.parametrize("fn", [velmora.integrated_flux_map_heyrovsky_magnification,
                                velmora.integrated_flux_map_witt_mao_magnification])
def test_table_length_mismatch(fn, bl, bf, left, right):
    with pytest.raises(velmora.PanicException) as exc:
        fn([0.5], 1.0, 0.1, bl, bf)
    assert str(exc.value) == panic_text(left, right)


# --- vectors and kernel failures --------------------------------------------------------------

@pytest.mark.parametrize("table", [(), ((0.0, 0.4, 0.9), (1.0, 0.8, 0.3))], ids=["law", "map"])
def test_vector_is_element_wise(table):
    ls = [0.5, 0.0, 1e-4, 0.4, 1.0, 3.0, 0.5]
    assert routes([], 0.05, *table) == ([], [])
    got, alone = routes(ls, 0.05, *table), [routes([l], 0.05, *table) for l in ls]
    for k, name in enumerate(("ring", "disk")):
        diff = [(l, g, a[k][0]) for l, g, a in zip(ls, got[k], alone) if g != a[k][0]]
        assert not diff, f"{name}: (l, in vector, alone) {diff}"


# Where the full-disk value used to round n to 1 or above and raise (rho = 1000, l within 3e-8 of
# the limb): every route gives the reference now, for the whole vector.
@pytest.mark.parametrize("l", [0.999999989999999, 1.00000002])
def test_large_source_near_limb(l):
    bad = []
    ref = reference(l, 1000.0)
    for name, call in (("disk", velmora.integrated_witt_mao_magnification),
                       ("ring", velmora.integrated_heyrovsky_magnification)):
        got = call([0.5, 2.0, l], 1.0, 1000.0)
        collect(bad, f"{name} l={l}", got[2], ref, 1e-9)
    assert_all_ok(bad)


def spotted_law(n):
    """The law sampled on n knots with a bright ring (a spot belt) at r ≈ 0.6."""
    bl = [k / (n - 1) for k in range(n)]
    bf = [float(law(mp.mpf(r))) * (1 + 0.5 * math.exp(-((r - 0.6) / 0.03) ** 2)) for r in bl]
    return bl, bf


def adaptive_reference(l, rho, bl, bf):
    """Ring route by adaptive quadrature on every table segment (split at l), with numpy's
    interpolation for the table and the exact normaliser of a piecewise-linear profile. Segments
    within their own width of the lens go to mpmath (scipy's QUADPACK loses ~1e-7 beside the
    logarithmic singularity); the others to scipy, with velmora's ring magnification, which the
    tests above check against mpmath."""
    integrate = pytest.importorskip("scipy.integrate")
    np = pytest.importorskip("numpy")
    points = sorted({0.0, 1.0, *[k for k in bl if 0 < k < 1], *([l] if 0 < l < 1 else [])})
    total = 0.0
    for a, b in zip(points, points[1:]):
        if max(a - l, l - b) < b - a:
            def g(r):
                ring = ring_mp(l, r, 1, rho)  # a node may round onto r = l (+inf): no weight
                return 2 * mp.pi * r * ring * float(np.interp(float(r), bl, bf)) if mp.isfinite(ring) else 0
            with mp.workdps(12):
                total += float(mp.quad(g, [a, b]))
            continue
        f = lambda r: 2 * math.pi * r * velmora.heyrovsky_magnification(l, r, 1.0, rho) * np.interp(r, bl, bf)
        total += integrate.quad(f, a, b, epsabs=0, epsrel=1e-13, limit=200)[0]
    norm = 0.0
    for (x0, y0), (x1, y1) in zip(zip(bl, bf), zip(bl[1:], bf[1:])):
        s = (y1 - y0) / (x1 - x0)
        c = y0 - s * x0
        norm += 2 * math.pi * (c * (x1**2 - x0**2) / 2 + s * (x1**3 - x0**3) / 3)
    return total / norm


@pytest.mark.slow  # an accuracy table: left out on the extra interpreters of scripts/test_versions
@pytest.mark.parametrize("knots, rho", [(101, 0.05), (101, 10.0), (21, 1.0), (1001, 0.05)])
def test_many_knot_table_against_adaptive_quadrature(knots, rho):
    # Table pieces away from the lens take a short fixed rule; the lens is put on a knot, just
    # beside one (the neighbouring piece then touches the singularity's near side), between knots,
    # at the centre, just outside the limb and far outside.
    bl, bf = spotted_law(knots)
    h = 1 / (knots - 1)
    ls = [0.0, 0.5 + 1e-7, 0.5 + 0.37 * h, 0.6 - 2e-9, 0.995, 1 + 1e-4, 2.5]
    ring, disk = routes(ls, rho, bl, bf, re=1.0)
    bad = []
    for l, a, b in zip(ls, ring, disk):
        want = adaptive_reference(l, rho, bl, bf)
        collect(bad, f"ring l={l}", a, want, RING_TOL)
        collect(bad, f"disk l={l}", b, want, DISK_TOL)
    assert_all_ok(bad)
