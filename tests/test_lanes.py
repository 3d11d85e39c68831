"""The magnifications taken several radii at a time (vector lanes) are the scalar ones, bit for bit.

The radius integrals evaluate their ring and concentric-disk magnifications in batches, four or two
at a time, each lane with the scalar operations and its own stopping pass. Here every batch value
is compared with the public scalar function at the same point: batches of every length (so the
padded last chunk is covered), lanes that converge at very different passes side by side, and the
special points (the lens on the ring, radii that need rescaling, NaN)."""
import math
import struct

import numpy as np
import pytest

import velmora
from _kernels import load

kern = load()


def bits(x):
    return struct.pack("<d", x)


def mismatches(got, want, where):
    return [(w, g, e) for w, g, e in zip(where, got, want) if bits(g) != bits(e) and not (math.isnan(g) and math.isnan(e))]


def radii(l, rng, n):
    """n radii mixing far, near (1e-13 to 1e-3 from l) and special ones."""
    near = l + rng.choice([-1, 1], n) * 10.0 ** rng.uniform(-13, -3, n)
    far = rng.uniform(0, 1, n)
    pick = rng.uniform(0, 1, n) < 0.5
    out = np.where(pick, near, far)
    return [float(abs(x)) for x in out]


SPECIAL = [0.0, 1e-300, 1.0, 2e150, 1e300, math.nan, -0.5, math.inf]


@pytest.mark.parametrize("avx", [True, False], ids=["widest", "two"])
@pytest.mark.parametrize("rstar", [1e-6, 0.05, 1.0, 1e4, 1e-160])
def test_rings_are_the_scalar_ring(avx, rstar):
    rng = np.random.default_rng(11)
    bad = []
    for n in range(1, 12):
        for l in (0.0, 0.3, 0.999, 1.0, 1.7, float(rng.uniform(0, 3))):
            r = radii(l, rng, n) + ([l] if n % 3 == 0 else []) + (SPECIAL[n % len(SPECIAL):][:2] if n % 2 else [])
            got = kern.rings(l, r, 1.0, rstar, avx)
            want = [velmora.heyrovsky_magnification(l, x, 1.0, rstar) for x in r]
            bad += mismatches(got, want, [(l, x) for x in r])
    assert not bad, bad[:20]


@pytest.mark.parametrize("avx", [True, False], ids=["widest", "two"])
@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_concentric_disks_are_the_scalar_disk(avx, rho):
    rng = np.random.default_rng(12)
    bad = []
    for n in range(1, 12):
        for l in (0.0, 0.3, 0.999, 1.0, 1.7, 20.0, float(rng.uniform(0, 3))):
            # r = l puts the lens on a concentric limb, small r takes the far field
            r = [x for x in radii(l, rng, n) if x > 0] + [1.0, l or 0.5, 1e-3]
            got = kern.concentric(l, rho, r, avx)
            want = [velmora.witt_mao_magnification([l / x], 1.0, x * rho)[0] for x in r]
            bad += mismatches(got, want, [(l, x) for x in r])
    assert not bad, bad[:20]


@pytest.mark.parametrize("avx", [True, False], ids=["widest", "two"])
@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_ring_pairs_are_the_scalar_pair(avx, rho):
    # The centroid's pairs (ring magnification, shift numerator) sort each batch into the two forms
    # (m above or below 1/2) and run each in lanes: every pair is the scalar one, whichever form and
    # lane it fell in, the special radii (the lens on the ring, the lens at the centre, huge lengths)
    # included.
    rng = np.random.default_rng(13)
    bad = []
    for n in range(1, 12):
        for l in (0.0, 0.3, 0.999, 1.0, 1.7, float(rng.uniform(0, 3))):
            r = radii(l, rng, n) + [l, 0.17 * l, 5.8 * l, 1.0][: n % 5] + (SPECIAL[n % len(SPECIAL):][:2] if n % 2 else [])
            got = kern.ring_pairs(l, rho, r, avx)
            want = [kern.ring_pair(l, x, rho) for x in r]
            for part in (0, 1):
                bad += mismatches([g[part] for g in got], [w[part] for w in want], [(l, x, part) for x in r])
    assert not bad, bad[:20]


@pytest.mark.parametrize("avx", [True, False], ids=["widest", "two"])
@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_centroid_far_fields_are_the_scalar_series(avx, rho):
    # The centroid's far-field series taken several positions at a time: lanes whose positions need
    # different numbers of terms side by side (l from 3 to 1e8 across every switch of the count),
    # with a profile's weights and with unit weights.
    rng = np.random.default_rng(14)
    switches = [4.6, 5.2, 6.2, 7.6, 10.0, 32.0, 70.0, 200.0, 2e3, 1e6]
    l = [float(x) for x in rng.permutation(np.concatenate([
        10 ** rng.uniform(np.log10(3), 8, 37), switches, np.nextafter(switches, 0), [3.0, 1e300]]))]
    for weights in ([1.0] * 12, [0.9 ** k * (k + 2) / 3 for k in range(12)]):
        magnifications = [1.0 + 1.0 / max(x * rho, 1.0) for x in l]
        bad = []
        for n in range(1, len(l) + 1, 7):
            got = kern.centroid_far_fields(l[:n], rho, weights, magnifications[:n], avx)
            want = [kern.centroid_far_field(x, rho, weights, a) for x, a in zip(l[:n], magnifications[:n])]
            bad += mismatches(got, want, l[:n])
        assert not bad, bad[:20]


@pytest.mark.parametrize("avx", [True, False], ids=["widest", "two"])
@pytest.mark.parametrize("rho", [1e-6, 0.05, 1.0, 1e4])
def test_concentric_derivatives_are_the_scalar_ones(avx, rho):
    # The gradients' concentric disks: closed-form radii and far-field ones (r below l/4, where the
    # series serves, each with its own source radius r·rho) sorted into their own lanes, beside the
    # lens on a concentric limb (r = l) and radii near it; each is the scalar derivative bit for bit.
    rng = np.random.default_rng(15)
    bad = []
    for n in range(1, 14):
        for l in (0.3, 0.999, 1.0, 1.7, 3.5, float(rng.uniform(0, 4))):
            r = [x for x in radii(l, rng, n) if x > 0] + list(rng.uniform(0, l / 4, n)) + [l, 1.0, l / 4][: n % 4]
            d_u, d_rho = kern.concentric_derivatives(l, rho, r, avx)
            want = [kern.concentric_derivative(l, x, rho) for x in r]
            bad += mismatches(d_u, [w[0] for w in want], [(l, x, "u") for x in r])
            bad += mismatches(d_rho, [w[1] for w in want], [(l, x, "rho") for x in r])
    assert not bad, bad[:20]
