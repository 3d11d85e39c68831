"""The gradient functions: the magnification and its partial derivatives dA/du (rho fixed) and
dA/drho (u fixed), u = l*rho and rho = rstar/re in Einstein radii.

References, independent of the code under test: central differences of the Witt–Mao closed form
at 100 digits with steps far below the lens's distance to the limb (tests/_references.py,
disk_gradient_mp), and for dA/du also the rim integral of A*cos(theta) by mpmath's quadrature,
which uses no elliptic integral (disk_boundary_d_u). The bound is the one of issue 27:
|error| <= 1e-10*|d| + 1e-15*A/rho for both derivatives.
"""
import math

import mpmath as mp
import pytest

import velmora
from _references import disk_boundary_d_u, disk_gradient_mp, disk_mp
from _support import MESSAGES, assert_all_ok

REL, ABS = 1e-10, 1e-15  # |error| <= REL*|d| + ABS*A/rho


def bound(d, a, rho):
    return REL * abs(d) + ABS * abs(a) / rho


def excess(got, want, a, rho):
    """|got - want| in units of the bound (<= 1 passes; NaN, or a wrong infinity, fails)."""
    if mp.isinf(want):
        return 0.0 if got == want else math.inf
    with mp.workdps(30):
        return float(abs(mp.mpf(got) - want) / bound(want, a, rho))


def check_gradient(points, results, references):
    bad = []
    for p, (a, d_u, d_rho), (want_a, want_u, want_rho) in zip(points, results, references):
        rho = p[1]
        for name, got, want in (("dA/du", d_u, want_u), ("dA/drho", d_rho, want_rho)):
            e = excess(got, want, want_a, rho)
            if not e <= 1.0:
                bad.append(f"l={p[0]!r} rho={rho!r} {name}: got {got!r}, want {mp.nstr(want, 17)}, "
                           f"{e:.2g} x the bound")
    assert_all_ok(bad)


# --- uniform disk ---------------------------------------------------------------------------------

RHOS = [1e-6, 1e-3, 0.05, 1.0, 10.0, 1e4]
LIMB = [1 + s * 10.0**-k for k in (9, 6, 3) for s in (-1, 1)]
# centre, inside, the limb from 1e-9 on both sides, outside, around the far-field switch at 16, far
DISK_LS = [0.0, 1e-3, 0.3, 0.9, 1.5, 3.0, 8.0, 15.999, 16.0, 16.001, 100.0, 1e4, 1e8] + LIMB


def disk_gradient(ls, rho):
    a, d_u, d_rho = velmora.witt_mao_magnification_gradient(ls, 1.0, rho)
    return list(zip(a, d_u, d_rho))


@pytest.mark.parametrize("rho", RHOS)
def test_disk_gradient_over_the_domain(rho):
    check_gradient([(l, rho) for l in DISK_LS], disk_gradient(DISK_LS, rho),
                   [disk_gradient_mp(l, rho) for l in DISK_LS])


@pytest.mark.parametrize("rho", [1e-3, 0.3, 10.0, 1e4])
def test_disk_d_u_is_the_rim_integral(rho):
    """dA/du against the quadrature of A*cos(theta) around the rim: no elliptic integral, no
    difference quotient."""
    ls = [0.2, 0.999, 1 - 1e-7, 1 + 1e-7, 2.5, 12.0, 40.0]
    got = disk_gradient(ls, rho)
    want = [(disk_mp(l, rho), disk_boundary_d_u(l, rho), got_rho) for l, (_, _, got_rho) in zip(ls, got)]
    check_gradient([(l, rho) for l in ls], got, want)


