"""Uniform disk, thin ring and discrete flux map checked against mpmath quadratures.

Distances `l` (lens from source centre) and `r` (ring radius) are in source radii; rho = rstar/re
converts them to Einstein radii. The references integrate the point-lens magnification directly,
so they share nothing with the elliptic-integral closed forms in src/models.
"""
import math

import mpmath as mp
import pytest

import velmora

DPS = 30
LIMB_BAND = 1e-5  # |l*rho - rho| below this: the disk takes the closed limb value
RING_BAND = 1e-5  # |r - l| below this: the ring takes its first-order expansion
RHOS = [1e-3, 0.01, 0.1, 1.0, 10.0]


def point_lens(u):
    return (u * u + 2) / (u * mp.sqrt(u * u + 4))


def disk_reference(l, rho):
    """Mean of A over the disk, in polar coordinates about the lens (F(u) = u*sqrt(u^2+4)/2)."""
    with mp.workdps(DPS):
        l, rho = mp.mpf(l), mp.mpf(rho)
        F = lambda s: rho * s * mp.sqrt((rho * s) ** 2 + 4) / 2
        if l <= 1:
            chord = lambda p: -l * mp.cos(p) + mp.sqrt(1 - (l * mp.sin(p)) ** 2)
            # the chord has a kink of width ~sqrt(1 - l^2) at phi = pi/2 as the lens nears the limb
            w = mp.sqrt(1 - l * l)
            pts = {mp.mpf(0), mp.pi / 2, mp.pi}
            pts |= {mp.pi / 2 + k * w * 10**j for k in (-1, 1) for j in range(4) if 0 < w * 10**j < mp.pi / 2}
            total = 2 * mp.quad(lambda p: F(chord(p)), sorted(pts))
        else:
            def band(p):
                c, h = l * mp.cos(p), mp.sqrt(max(1 - (l * mp.sin(p)) ** 2, 0))
                return F(c + h) - F(c - h)
            edge = mp.asin(1 / l)
            total = 2 * mp.quad(band, [0, edge / 2, edge])
        return total / (mp.pi * rho * rho)


def ring_reference(l, r, rho):
    """Mean of A around the ring; the integrand peaks at phi = 0 with width ~|r - l|/sqrt(l r)."""
    with mp.workdps(DPS):
        l, r, rho = mp.mpf(l), mp.mpf(r), mp.mpf(rho)
        if l == 0:
            return point_lens(rho * r)
        dist = lambda p: mp.sqrt((r - l) ** 2 + 2 * l * r * (1 - mp.cos(p)))
        w = abs(r - l) / mp.sqrt(l * r)
        pts = [mp.mpf(0)] + [w * 10**j for j in range(-1, 8) if w * 10**j < mp.pi] + [mp.pi]
        return mp.quad(lambda p: point_lens(rho * dist(p)), pts) / mp.pi


def rel_err(got, ref):
    return float(abs(mp.mpf(got) - ref) / abs(ref))


def assert_all_ok(bad):
    assert not bad, f"{len(bad)} bad point(s):\n" + "\n".join(bad)


# --- uniform disk -------------------------------------------------------------------------------

@pytest.mark.parametrize("rho", RHOS)
def test_disk_matches_quadrature(rho):
    # centre, inside, near the limb on both sides (just outside the limb band), outside, far away
    ls = [0.0, 0.3, 0.8, 0.99, 1 - 2e-5 / rho, 1 + 2e-5 / rho, 1.01, 1.5, 3.0, 20.0]
    ls = [l for l in ls if abs(l * rho - rho) >= LIMB_BAND]
    got = velmora.witt_mao_magnification(ls, 1.0, rho)
    assert len(got) == len(ls)
    bad = []
    for l, g in zip(ls, got):
        # Near the limb 1 - n = (d/(u + rho))^2 carries the rounding of n: ~1e-16/(1 - n) relative.
        p = ((l - 1) / (l + 1)) ** 2
        tol = max(1e-12, 1e-15 / p)
        err = rel_err(g, disk_reference(l, rho))
        if not err <= tol:
            bad.append(f"rho={rho} l={l!r}: got {g!r}, rel err {err:.2e} > {tol:.1e}")
    assert_all_ok(bad)


def test_disk_scale_invariance():
    # only rho = rstar/re matters
    ls = [0.0, 0.5, 2.0]
    ref = [disk_reference(l, 0.25) for l in ls]
    got = velmora.witt_mao_magnification(ls, 4.0, 1.0)
    assert all(rel_err(g, r) <= 1e-12 for g, r in zip(got, ref)), got


@pytest.mark.parametrize("rho", [1e-4] + RHOS)
def test_disk_on_limb(rho):
    # The limb value takes asin((rho² - 1)/(rho² + 1)) + pi/2: asin near -1 turns the rounding of
    # its argument into a relative error of about 3e-17/rho² (1.4e-12 at rho = 1e-3).
    (got,) = velmora.witt_mao_magnification([1.0], 1.0, rho)
    err = rel_err(got, disk_reference(1.0, rho))
    assert err <= max(1e-12, 1e-16 / rho**2), f"rho={rho}: got {got!r}, rel err {err:.2e}"


