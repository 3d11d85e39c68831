"""witt_mao_centroid_shift: the astrometric centroid shift of a uniform disk (the centroid of the
light of all images minus the source centre, along the lens-to-source axis, in Einstein radii),
against high-precision references that share nothing with its closed form.

The references (tests/data/disk_centroid_shifts.json, scripts/make_references.py) are N/M − u from
two boundary integrals at 60 digits (tests/_references.py: disk_centroid_shift_mp), which a plain
two-dimensional integral checks (tests/test_reference_data.py). `l` is in source radii, rho = rstar/re.
The accuracy asked: |error| ≤ 1e-12·|shift| + 1e-16·(u + rho), u = l·rho, the second term being
the rounding of a centroid of size ~u measured from the lens.
"""
import math

import pytest

import velmora
from _references import disk_centroid_shift_mp, load_data, mp
from _support import MESSAGES, assert_all_ok

SHIFT = velmora.witt_mao_centroid_shift
_, _, ROWS = load_data("disk_centroid_shifts.json")
RHOS = sorted({row["rho"] for row in ROWS})


def allowed(shift, l, rho):
    return 1e-12 * abs(shift) + 1e-16 * (l * rho + rho)


def point_shift(u):
    return u / (u * u + 2)


@pytest.mark.parametrize("rho", RHOS)
def test_against_stored_references(rho):
    rows = [row for row in ROWS if row["rho"] == rho]
    got = SHIFT([row["l"] for row in rows], 1.0, rho)
    bad = []
    for row, value in zip(rows, got):
        want = row["value"]
        err = float(abs(mp.mpf(value) - want))
        if not err <= allowed(float(want), row["l"], rho):
            bad.append(f"l={row['l']!r} rho={rho!r}: got {value!r}, want {mp.nstr(want, 17)}, "
                       f"error {err:.2e} = {err / allowed(float(want), row['l'], rho):.2f} of the allowed")
    assert_all_ok(bad)


@pytest.mark.parametrize("l,rho", [(0.55, 0.05), (1.07, 0.05), (0.95, 3.0), (7.0, 0.7), (2.2, 1e-3)])
def test_against_fresh_references(l, rho):
    # Points off the stored grid, computed now.
    want = disk_centroid_shift_mp(l, rho, dps=40)
    got = SHIFT([l], 1.0, rho)[0]
    assert abs(got - float(want)) <= allowed(float(want), l, rho), (got, mp.nstr(want, 17))


@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_zero_at_the_centre_and_on_the_limb(rho):
    # At l = 0 by symmetry; on the limb the shift changes sign (the references reach 1e-19 of 0 there).
    assert SHIFT([0.0, 1.0], 1.0, rho) == [0.0, 0.0]