@pytest.mark.parametrize("rho", [1e-6, 0.01, 1.0, 1e4])
def test_disk_gradient_value_is_the_plain_function(rho):
    ls = [0.0, 0.5, 1.0, 1 - 1e-12, 3.0, 15.999, 16.0, 1e3, 1e8, 1e300, math.inf, math.nan, -0.5]
    got = velmora.witt_mao_magnification_gradient(ls, 1.0, rho)[0]
    want = velmora.witt_mao_magnification(ls, 1.0, rho)
    bad = [f"l={l!r}: {g!r} != {w!r}" for l, g, w in zip(ls, got, want)
           if not (g == w or (math.isnan(g) and math.isnan(w)))]
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-6, 1.0, 1e4])
def test_disk_gradient_on_the_limb_is_infinite(rho):
    a, d_u, d_rho = velmora.witt_mao_magnification_gradient([1.0], 1.0, rho)
    assert a == velmora.witt_mao_magnification([1.0], 1.0, rho)
    assert (d_u, d_rho) == ([-math.inf], [math.inf])


def test_disk_gradient_is_finite_and_signed_over_the_domain():
    """Physical input gives no NaN; outside the source dA/du < 0 (the disk's magnification falls
    with the distance), and for a small source far from the lens A_ring < W only where A is convex
    enough: check only the signs the geometry fixes."""
    bad = []
    for rho in [1e-9, 1e-6, 1e-2, 1.0, 1e2, 1e6, 1e12]:
        ls = [0.0, 1e-12, 0.5, 1 - 1e-15, 1 + 1e-15, 2.0, 16.0, 1e5, 1e12, 1e150 / rho, 1e200 / rho]
        for l, a, d_u, d_rho in zip(ls, *velmora.witt_mao_magnification_gradient(ls, 1.0, rho)):
            if not all(math.isfinite(x) for x in (a, d_u, d_rho)):
                bad.append(f"rho={rho} l={l}: {a}, {d_u}, {d_rho}")
            elif l > 1 and not d_u <= 0:
                bad.append(f"rho={rho} l={l}: dA/du = {d_u} > 0 outside the source")
    assert_all_ok(bad)


def test_disk_gradient_agrees_with_differenced_values():
    """The light-curve use: the derivatives agree with central differences of the plain function
    (to the differences' own truncation and rounding, ~1e-7 relative)."""
    rho, u = 0.05, [0.01, 0.03, 0.049, 0.051, 0.2, 2.0]
    _, d_u, d_rho = velmora.witt_mao_magnification_gradient([x / rho for x in u], 1.0, rho)
    bad = []
    for x, du, dr in zip(u, d_u, d_rho):
        h = 1e-6 * x
        up, down = (velmora.witt_mao_magnification([(x + s * h) / rho], 1.0, rho)[0] for s in (1, -1))
        fd_u = (up - down) / (2 * h)
        hr = 1e-6 * rho
        up, down = (velmora.witt_mao_magnification([x / (rho + s * hr)], 1.0, rho + s * hr)[0] for s in (1, -1))
        fd_rho = (up - down) / (2 * hr)
        for name, got, fd in (("u", du, fd_u), ("rho", dr, fd_rho)):
            if not abs(got - fd) <= 1e-6 * abs(fd) + 1e-9:
                bad.append(f"u={x} d/d{name}: {got!r} vs differences {fd!r}")
    assert_all_ok(bad)


def test_disk_gradient_errors_are_the_plain_functions():
    with pytest.raises(RuntimeError) as plain:
        velmora.witt_mao_magnification([1.0], 1.0, -0.5)
    with pytest.raises(RuntimeError) as gradient:
        velmora.witt_mao_magnification_gradient([1.0], 1.0, -0.5)
    assert str(gradient.value) == str(plain.value) == MESSAGES["ellippi_m"]
    with pytest.raises(TypeError, match="argument 'l'"):
        velmora.witt_mao_magnification_gradient("abc", 1.0, 0.5)


def test_disk_gradient_returns_three_lists():
    out = velmora.witt_mao_magnification_gradient(l=[0.1, 0.2, 5.0], re=2.0, rstar=0.2)
    assert type(out) is tuple and len(out) == 3
    assert all(type(part) is list and len(part) == 3 for part in out)
    assert velmora.witt_mao_magnification_gradient([], 1.0, 0.1) == ([], [], [])