@pytest.mark.parametrize("rho", [1e-3, 0.01, 0.1])
@pytest.mark.parametrize("offset", [-2e-5, 2e-5, 1e-3, -5e-3])
def test_disk_limb_band_is_narrow_for_small_sources(rho, offset):
    # The limb value is only used within 1e-5 source radii of the limb; at l = 1 + offset the
    # closed form must follow the true magnification (the limb value would be percents off).
    l = 1.0 + offset
    p = (offset / (2.0 + offset)) ** 2
    (got,) = velmora.witt_mao_magnification([l], 1.0, rho)
    err = rel_err(got, disk_reference(l, rho))
    assert err <= max(1e-12, 1e-15 / p), f"rho={rho}, l={l}: got {got!r}, rel err {err:.2e}"


# --- thin ring ----------------------------------------------------------------------------------

RING_POINTS = [(1e-4, 0.5e-4), (1e-4, 1.2e-4), (1e-4, 3e-4), (0.01, 0.009), (0.01, 0.01002),
               (0.5, 0.25), (0.5, 0.55), (1.0, 0.99998), (1.0, 1.5)]


@pytest.mark.parametrize("rho", RHOS)
def test_ring_matches_quadrature(rho):
    bad = []
    for r, l in RING_POINTS:
        assert abs(r - l) >= RING_BAND
        re = 3.0  # any common unit: only rstar/re enters
        g = velmora.heyrovsky_magnification(l, r, re, rho * re)
        p = ((r - l) / (l + r)) ** 2
        tol = max(1e-12, 1e-15 / p)
        err = rel_err(g, ring_reference(l, r, (rho * re) / re))
        if not err <= tol:
            bad.append(f"rho={rho} r={r} l={l}: got {g!r}, rel err {err:.2e} > {tol:.1e}")
    assert_all_ok(bad)


# Error of the first-order expansion at |r - l| = 0.5e-5, measured against the quadrature; it
# grows like ((r - l)/l)^2, so small rings pay most.
NEAR_RING_MEASURED = [(1.0, 0.01, 7.05e-12), (1.0, 10.0, 1.34e-10), (0.5, 1.0, 3.16e-11),
                      (0.01, 1.0, 6.69e-8), (1e-3, 0.1, 6.39e-6)]


@pytest.mark.parametrize("r,rho,measured", NEAR_RING_MEASURED)
def test_ring_near_lens_expansion(r, rho, measured):
    bad = []
    for f in (0.5e-5, -0.5e-5):
        l = r - f
        g = velmora.heyrovsky_magnification(l, r, 1.0, rho)
        err = rel_err(g, ring_reference(l, r, rho))
        if not err <= 3 * measured:
            bad.append(f"r={r} l={l!r} rho={rho}: got {g!r}, rel err {err:.2e} > 3 x {measured:.2e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("r", [1e-4, 1e-3, 0.01, 0.05])
def test_small_ring_near_lens(r):
    # The expansion's error grows like ((r - l)/l)^2, so for small rings it is only used within
    # 1e-4·l of the lens; a band of fixed width 1e-5 gave 2.5e-3 at r = 1e-4.
    bad = []
    for rho in (0.01, 1.0):
        for f in (0.5e-5, -0.5e-5, 0.9e-4 * r, -0.9e-4 * r, 1.1e-4 * r, -1.1e-4 * r, 0.1 * r):
            l = r - f
            g = velmora.heyrovsky_magnification(l, r, 1.0, rho)
            err = rel_err(g, ring_reference(l, r, rho))
            if not err <= 1e-7:
                bad.append(f"r={r} l={l!r} rho={rho}: got {g!r}, rel err {err:.2e}")
    assert_all_ok(bad)


def test_ring_continuous_across_near_ring_band():
    # largest jump seen: 3.9e-6 at r = 1, rho = 10 (cancellation in the elliptic form right outside)
    bad = []
    for rho in (1e-3, 1.0, 10.0):
        for r in (0.01, 0.5, 1.0):
            for sign in (1, -1):
                inner = velmora.heyrovsky_magnification(r - sign * RING_BAND * (1 - 1e-9), r, 1.0, rho)
                outer = velmora.heyrovsky_magnification(r - sign * RING_BAND * (1 + 1e-9), r, 1.0, rho)
                jump = abs(inner - outer) / outer
                if not jump <= 1e-5:
                    bad.append(f"rho={rho} r={r} side={sign}: {inner!r} vs {outer!r} ({jump:.2e})")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-3, 0.1, 10.0])
