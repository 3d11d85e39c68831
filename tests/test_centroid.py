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
    # Both sides of l = 16 against references: the series and the closed form meet.
    ls = [math.nextafter(16.0, 0.0), 16.0]
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


# The forms behind the function (the kernel test extension): 0 the closed form in doubles, 1 the same
# steps in double-double, 2 the far-field series.
def _form(l, rho, which):
    from _kernels import load
    return load().centroid_form(l, rho, which)


def test_double_double_is_needed_where_the_function_takes_it():
    # Where the last subtraction of u cancels (near the limb, large u), the doubles alone miss the
    # accuracy asked and the double-double steps meet it: the switch is not decoration.
    bad, missed = [], 0
    for row in ROWS:
        l, rho, want = row["l"], row["rho"], float(row["value"])
        if not (l < 16 and l != 1):
            continue
        plain, extended = _form(l, rho, 0), _form(l, rho, 1)
        if abs(extended - want) > allowed(want, l, rho):
            bad.append(f"l={l!r} rho={rho!r}: double-double {extended!r}, want {want!r}")
        missed += abs(plain - want) > allowed(want, l, rho)
    assert_all_ok(bad)
    assert missed >= 10, f"the doubles alone met the accuracy at all but {missed} points"


@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_far_field_series_against_the_closed_form(rho):
    # At l = 16, 20 and 40 the series and the double-double closed form agree to the accuracy asked
    # (the series' first omitted term is below 1e-20 relative there).
    bad = []
    for l in (16.0, 20.0, 40.0):
        series, closed = _form(l, rho, 2), _form(l, rho, 1)
        if abs(series - closed) > allowed(closed, l, rho):
            bad.append(f"l={l} rho={rho}: series {series!r}, closed form {closed!r}")
    assert_all_ok(bad)
