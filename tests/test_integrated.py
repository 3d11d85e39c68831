"""Limb-darkened and flux-map sources integrated over radius: what the integrals must do besides
their accuracy over the domain (tests/test_radius_rules.py): tables that are uniform sources, a
sampled law converging on the law, empty and mismatched tables, and results element by element.

`l` (lens from source centre) is in source radii, rho = rstar/re.
"""
import math

import pytest

import velmora
from _references import LAW_C, stored_law
from _support import assert_all_ok, panic_text, rel_err

RE = 4.0  # any unit: only rstar/re enters (a power of two keeps rstar/re exact)


def routes(ls, rho, bl=None, bf=None, re=RE):
    """(ring route, disk route) at rstar = rho·re."""
    if bl is None:
        return (velmora.integrated_heyrovsky_magnification(ls, re, re * rho),
                velmora.integrated_witt_mao_magnification(ls, re, re * rho))
    return tuple(f(ls, re, re * rho, list(bl), list(bf)) for f in (
        velmora.integrated_flux_map_heyrovsky_magnification, velmora.integrated_flux_map_witt_mao_magnification))


@pytest.mark.parametrize("table,want", [((), 39.3152703607), (((0.0, 1.0), (1.0, 1.0)), 37.3834207564)])
def test_planning_value(table, want):
    # l = 0.5, re = 1, rstar = 0.05: limb-darkened, and the uniform disk through a flat table
    assert [g[0] for g in routes([0.5], 0.05, *table, re=1.0)] == pytest.approx([want] * 2, rel=1e-10)


@pytest.mark.parametrize("bl,bf", [([0.0, 1.0], [1.0, 1.0]), ([0.3], [2.0]), ([1.7], [0.5])],
                         ids=["flat", "one-knot", "one-knot-outside"])
@pytest.mark.parametrize("rho", [1e-3, 0.05, 1.0, 10.0])
def test_flat_table_is_uniform_disk(bl, bf, rho):
    # A table constant over the disk is the uniform disk, whose closed form the direct tests hold to
    # 1e-13 against mpmath: both routes agree with it to 1e-12, the limb included.
    ls = [0.0, 1e-4, 0.3, 0.9, 1 - 1e-12, 1.0, 1 + 1e-12, 1.5, 3.0, 20.0]
    disk = velmora.witt_mao_magnification(ls, RE, RE * rho)
    bad = [f"{name} rho={rho} l={l}: {g!r} vs {w!r}"
           for name, got in zip(("ring", "disk"), routes(ls, rho, bl, bf))
           for l, g, w in zip(ls, got, disk) if not abs(g - w) <= 1e-12 * w]
    assert_all_ok(bad)


def sampled_law(n):
    bl = [k / (n - 1) for k in range(n)]
    return bl, [1 - LAW_C * (1 - math.sqrt(1 - r * r)) for r in bl]


@pytest.mark.parametrize("l,rho", [(0.5, 1e-3), (1.0, 1.0), (3.0, 0.05), (0.0, 10.0)])
def test_sampled_law_approaches_law(l, rho):
    # linear interpolation of the law: the error shrinks with the knot spacing, and both routes
    # integrate the same table alike
    ref = stored_law(l, rho)
    got = {n: routes([l], rho, *sampled_law(n)) for n in (5, 50)}
    errs = {(n, k): rel_err(got[n][k][0], ref) for n in got for k in (0, 1)}
    diff = abs(got[50][1][0] / got[50][0][0] - 1)
    ok = all(errs[50, k] < errs[5, k] for k in (0, 1)) and max(errs[50, 0], errs[50, 1]) <= 1e-3
    listing = ", ".join(f"{n} knots {('ring', 'disk')[k]} {e:.2e}" for (n, k), e in errs.items())
    assert ok and diff <= 1e-11, f"l={l} rho={rho}: route difference {diff:.2e}, errors {listing}"


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


@pytest.mark.parametrize("table", [(), ((0.0, 0.4, 0.9), (1.0, 0.8, 0.3))], ids=["law", "map"])
def test_vector_is_element_wise(table):
    ls = [0.5, 0.0, 1e-4, 0.4, 1.0, 3.0, 0.5]
    assert routes([], 0.05, *table) == ([], [])
    got, alone = routes(ls, 0.05, *table), [routes([l], 0.05, *table) for l in ls]
    for k, name in enumerate(("ring", "disk")):
        diff = [(l, g, a[k][0]) for l, g, a in zip(ls, got[k], alone) if g != a[k][0]]
        assert not diff, f"{name}: (l, in vector, alone) {diff}"


@pytest.mark.parametrize("l", [0.999999989999999, 1.00000002])
def test_large_source_near_limb_in_a_vector(l):
    # Where the full-disk value used to round n to 1 or above and raise (rho = 1000, l within 3e-8
    # of the limb): every route gives the reference, inside a vector of other positions.
    ref = stored_law(l, 1000.0)
    bad = [f"{name} l={l}: {got[2]!r} off by {e:.1e}"
           for name, call in (("disk", velmora.integrated_witt_mao_magnification),
                              ("ring", velmora.integrated_heyrovsky_magnification))
           if not (e := rel_err((got := call([0.5, 2.0, l], 1.0, 1000.0))[2], ref)) <= 1e-12]
    assert_all_ok(bad)