def test_ring_around_lens_is_point_lens(rho):
    # lens at the ring centre: every point of the ring sits at u = r*rho, including tiny rings
    bad = []
    for r in (1e-9, 1e-7, 5e-6, 9.99e-6, 1e-5, 1e-3, 0.5, 1.0):
        g = velmora.heyrovsky_magnification(0.0, r, 1.0, rho)
        err = rel_err(g, point_lens(mp.mpf(r) * rho))
        if not (math.isfinite(g) and err <= 1e-13):
            bad.append(f"rho={rho} r={r}: got {g!r}, rel err {err:.2e}")
    assert_all_ok(bad)
    assert velmora.heyrovsky_magnification(0.0, 5e-6, 1.0, 0.1) == pytest.approx(2.0e6, rel=1e-12)


@pytest.mark.parametrize("l", [1e-4, 0.5, 1.0, 7.0])
def test_ring_through_lens_is_infinite(l):
    assert velmora.heyrovsky_magnification(l, l, 1.0, 0.1) == math.inf


# --- kernel failures ----------------------------------------------------------------------------

# l just outside the limb band at rho = 1000: n = 4l/(1 + l)^2 rounds to 1 or above.
N_ABOVE_ONE = (0.999999989999999, "ellippi: n must be less than 1.")
N_EQUALS_ONE = (1.00000002, "elliprj: p must be non-zero")


@pytest.mark.parametrize("l,message", [N_ABOVE_ONE, N_EQUALS_ONE])
def test_disk_kernel_failure(l, message):
    with pytest.raises(RuntimeError) as exc:
        velmora.witt_mao_magnification([l], 1.0, 1000.0)
    assert str(exc.value) == message
    # one failing point fails the whole call: no partial list comes back
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        velmora.witt_mao_magnification([0.0, 0.5, 2.0, l], 1.0, 1000.0)


def test_ring_and_flux_map_kernel_failure():
    l, r = 1e4, 1e4 + 2e-5  # (r - l)/(l + r) = 1e-9: n rounds to 1
    with pytest.raises(RuntimeError, match="^elliprj: p must be non-zero$"):
        velmora.heyrovsky_magnification(l, r, 1.0, 1.0)
    with pytest.raises(RuntimeError, match="^elliprj: p must be non-zero$"):
        velmora.discrete_flux_map_heyrovsky_magnification([0.5, l], 1.0, 1.0, [0.2, r], [1.0, 1.0])


# --- discrete flux map --------------------------------------------------------------------------

def test_empty_inputs():
    assert velmora.witt_mao_magnification([], 1.0, 0.1) == []
    assert velmora.discrete_flux_map_heyrovsky_magnification([], 1.0, 0.1, [0.5], [1.0]) == []
    assert velmora.discrete_flux_map_heyrovsky_magnification([0.0, 0.5, 2.0], 1.0, 0.1, [], []) == [0.0] * 3


def test_flux_map_table_length_mismatch():
    with pytest.raises(velmora.PanicException) as exc:
        velmora.discrete_flux_map_heyrovsky_magnification([0.5], 1.0, 0.1, [0.1, 0.2, 0.3], [1.0, 1.0, 1.0, 1.0])
    assert str(exc.value) == "assertion `left == right` failed\n  left: 3\n right: 4"


def test_flux_map_is_weighted_sum_of_rings():
    ls = [0.0, 0.3, 0.5 + 4e-6, 0.9, 2.0]
    rings, weights = [0.1, 0.5, 0.8, 1.0], [0.7, 1.3, -0.2, 2.5]
    for bl in rings:
        single = velmora.discrete_flux_map_heyrovsky_magnification(ls, 1.0, 0.1, [bl], [1.0])
        assert single == [velmora.heyrovsky_magnification(l, bl, 1.0, 0.1) for l in ls]
    got = velmora.discrete_flux_map_heyrovsky_magnification(ls, 1.0, 0.1, rings, weights)
    for l, g in zip(ls, got):
        want = math.fsum(velmora.heyrovsky_magnification(l, b, 1.0, 0.1) * w for b, w in zip(rings, weights))
        assert g == pytest.approx(want, rel=1e-15, abs=0), l
    assert velmora.discrete_flux_map_heyrovsky_magnification([0.5, 0.7], 1.0, 0.1, [0.2, 0.5], [1.0, 1.0])[0] == math.inf


@pytest.mark.parametrize("rho", [0.1, 1.0])
def test_flux_map_flat_profile_approaches_disk(rho):
    # Rings at the midpoints of an n-cell radius grid, weights 2 r dr (= 2 pi r dr / pi): the midpoint
    # rule for the disk mean, second order while the lens stays off the rings' range of r.
    ls = [0.0, 1.5, 3.0]
    refs = [disk_reference(l, rho) for l in ls]

    def errors(n):
        bl = [(k + 0.5) / n for k in range(n)]
        got = velmora.discrete_flux_map_heyrovsky_magnification(ls, 1.0, rho, bl, [2 * r / n for r in bl])
        return [rel_err(g, ref) for g, ref in zip(got, refs)]

    coarse, fine = errors(100), errors(200)
    bad = [f"l={l}: err(100)={c:.2e} err(200)={f:.2e}" for l, c, f in zip(ls, coarse, fine)
           if not (f <= 2e-6 and 3.7 <= c / f <= 4.3)]
    assert_all_ok(bad)
