"""Any linear limb-darkening coefficient from the built-in law (c = 0.6) and the uniform disk.

The magnification is linear in the brightness profile, so for I_c(r) = 1 - c(1 - sqrt(1 - r^2))
    M_c = [(1 - 5c/3) W + (4c/3) M] / (1 - c/3),
with W the uniform disk and M the built-in law. Checked against mpmath integrals of the ring
magnification weighted by 1 and by mu = sqrt(1 - r^2) (tests/data/power_integrals.json), combined
for I_c and normalised by pi(1 - c/3) exactly, on the ring route (W from a one-knot flux map and
from the closed form) and on the disk route, and the other codes' conventions (MulensModel's
Gamma, VBMicrolensing's a1) against those codes.
"""
import math

import mpmath as mp
import pytest

import velmora

from _references import stored_law
from _support import assert_all_ok, rel_err

COEFFICIENTS = [0.0, 0.3, 0.6, 0.8, 1.0]
RHOS = [1e-3, 0.5]
LENS = [0.0, 0.3, 0.9, 0.998, 1.0, 1.5, 10.0]
# Every route and either W, the limb included: measured within 4.3e-14 (the identity's two terms
# carry the law's own error and the stored normaliser's bias of 1.6e-14).
TOL = 1e-13


def identity(c, w, m):
    return [((1 - 5 * c / 3) * wi + (4 * c / 3) * mi) / (1 - c / 3) for wi, mi in zip(w, m)]


def reference(l, rho, c):
    return stored_law(l, rho, c)


def collect(bad, label, got, ref, tol):
    err = rel_err(got, ref)
    if not err <= tol:  # NaN fails too
        bad.append(f"{label}: got {got!r}, want {mp.nstr(ref, 17)}, rel err {err:.2e} > {tol:.0e}")


@pytest.mark.parametrize("rho", RHOS)
@pytest.mark.parametrize("c", COEFFICIENTS)
def test_linear_coefficient_by_identity(c, rho):
    re, rstar = 1.0, rho
    m_ring = velmora.integrated_heyrovsky_magnification(LENS, re, rstar)
    w_map = velmora.integrated_flux_map_heyrovsky_magnification(LENS, re, rstar, [0.0], [1.0])
    w_closed = velmora.witt_mao_magnification(LENS, re, rstar)
    m_disk = velmora.integrated_witt_mao_magnification(LENS, re, rstar)
    bad = []
    for l, got in zip(LENS, identity(c, w_map, m_ring)):
        collect(bad, f"ring route, one-knot map W, c={c} rho={rho} l={l}", got, reference(l, rho, c), TOL)
    for l, got in zip(LENS, identity(c, w_closed, m_ring)):
        collect(bad, f"ring route, closed-form W, c={c} rho={rho} l={l}", got, reference(l, rho, c), TOL)
    for l, got in zip(LENS, identity(c, w_closed, m_disk)):
        collect(bad, f"disk route, c={c} rho={rho} l={l}", got, reference(l, rho, c), TOL)
    assert_all_ok(bad)


def test_identity_reproduces_the_built_in_law():
    """At c = 0.6 the identity's W coefficient vanishes and M_c is M itself (to rounding)."""
    m = velmora.integrated_heyrovsky_magnification(LENS, 1.0, 0.05)
    w = velmora.witt_mao_magnification(LENS, 1.0, 0.05)
    bad = [f"l={l}: {got!r} vs {want!r}" for l, got, want in zip(LENS, identity(0.6, w, m), m)
           if not abs(got - want) <= 4e-16 * want]
    assert not bad, "\n".join(bad)


# --- other codes' conventions -------------------------------------------------------------------
# A point inside the source and one just outside, rho = 0.01: the peers are good to ~1e-4 there, while
# confusing the conventions (Gamma taken for c) changes the result by 1e-3 to 1e-2.
PEER_POINTS = [(0.5, 0.01), (1.3, 0.01)]
PEER_TOL = 1e-3


def velmora_linear(l, rho, c):
    w = velmora.integrated_flux_map_heyrovsky_magnification([l], 1.0, rho, [0.0], [1.0])
    m = velmora.integrated_heyrovsky_magnification([l], 1.0, rho)
    return identity(c, w, m)[0]


def check_convention(c, magnifications, peer, wrong_label, right_label):
    """A peer's magnification under the converted coefficient matches velmora's at c, and under
    the wrong one it does not fit as well; magnifications(l, rho) gives (converted, wrong)."""
    bad = []
    for l, rho in PEER_POINTS:
        theirs, wrong = magnifications(l, rho)
        ours = velmora_linear(l, rho, c)
        if not abs(theirs / ours - 1) <= PEER_TOL:
            bad.append(f"l={l} rho={rho}: {peer} gives {theirs}, velmora c={c} {ours}")
        if abs(wrong / ours - 1) <= 3 * abs(theirs / ours - 1):
            bad.append(f"l={l} rho={rho}: {wrong_label} ({wrong}) fits as well as {right_label}: the check is blind")
    assert_all_ok(bad)


@pytest.mark.parametrize("c", [0.3, 0.8])
def test_mulensmodel_gamma_convention(c):
    mm = pytest.importorskip("MulensModel")
    np = pytest.importorskip("numpy")
    gamma = 2 * c / (3 - c)
    assert math.isclose(3 * gamma / (2 + gamma), c)

    def magnifications(l, rho):
        model = mm.Model({"t_0": 0.0, "u_0": l * rho, "t_E": 1.0, "rho": rho})
        model.set_magnification_methods([-1.0, "finite_source_LD_Lee09", 1.0])
        return tuple(float(model.get_magnification(np.array([0.0]), gamma=g)[0]) for g in (gamma, c))
    check_convention(c, magnifications, f"MulensModel Gamma={gamma:.4f}", "Gamma = c", "the conversion")


@pytest.mark.parametrize("c", [0.3, 0.8])
def test_vbmicrolensing_a1_convention(c):
    vbm = pytest.importorskip("VBMicrolensing")
    vb = vbm.VBMicrolensing()
    vb.Tol = 1e-5

    def magnifications(l, rho):
        values = []
        for a1 in (c, 2 * c / (3 - c)):  # the second: MulensModel's Gamma taken for a1
            vb.a1 = a1
            values.append(vb.ESPLMagDark(l * rho, rho))
        return values
    check_convention(c, magnifications, f"VBMicrolensing a1={c}", "a1 = Gamma", "a1 = c")
