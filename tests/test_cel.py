"""Bulirsch's general complete elliptic integral cel(kc, p, a, b) against mpmath.

The reference is Carlson's form, cel = a·RF(0, kc², 1) + (b − p·a)/3 · RJ(0, kc², 1, p), at a
working precision that grows with the spread of the arguments; it is itself checked against the
defining integral on a few points."""
import itertools
import math

import numpy as np
import pytest

mp = pytest.importorskip("mpmath")
from _kernels import load  # noqa: E402
from _support import MESSAGES, assert_all_ok, rel_err  # noqa: E402
kern = load()


def cel_mp(kc, p, a, b):
    spread = max(abs(math.log10(abs(x))) for x in (kc, p, a, b) if x)
    with mp.workdps(40 + int(spread)):
        kc, p, a, b = map(mp.mpf, (kc, p, a, b))
        rf = mp.elliprf(0, kc * kc, 1)
        rj = mp.elliprj(0, kc * kc, 1, p)
        return a * rf + (b - p * a) / 3 * rj, abs(a) * rf + abs(b - p * a) / 3 * rj


def cel_quad(kc, p, a, b):
    with mp.workdps(30):
        kc, p, a, b = map(mp.mpf, (kc, p, a, b))
        f = lambda t: (a * mp.cos(t) ** 2 + b * mp.sin(t) ** 2) / (
            (mp.cos(t) ** 2 + p * mp.sin(t) ** 2) * mp.sqrt(mp.cos(t) ** 2 + (kc * mp.sin(t)) ** 2))
        return mp.quad(f, [0, mp.pi / 4, mp.pi / 2])


def check(points, tol):
    bad = []
    for kc, p, a, b in points:
        want, scale = cel_mp(kc, p, a, b)
        got = kern.cel(kc, p, a, b)
        err = rel_err(got, want, scale, dps=40)
        if not err <= tol:
            bad.append(f"cel({kc!r}, {p!r}, {a!r}, {b!r}) = {got!r}: rel err {err:.2e} > {tol:.0e}")
    assert_all_ok(bad)


@pytest.mark.parametrize("kc,p,a,b", [(0.3, 0.5, 1.0, 2.0), (1e-6, 1e-9, 2.0, 1e-3), (0.9, 3.0, -1.0, 2.0),
                                      (5.0, 0.2, 1.0, 1.0)])
def test_reference_is_the_defining_integral(kc, p, a, b):
    want, _ = cel_mp(kc, p, a, b)
    with mp.workdps(30):
        assert abs(cel_quad(kc, p, a, b) / want - 1) < mp.mpf(10) ** -25


KC = [1e-300, 1e-150, 1e-30, 1e-16, 1e-8, 1e-3, 0.3, 0.7, 1.0, 1.5, 1e3, 1e8]
P = [1e-300, 1e-30, 1e-12, 1e-4, 0.3, 1.0, 2.0, 1e4, 1e30]
AB = [(1.0, 1.0), (1.0, 0.0), (0.0, 1.0), (2.5, 1e-20), (1e-20, 3.0)]


@pytest.mark.parametrize("kc", KC)
def test_extreme_parameters(kc):
    # Non-negative a and b: every term is positive, so the relative error is a few ulp.
    check([(kc, p, a, b) for p in P for a, b in AB], 8e-16)


@pytest.mark.parametrize("kc", [1e-12, 0.5, 1.0])
def test_mixed_signs(kc):
    # a and b of opposite signs: the value may cancel; the error is measured against the sum of
    # the magnitudes of the two parts.
    check([(kc, p, a, b) for p in (1e-8, 0.5, 4.0) for a, b in ((1.0, -0.5), (-2.0, 3.0), (1.0, -1.0))], 2e-15)


def test_random_against_mpmath():
    rng = np.random.default_rng(20261208)
    n = 200
    kc = 10.0 ** rng.uniform(-20, 1, n)
    p = 10.0 ** rng.uniform(-20, 3, n)
    a = 10.0 ** rng.uniform(-3, 3, n)
    b = 10.0 ** rng.uniform(-3, 3, n)
    check(list(zip(kc, p, a, b)), 8e-16)


@pytest.mark.parametrize("kc,sqrt_p", [(1e-300, 1e-150), (1e-9, 1e-9), (0.3, 0.8), (1.0, 1.0), (1.0, 0.2),
                                       (0.999, 1e-6)])
def test_pair_against_mpmath(kc, sqrt_p):
    # The shared loop: cel(kc, p, a, b) and cel(kc, 1, a1, b1) at once (the second with the
    # recurrence of p = 1 folded into the AGM's).
    bad = []
    for a, b, a1, b1 in itertools.product((1.0, 0.25), (2.0, 1e-12), (0.0, 1.0), (1.0, 3.0)):
        got = kern.cel_pair(kc, sqrt_p, a, b, a1, b1)
        for g, args in zip(got, ((kc, sqrt_p * sqrt_p, a, b), (kc, 1.0, a1, b1))):
            want, scale = cel_mp(*args)
            if not (err := rel_err(g, want, scale, dps=40)) <= 8e-16:
                bad.append(f"cel{args} = {g!r}: rel err {err:.2e}")
    assert not bad, "\n".join(bad)


@pytest.mark.parametrize("args,message", [
    ((0.0, 0.5, 1.0, 1.0), MESSAGES["cel_kc"]),
    ((-0.0, 0.5, 1.0, 1.0), MESSAGES["cel_kc"]),
    ((0.5, 0.0, 1.0, 1.0), MESSAGES["cel_p"]),
    ((0.5, -2.0, 1.0, 1.0), MESSAGES["cel_p"]),
    ((0.0, -2.0, 1.0, 1.0), MESSAGES["cel_kc"]),
])
def test_domain_errors(args, message):
    with pytest.raises(RuntimeError) as exc:
        kern.cel(*args)
    assert str(exc.value) == message


@pytest.mark.parametrize("args", [(math.nan, 0.5, 1.0, 1.0), (0.5, math.nan, 1.0, 1.0), (0.5, 0.5, math.nan, 1.0),
                                  (0.5, 0.5, 1.0, math.nan)])
def test_nan_passes_the_checks(args):
    assert math.isnan(kern.cel(*args))


def test_negative_kc_is_its_magnitude():
    # Only kc² enters the integral.
    for kc in (1e-10, 0.4, 2.0):
        assert kern.cel(-kc, 0.7, 1.0, 2.0) == kern.cel(kc, 0.7, 1.0, 2.0)