@pytest.mark.parametrize("rho", [1e-6, 1e-3, 0.05, 1.0, 100.0, 1e4])
def test_continuous_across_the_limb(rho):
    # Within 1e-15 of the limb the shift is within a small multiple of 1e-15·rho·|log 1e-15| of 0,
    # with the sign of l − 1 (away from the lens outside, toward it inside).
    bad = []
    for dl in (1e-15, 1e-13, 1e-11):
        inside, outside = SHIFT([1 - dl, 1 + dl], 1.0, rho)
        bound = 10 * dl * rho * math.log(1 / dl) * max(1.0, 1 / rho) + 1e-16 * rho
        if not (-bound <= inside <= 0 <= outside <= bound):
            bad.append(f"rho={rho} dl={dl}: inside {inside!r}, outside {outside!r}, bound {bound:.1e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_tends_to_the_point_source_far_away(rho):
    # Far out the disk acts as a point: the relative difference falls like (rho/u)² = l^-2.
    bad = []
    for l in (1e3, 1e5, 1e8):
        u = l * rho
        got = SHIFT([l], 1.0, rho)[0]
        rel = abs(got / point_shift(u) - 1)
        if not rel <= 2 / l**2 + 1e-15:
            bad.append(f"l={l} rho={rho}: {got!r} against the point's {point_shift(u)!r}, rel {rel:.1e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-6, 0.05, 10.0])
def test_far_field_switch_is_seamless(rho):
    # Both sides of l = 3 (and at 16, the switch of the magnification's own closed form) against
    # references: the series and the closed form meet.
    ls = [math.nextafter(3.0, 0.0), 3.0, math.nextafter(16.0, 0.0), 16.0]
    got = SHIFT(ls, 1.0, rho)
    for l, value in zip(ls, got):
        want = float(disk_centroid_shift_mp(l, rho, dps=40))
        assert abs(value - want) <= allowed(want, l, rho), (l, value, want)


def test_units_enter_through_the_ratio():
    # The same rstar/re in other units gives the same values, bit for bit.
    ls = [0.0, 0.3, 1.0, 1.2, 20.0]
    assert SHIFT(ls, 2.0, 0.1) == SHIFT(ls, 1.0, 0.05)


def test_lens_on_the_limb_of_a_negative_radius_is_the_magnification_error():
    with pytest.raises(RuntimeError) as got:
        SHIFT([0.5, 1.0], 1.0, -0.5)
    assert str(got.value) == MESSAGES["ellippi_m"]
    with pytest.raises(RuntimeError) as same:
        velmora.witt_mao_magnification([0.5, 1.0], 1.0, -0.5)
    assert str(same.value) == str(got.value)


@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_physical_input_is_finite(rho):
    ls = [0.0, 1e-300, 1e-9, 0.5, 1 - 1e-16, 1 + 2.2e-16, 15.999999999, 16.0, 1e150, 1e300, 1.7e308]
    got = SHIFT(ls, 1.0, rho)
    assert all(math.isfinite(v) for v in got), list(zip(ls, got))


@pytest.mark.parametrize("rho", [1e8, 1e12, 1e20])
def test_sources_far_larger_than_the_einstein_ring(rho):
    # Beyond ~1e8 Einstein radii the closed form's last subtraction of u would lose ~rho² of its digits
    # (1e8 relative at rho = 1e20, before the leading terms took over); against the boundary integrals
    # at enough digits to absorb that cancellation: within 1e-15 of the shift, from the centre to both
    # sides of the limb.
    bad = []
    for l in (1e-4, 0.3, 0.999, 1.001, 2.0):
        got = SHIFT([l], 1.0, rho)[0]
        want = disk_centroid_shift_mp(l, rho, dps=30 + 2 * len(str(int(rho))))
        if not abs(got - want) <= 1e-15 * abs(want):
            bad.append(f"l={l}: {got!r}, want {mp.nstr(want, 17)}")
    assert_all_ok(bad)
    # next to the limb (a few Einstein radii from it) the shift stays between its two sides' values
    ls = [1 - 1e-15, 1 - 2.2e-16, 1 + 2.2e-16, 1 + 1e-15]
    assert all(abs(x) <= 1.0 / rho for x in SHIFT(ls, 1.0, rho)), SHIFT(ls, 1.0, rho)


@pytest.mark.parametrize("rho", [1e7, 1e10, 1e12, 1e100])
def test_profiles_far_larger_than_the_einstein_ring(rho):
    # A law's or a map's shift inside such a source takes its leading terms, (M(l)/l − 2πl·P(l))/(ρN)
    # (the ring numerator's last subtraction of u keeps no digits beyond ~1e10); times ρ they are
    # the ring route's at rho = 1e5, where it is still accurate: within 1e-7 of it, the size of the
    # corrections that route still holds there, ~1.5·log(ρ)/ρ² = 2e-9 and ~5/δ², δ = (1 − l)·1e5 the
    # lens's distance from the limb in Einstein radii (5e-8 at l = 0.9). A wrong term is off by O(1).
    ls = [0.01, 0.3, 0.6, 0.9]
    bad = []
    for name, fn, profile in (("quadratic law", LAW_SHIFT, ([0.0, 1.0, 2.0], [0.35, 0.9, -0.25])),
                              ("square-root law, dark limb", LAW_SHIFT, ([0.5], [1.0])),
                              ("map", velmora.integrated_flux_map_heyrovsky_centroid_shift,
                               ([0.0, 0.5, 1.0], [1.0, 0.8, 0.3]))):
        near = [x * 1e5 for x in fn(ls, 1.0, 1e5, *profile)]
        far = [x * rho for x in fn(ls, 1.0, rho, *profile)]
        bad += [f"{name} l={l}: {f!r} against {n!r}" for l, f, n in zip(ls, far, near) if not abs(f - n) <= 1e-7 * abs(n)]
    assert_all_ok(bad)


# The forms behind the function (the kernel test extension): 0 the closed form in doubles, 1 the same
# steps in double-double, 2 the far-field series, 3 the factored form, 4 the factored form's loss
# (the amplification of its rounding by its one difference).
def _form(l, rho, which):
    from _kernels import load
    return load().centroid_form(l, rho, which)


FACTORED_ERROR = 16 * 2.0**-52  # the function's bound on the factored form's error, per unit loss


def test_factored_form_where_the_function_takes_it():
    # The function takes the factored form wherever 16ε·loss·|shift| is within the accuracy asked:
    # there it must meet that accuracy. It must serve at every reference point of a source larger
    # than the Einstein ring, where the closed form's last subtraction of u cancels ρ² of its digits
    # and the doubles alone miss (the switch away from them is not decoration); the double-double
    # steps, the last resort, meet it everywhere.
    bad, missed = [], 0
    for row in ROWS:
        l, rho, want = row["l"], row["rho"], float(row["value"])
        if not (l < 3 and l != 1):
            continue
        factored, loss = _form(l, rho, 3), _form(l, rho, 4)
        takes = FACTORED_ERROR * loss * abs(factored) <= allowed(factored, l, rho)
        if takes and abs(factored - want) > allowed(want, l, rho):
            bad.append(f"l={l!r} rho={rho!r}: factored {factored!r} (loss {loss:.3g}), want {want!r}")
        if rho > 1 and not takes:
            bad.append(f"l={l!r} rho={rho!r}: the factored form's loss {loss:.3g} refuses it")
        extended = _form(l, rho, 1)
        if abs(extended - want) > allowed(want, l, rho):
            bad.append(f"l={l!r} rho={rho!r}: double-double {extended!r}, want {want!r}")
        missed += abs(_form(l, rho, 0) - want) > allowed(want, l, rho)
    assert_all_ok(bad)
    assert missed >= 10, f"the doubles alone met the accuracy at all but {missed} points"


@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_far_field_series_against_the_closed_form(rho):
    # From l = 3 (the switch) to 40 the series and the double-double closed form agree to the
    # accuracy asked (the series' first omitted term is below 1.8e-14 relative at 3, 1e-17 from 4).
    bad = []
    for l in (3.0, 3.3, 4.0, 4.6, 5.2, 6.2, 7.6, 10.0, 16.0, 20.0, 40.0):
        series, closed = _form(l, rho, 2), _form(l, rho, 1)
        if abs(series - closed) > allowed(closed, l, rho):
            bad.append(f"l={l} rho={rho}: series {series!r}, closed form {closed!r}")
    assert_all_ok(bad)


# ---------------------------------------------------------------------------------------------
# integrated_law_heyrovsky_centroid_shift: a law I(r) = Σ w_j μ^p_j. Its shift is exactly
# Σ w_j Z_p / Σ w_j J_p with Z_p = ∫₀¹ 2πr Z(l, r) μ^p dr (Z the ring's centroid-shift numerator,
# the mean around the ring of g(s)·x/s − u·A(s)) and J_p the magnification's radius integrals:
# tests/data/centroid_power_integrals.json holds Z_p (mpmath at 20 digits over a 30-digit ring
# quadrature; Z_0 from the disk's boundary integrals), tests/data/power_integrals.json J_p.

LAW_SHIFT = velmora.integrated_law_heyrovsky_centroid_shift
_, _, _Z_ROWS = load_data("centroid_power_integrals.json")
Z = {(row["l"], row["rho"], row["p"]): row["value"] for row in _Z_ROWS}
_, _, _J_ROWS = load_data("power_integrals.json")
J = {(row["l"], row["rho"], row["p"]): row["value"] for row in _J_ROWS}

CENTROID_LAWS = {
    "linear c=0.6": ([0.0, 1.0], [0.4, 0.6]),
    "quadratic (0.4, 0.25)": ([0.0, 1.0, 2.0], [1 - 0.4 - 0.25, 0.4 + 2 * 0.25, -0.25]),
    "square-root (0.25, 0.45)": ([0.0, 1.0, 0.5], [1 - 0.25 - 0.45, 0.25, 0.45]),
    "power-2 (0.65, 0.8)": ([0.0, 0.8], [0.35, 0.65]),
    "single power 1": ([1.0], [1.0]),
    "single power 0.5": ([0.5], [1.0]),
}


def law_points(powers):
    """The stored (l, rho) points that have every power of the law, by rho."""
    by_rho = {}
    for l, rho in sorted({(l, rho) for l, rho, _ in Z}):
        if all((l, rho, float(p)) in Z for p in powers):
            by_rho.setdefault(rho, []).append(l)
    return by_rho


def law_reference(l, rho, powers, weights):
    with mp.workdps(30):
        num = sum(mp.mpf(w) * Z[(l, rho, float(p))] for p, w in zip(powers, weights))
        den = sum(mp.mpf(w) * J[(l, rho, float(p))] for p, w in zip(powers, weights))
        return num / den


def test_law_reference_points_span_the_domain():
    # rho from 1e-6 to 1e4, l from the centre's neighbourhood through both sides of the limb (1e-12)
    # to 1e8, the far-field switch at 3: every law at 10 points or more, and the
    # linear law on the limb and within 1e-12 of it on both sides.
    for name, (powers, _) in CENTROID_LAWS.items():
        points = [(l, rho) for rho, ls in law_points(powers).items() for l in ls]
        assert len(points) >= 10, name
    points = [(l, rho) for rho, ls in law_points([0.0, 1.0]).items() for l in ls]
    ls, rhos = {l for l, _ in points}, {rho for _, rho in points}
    assert min(rhos) <= 1e-6 and max(rhos) >= 1e4 and max(ls) >= 1e8 and min(ls) <= 1e-4
    assert {1 - 1e-12, 1.0, 1 + 1e-12, 3.0, 16.0} <= ls


@pytest.mark.parametrize("name", list(CENTROID_LAWS))
def test_law_against_stored_references(name):
    powers, weights = CENTROID_LAWS[name]
    bad = []
    for rho, ls in law_points(powers).items():
        for l, got in zip(ls, LAW_SHIFT(ls, 1.0, rho, powers, weights)):
            want = law_reference(l, rho, powers, weights)
            err = float(abs(mp.mpf(got) - want))
            if not err <= allowed(float(want), l, rho):
                bad.append(f"l={l!r} rho={rho!r}: got {got!r}, want {mp.nstr(want, 17)}, error {err:.2e} = "
                           f"{err / allowed(float(want), l, rho):.2f} of the allowed")
    assert_all_ok(bad)


LAW_RHOS = [1e-6, 1e-3, 0.05, 1.0, 10.0, 1e4]
LAW_SWEEP = ([0.0, 1e-9, 0.3, 0.9] + [1 - 10.0 ** -k for k in (3, 9, 12)] + [1.0]
             + [1 + 10.0 ** -k for k in (12, 9, 3)] + [1.5, math.nextafter(3.0, 0.0), 3.0, 15.9, 16.0, 100.0, 1e4, 1e8])


@pytest.mark.parametrize("rho", LAW_RHOS)
def test_uniform_law_is_the_disk(rho):
    # Powers (0,) with weights (1,) are the uniform disk: within the accuracy asked of both.
    got = LAW_SHIFT(LAW_SWEEP, 1.0, rho, (0.0,), (1.0,))
    want = SHIFT(LAW_SWEEP, 1.0, rho)
    assert_all_ok([f"l={l!r}: law {a!r}, disk {b!r}" for l, a, b in zip(LAW_SWEEP, got, want)
                   if not abs(a - b) <= allowed(b, l, rho)])


@pytest.mark.parametrize("rho", LAW_RHOS)
def test_law_zero_at_the_centre_finite_and_continuous_across_the_limb(rho):
    # Every law's shift is 0 at l = 0 (symmetry) and finite everywhere; across the limb it changes
    # by no more than a small multiple of the distance to it (times |log| of it, the lens on a ring).
    bad = []
    for name, (powers, weights) in CENTROID_LAWS.items():
        got = LAW_SHIFT(LAW_SWEEP, 1.0, rho, powers, weights)
        if got[0] != 0.0 or not all(math.isfinite(v) for v in got):
            bad.append(f"{name}: {list(zip(LAW_SWEEP, got))}")
        for dl in (1e-12, 1e-9):
            inside, on, outside = LAW_SHIFT([1 - dl, 1.0, 1 + dl], 1.0, rho, powers, weights)
            bound = 50 * dl * rho * math.log(1 / dl) * max(1.0, 1 / rho) + 1e-15 * rho
            if not (abs(inside - on) <= bound and abs(outside - on) <= bound):
                bad.append(f"{name} dl={dl}: {inside!r}, {on!r}, {outside!r}, bound {bound:.1e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_law_tends_to_the_point_source_far_away(rho):
    bad = []
    for name, (powers, weights) in CENTROID_LAWS.items():
        for l, got in zip((1e3, 1e5, 1e8), LAW_SHIFT([1e3, 1e5, 1e8], 1.0, rho, powers, weights)):
            rel = abs(got / point_shift(l * rho) - 1)
            if not rel <= 2 / l**2 + 1e-15:
                bad.append(f"{name} l={l} rho={rho}: {got!r}, point {point_shift(l * rho)!r}, rel {rel:.1e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-3, 0.05, 10.0])
def test_law_far_field_switch_is_seamless(rho):
    # The series in the law's moments (from the law's far_from(), l = 3 for these laws) and the
    # radius integrals meet: at the last double below 3 and at 3 the shifts differ by no more than
    # the accuracy asked.
    bad = []
    for name, (powers, weights) in CENTROID_LAWS.items():
        below, at = LAW_SHIFT([math.nextafter(3.0, 0.0), 3.0], 1.0, rho, powers, weights)
        if not abs(below - at) <= 2 * allowed(at, 3.0, rho):
            bad.append(f"{name}: {below!r} below 3, {at!r} at 3")
    assert_all_ok(bad)


def test_law_vector_units_and_keywords():
    # Element-wise (each position alone gives the same double), units through rstar/re alone, and
    # keyword arguments.
    powers, weights = CENTROID_LAWS["quadratic (0.4, 0.25)"]
    ls = [0.0, 0.3, 1.0, 1.2, 5.0, 20.0]
    together = LAW_SHIFT(ls, 1.0, 0.05, powers, weights)
    assert together == [LAW_SHIFT([l], 1.0, 0.05, powers, weights)[0] for l in ls]
    assert LAW_SHIFT(ls, 2.0, 0.1, powers, weights) == together
    assert LAW_SHIFT(weights=weights, powers=powers, rstar=0.05, re=1.0, l=ls) == together


@pytest.mark.parametrize("powers,weights", [([-1.0], [1.0, 2.0]), ([], []), ([0.0, math.nan], [1.0, 1.0]),
                                            ([0.0, 1.0], [1.0, math.inf]), ([0.0, 2.0], [1.0, -2.0])])
def test_law_errors_are_the_magnification_errors(powers, weights):
    with pytest.raises(ValueError) as got:
        LAW_SHIFT([0.5], 1.0, 0.1, powers, weights)
    with pytest.raises(ValueError) as same:
        velmora.integrated_law_heyrovsky_magnification([0.5], 1.0, 0.1, powers, weights)
    assert str(got.value) == str(same.value)


@pytest.mark.parametrize("l,r,rho", [(0.5, 0.3, 0.05), (0.9, 1.0, 1.0), (1.5, 0.7, 10.0), (0.5, 0.50001, 0.05),
                                     (0.1, 1.0, 1e4), (3.0, 0.2, 1e-3)])
def test_ring_reference_is_the_plain_ring_mean(l, r, rho):
    # The references' ring numerator (a quadrature in the Legendre variable) against the plain mean
    # of its definition around the ring, at 40 digits (at rho = 1e4 the mean of terms ~u/R² is ~u/R⁴:
    # 16 digits cancel).
    from _references import ring_centroid_average, ring_centroid_mp
    want = ring_centroid_average(l, r, rho, dps=40)
    assert abs(ring_centroid_mp(l, r, rho, dps=40) - want) <= 1e-18 * abs(want)


def ring_scale(l, r, rho):
    """The size of the terms whose difference the ring numerator is: u·A(s) ~ u/|R − u| near the
    ring and u/R² where the ring encloses the lens far out, u = lρ, R = rρ (Einstein radii)."""
    u, big_r = l * rho, r * rho
    return u / max(abs(big_r - u), 1e-300) / max(1.0, min(big_r, abs(big_r - u)))


@pytest.mark.parametrize("rho", [1e-6, 1e-3, 0.05, 1.0, 100.0, 1e4])
def test_ring_pair_magnification_against_the_reference(rho):
    # The shift's denominator comes from the numerator's own passes (the ring magnification from
    # cel(kc, 1 + c, 1, 0) and cel(kc, 1 + c, 0, 1), or from K and the first): against the ring at
    # 30 digits, both forms (m above and below 1/2) and 1e-12 from the ring, within 2e-15.
    from _references import ring_mp
    from _kernels import load
    kern = load()
    bad = []
    for l in (0.0, 1e-3, 0.1, 0.5, 0.99, 1.5, 3.0):
        for r in (1e-3, 0.017, 0.1, 0.5, 0.9, 0.999, 1.0, l + 1e-12, l - 1e-12, 0.17 * l, 5.8 * l):
            if r <= 0 or l == r:
                continue
            got, want = kern.ring_pair(l, r, rho)[0], ring_mp(l, r, 1 / rho)
            err = float(abs(got - want) / want)
            if not err <= 2e-15:
                bad.append(f"l={l} r={r}: {got!r}, want {mp.nstr(want, 17)}, rel {err:.1e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", [1e-6, 1e-3, 0.05, 1.0, 100.0, 1e4])
def test_ring_numerator_against_the_reference(rho):
    # The closed form of the ring's numerator (two forms switched at m = 1/2) against mpmath:
    # within 1e-14 of its value or a few ulps (5e-15) of the size of the terms it is the difference of.
    # Where the ring encloses the lens far out (R ≫ u, R ≫ 2) Z ~ u/R⁴ while its terms are ~u/R²:
    # relative errors up to 1e-8 at rho = 1e4 (measured), which the radius integral turns into
    # ~1e-16·log(1/l) of the shift (~u/rho² there), below the accuracy asked.
    from _references import ring_centroid_mp
    from _kernels import load
    kern = load()
    bad = []
    for l in (1e-3, 0.1, 0.5, 0.99, 1.5, 3.0, 15.0):
        for r in (1e-3, 0.1, 0.5, 0.9, 0.999, 1.0):
            if l == r:
                continue  # the lens on the ring: -inf in both
            got, want = kern.ring_centroid(l, r, rho), ring_centroid_mp(l, r, rho, dps=30)
            err = float(abs(got - want))
            if not err <= 1e-14 * abs(float(want)) + 5e-15 * ring_scale(l, r, rho):
                bad.append(f"l={l} r={r}: {got!r}, want {mp.nstr(want, 17)}, rel {err / abs(float(want)):.1e}")
    assert_all_ok(bad)


# ---------------------------------------------------------------------------------------------
# integrated_flux_map_heyrovsky_centroid_shift: a flux map (bl, bf) read linearly, 0 outside it.
# tests/data/flux_map_centroid_shifts.json holds the shift of four maps (mpmath radius integrals of
# the ring's numerator and of the ring magnification, split at the knots, at 20 digits).

MAP_SHIFT = velmora.integrated_flux_map_heyrovsky_centroid_shift
_, MAPS, MAP_ROWS = load_data("flux_map_centroid_shifts.json")


def test_flux_map_reference_points():
    # The lens on a knot and 1e-9 beside one, within 1e-12 of the limb on both sides of a map bright
    # there, on the step of a map ending inside the disk, both sides of the far-field switch at 4.
    ls = {row["l"] for row in MAP_ROWS}
    assert {0.7, 0.5, 0.5 + 1e-9, 1 - 1e-12, 1 + 1e-12, 1.0, 3.99, 4.0} <= ls and len(MAPS) >= 4


@pytest.mark.parametrize("name", sorted({row["table"] for row in MAP_ROWS}))
def test_flux_map_against_stored_references(name):
    bl, bf = MAPS[name]
    bad = []
    for row in [row for row in MAP_ROWS if row["table"] == name]:
        l, rho, want = row["l"], row["rho"], row["value"]
        got = MAP_SHIFT([l], 1.0, rho, bl, bf)[0]
        err = float(abs(mp.mpf(got) - want))
        if not err <= allowed(float(want), l, rho):
            bad.append(f"l={l!r} rho={rho!r}: got {got!r}, want {mp.nstr(want, 17)}, error {err:.2e} = "
                       f"{err / allowed(float(want), l, rho):.2f} of the allowed")
    assert_all_ok(bad)


@pytest.mark.parametrize("rho", LAW_RHOS)
def test_uniform_flux_maps_are_the_disk(rho):
    # One knot, or a constant line over the disk (its value at the limb taken out as a uniform disk
    # leaves nothing), or a constant line reaching beyond the limb: the uniform disk's shift.
    want = SHIFT(LAW_SWEEP, 1.0, rho)
    bad = []
    for bl, bf in (([0.5], [2.0]), ([0.0, 1.0], [3.0, 3.0]), ([0.0, 0.4, 2.0], [1.0, 1.0, 1.0])):
        got = MAP_SHIFT(LAW_SWEEP, 1.0, rho, bl, bf)
        bad += [f"{bl} l={l!r}: map {a!r}, disk {b!r}" for l, a, b in zip(LAW_SWEEP, got, want)
                if not abs(a - b) <= allowed(b, l, rho)]
    assert_all_ok(bad)


def test_flux_map_zero_at_the_centre_finite_and_nan_without_light():
    # 0 at l = 0, finite everywhere for a bright map; NaN where the map has no light in the source,
    # as the magnification.
    bl, bf = MAPS["spot"]
    for rho in LAW_RHOS:
        got = MAP_SHIFT(LAW_SWEEP, 1.0, rho, bl, bf)
        assert got[0] == 0.0 and all(math.isfinite(v) for v in got), (rho, list(zip(LAW_SWEEP, got)))
    dark = MAP_SHIFT([0.5, 2.0, 10.0], 1.0, 0.1, [1.5, 2.0], [1.0, 1.0])
    assert all(math.isnan(v) for v in dark)


def test_flux_map_continuous_across_a_knot_and_the_limb():
    # A map's shift changes by no more than a small multiple of the step in l beside a knot (0.5)
    # and across the limb.
    bl, bf = MAPS["law 5 knots"]
    bad = []
    for rho in (1e-3, 0.05, 1.0, 100.0):
        for x in (0.5, 1.0):
            for dl in (1e-12, 1e-9):
                below, at, above = MAP_SHIFT([x - dl, x, x + dl], 1.0, rho, bl, bf)
                bound = 50 * dl * rho * math.log(1 / dl) * max(1.0, 1 / rho) + 1e-15 * rho
                if not (abs(below - at) <= bound and abs(above - at) <= bound):
                    bad.append(f"rho={rho} x={x} dl={dl}: {below!r}, {at!r}, {above!r}, bound {bound:.1e}")
    assert_all_ok(bad)


def test_flux_map_vector_units_and_keywords():
    bl, bf = MAPS["spot"]
    ls = [0.0, 0.3, 0.5, 1.0, 1.2, 5.0]
    together = MAP_SHIFT(ls, 1.0, 0.05, bl, bf)
    assert together == [MAP_SHIFT([l], 1.0, 0.05, bl, bf)[0] for l in ls]
    assert MAP_SHIFT(ls, 2.0, 0.1, bl, bf) == together
    assert MAP_SHIFT(bf=bf, bl=bl, rstar=0.05, re=1.0, l=ls) == together


# The small-source series of a law of integer powers gives the shift too (lens within the source or,
# for powers up to 3, out to l = 3); the kernel extension's law_centroid(..., False) is the radius
# integral of the rings' numerators instead, an independent method.
SERIES_LAWS = {
    "linear c=0.6": ([0.0, 1.0], [0.4, 0.6]),
    "quadratic (0.4, 0.25)": ([0.0, 1.0, 2.0], [0.35, 0.9, -0.25]),
    "uniform": ([0.0], [1.0]),
    "mu^2": ([2.0], [1.0]),
    "powers 0..8": (list(range(9)), [0.2, 0.1, 0.3, 0.05, 0.1, 0.05, 0.1, 0.05, 0.05]),
    "negative near the limb": ([0.0, 2.0], [-1.0, 8.0]),
}


@pytest.mark.parametrize("name", list(SERIES_LAWS))
def test_law_series_against_the_radius_integral(name):
    # A seeded sample of rho from 1e-9 to 0.15 and l over [0, 3] with the centre's and the limb's
    # neighbourhoods: within the accuracy asked, doubled (the radius integral itself reaches 0.7 of it
    # for mu^2 at l = 0.98, rho = 0.05, where the series is within 3e-15 of mpmath; and 22 times it
    # where the quadratic law's shift changes sign, l = 0.9606, which the sample does not meet: the
    # series is within 0.1 of it there).
    import random
    from _kernels import load
    kern = load()
    powers, weights = SERIES_LAWS[name]
    rng = random.Random(28)
    bad = []
    for rho in (1e-9, 1e-6, 1e-3, 0.01, 0.05, 0.1, 0.15):
        ls = [0.0, 1e-9, 1e-5, 1 - 1e-12, 1.0, 1 + 1e-12, 1 - 1e-6, 1 + 1e-6, 2.999]
        ls += [rng.random() for _ in range(15)] + [1 + 2 * rng.random() for _ in range(15)]
        series = kern.law_centroid(ls, 1.0, rho, powers, weights)
        integral = kern.law_centroid(ls, 1.0, rho, powers, weights, False)
        bad += [f"rho={rho} l={l!r}: {a!r} vs {b!r}" for l, a, b in zip(ls, series, integral)
                if not abs(a - b) <= 2 * allowed(b, l, rho)]
    assert_all_ok(bad)
