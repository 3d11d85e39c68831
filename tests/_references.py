"""High-precision references, shared by the tests, the benchmarks and scripts/make_references.py.

Three kinds, each independent of the code under test:
- the closed forms (Witt–Mao disk, Heyrovský ring) evaluated by mpmath from the exact double
  inputs at 60 digits, with the characteristic n and the parameter m formed from the geometry in
  that precision: near the limb and the ring their complements 1 − n and 1 − m are ~1e-24 and keep
  36 digits, and far from the source the disk's three terms of size ~l² cancel with 44 digits to
  spare at l = 1e8;
- the plain averages of the point-lens magnification over the disk or around the ring, which share
  nothing with the elliptic integrals;
- radius integrals of the ring magnification (Carlson's form at 34 digits, mpmath's tanh-sinh rule
  at 20 digits, split at r = l, the knots and the ring's width). These are slow, so
  scripts/make_references.py stores them in tests/data/ and the tests read them there
  (`load_data`); tests/test_reference_data.py recomputes a sample of every file on each run.
"""
import bisect
import json
import math
import pathlib
from fractions import Fraction

import mpmath as mp

DPS = 60
DATA = pathlib.Path(__file__).resolve().parent / "data"


# ---------------------------------------------------------------------------------------------
# Closed forms.

def disk_mp(l, rho, dps=DPS):
    """Uniform-disk (Witt–Mao) magnification, lens at l source radii, source radius rho Einstein radii,
    at dps digits."""
    with mp.workdps(dps):
        l, rho = mp.mpf(l), mp.mpf(rho)
        u = l * rho
        d, s = u - rho, u + rho
        if d == 0:  # on the limb: the limit of the closed form
            return (2 * mp.atan(rho) * (1 + 1 / rho**2) + 2 / rho) / mp.pi
        big_s = mp.sqrt(d * d + 4)
        n = 4 * rho * u / s**2
        m = 4 * n / (d * d + 4)
        e, k = mp.ellipe(m), mp.ellipk(m)
        pi = mp.ellippi(n, m) if n else k
        t = (e * big_s * s / (2 * rho**2) - k * d * ((u * u - rho * rho) / 2 + 4) / (rho**2 * big_s)
             + pi * 2 * (1 + rho**2) * d * d / (rho**2 * s * big_s))
        return t / mp.pi


def ring_mp(l, r, eps):
    """Thin-ring (Heyrovský) magnification: ring radius r, lens at l, Einstein radius eps (source radii).

    +inf with the lens on the ring."""
    with mp.workdps(DPS):
        l, r, eps = mp.mpf(l), mp.mpf(r), mp.mpf(eps)
        f, big_s = r - l, l + r
        if f == 0:
            return mp.inf
        d = 4 * eps**2 + f * f
        m = 16 * eps**2 * l * r / (big_s**2 * d)
        n = 4 * l * r / big_s**2
        k = mp.ellipk(m)
        pi = mp.ellippi(n, m) if n else k
        return (2 * eps**2 * k + f * f * pi) * 4 / (big_s * mp.sqrt(d)) / (2 * mp.pi)


def point_lens(u, dps=DPS):
    """The point-source magnification A(u) = (u² + 2)/(u√(u² + 4)), u in Einstein radii, at dps
    digits (None: the precision in force)."""
    with mp.workdps(dps or mp.mp.dps):
        u = mp.mpf(u)
        return (u * u + 2) / (u * mp.sqrt(u * u + 4))


# ---------------------------------------------------------------------------------------------
# Derivatives of the uniform disk, u = l·rho and rho in Einstein radii.

GRADIENT_DPS = 100


def disk_gradient_mp(l, rho, dps=GRADIENT_DPS):
    """(W, dW/du at fixed rho, dW/drho at fixed u) by central differences of the closed form at dps
    digits, with steps 10^(-dps/3) of the lens's distance to the limb (and of u, rho): the truncation
    error is ~h² relative and the closed form's rounding ~10^-dps/h. At 60 digits the closed form
    loses ~30 digits next to the limb of a large disk (rho = 1e4, |l - 1| = 1e-9), hence 100.
    +-inf on the limb, where both diverge like log|l - 1|."""
    with mp.workdps(dps):
        l, rho = mp.mpf(l), mp.mpf(rho)
        value = disk_mp(l, rho, dps)
        if l == 1:
            return value, -mp.inf, mp.inf
        u = l * rho
        step = mp.mpf(10) ** (-(dps // 3))
        h = step * min(u if l else rho, rho * abs(l - 1))
        d_u = (disk_mp((u + h) / rho, rho, dps) - disk_mp((u - h) / rho, rho, dps)) / (2 * h)
        h = step * rho * min(1, abs(l - 1))
        d_rho = (disk_mp(u / (rho + h), rho + h, dps) - disk_mp(u / (rho - h), rho - h, dps)) / (2 * h)
        return value, d_u, d_rho


def disk_boundary_d_u(l, rho, dps=30):
    """dW/du by the divergence theorem, (1/(pi rho)) * integral over the rim of A·cos(theta) dtheta,
    theta measured from the rim point nearest the lens: a quadrature of the point-lens magnification
    only (no elliptic integral), split where the integrand peaks (width ~|l - 1|)."""
    with mp.workdps(dps):
        l, rho = mp.mpf(l), mp.mpf(rho)
        u = l * rho
        w = abs(l - 1) or mp.mpf(1)
        pts = [mp.mpf(0)] + [w * 10**j for j in range(0, 12) if w * 10**j < mp.pi] + [mp.pi]
        # the rim point at angle t from the lens side is at distance sqrt((u - rho)² + 2u·rho(1 - cos t))
        f = lambda t: -point_lens(mp.sqrt((u - rho) ** 2 + 2 * u * rho * (1 - mp.cos(t))), dps=None) * mp.cos(t)
        return 2 * mp.quad(f, pts) / (mp.pi * rho)


# ---------------------------------------------------------------------------------------------
# Plain averages of the point-lens magnification (no elliptic integral anywhere).

AVERAGE_DPS = 30


def disk_average(l, rho):
    """Mean of A over the disk, in polar coordinates about the lens (F(u) = u*sqrt(u^2+4)/2)."""
    with mp.workdps(AVERAGE_DPS):
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


def ring_average(l, r, rho, dps=AVERAGE_DPS):
    """Mean of A around the ring; the integrand peaks at phi = 0 with width ~|r - l|/sqrt(l r)."""
    with mp.workdps(dps):
        l, r, rho = mp.mpf(l), mp.mpf(r), mp.mpf(rho)
        if l == 0:
            return point_lens(rho * r, dps=None)
        dist = lambda p: mp.sqrt((r - l) ** 2 + 2 * l * r * (1 - mp.cos(p)))
        w = abs(r - l) / mp.sqrt(l * r)
        pts = [mp.mpf(0)] + [w * 10**j for j in range(-1, 8) if w * 10**j < mp.pi] + [mp.pi]
        return mp.quad(lambda p: point_lens(rho * dist(p), dps=None), pts) / mp.pi


# ---------------------------------------------------------------------------------------------
# Radius integrals.

def ring_carlson(l, r, rho):
    """The ring magnification by Carlson's integrals at 34 digits, complements from the geometry:
    fast enough to integrate over r, and with nothing in common with the code's Bulirsch form.
    rho is the source radius in Einstein radii (the double given), so ε = 1/ρ is formed at 34 digits."""
    with mp.workdps(34):
        l, r, eps = mp.mpf(l), mp.mpf(r), 1 / mp.mpf(rho)
        f, big_s = r - l, l + r
        if f == 0:
            return mp.inf
        d = 4 * eps**2 + f * f
        n = 4 * l * r / big_s**2
        kc2 = f * f * (big_s**2 + 4 * eps**2) / (big_s**2 * d)  # 1 − m
        k = mp.elliprf(0, kc2, 1)
        pi = k + n / 3 * mp.elliprj(0, kc2, 1, f * f / big_s**2)
        return (2 * eps**2 * k + f * f * pi) * 4 / (big_s * mp.sqrt(d)) / (2 * mp.pi)


def _cuts(l, eps, knots=()):
    """Where mpmath's quadrature splits [0, 1]: the knots, r = l, the ring's width 2ε around it, and
    a geometric grading toward the limb when the lens is close to it."""
    l = mp.mpf(l)
    pts = {mp.mpf(0), mp.mpf(1)} | {mp.mpf(k) for k in knots if 0 < k < 1}
    near = [l] + [l + s * 2 * eps * mp.mpf(10)**j for j in range(4) for s in (-1, 1)]
    gap = abs(l - 1)
    if 0 < gap < 0.1:
        near += [x - gap * mp.mpf(10)**j for j in range(14) for x in (1, l)]
    return sorted(pts | {x for x in near if 0 < x < 1})


INTEGRAL_DPS = 20


def radius_integral_mp(l, rho, profile, knots=(), dps=INTEGRAL_DPS):
    """∫₀¹ 2πr A_ring(l, r) P(r) dr by mpmath's tanh-sinh rule at 20 digits (or dps) over the pieces
    of _cuts (a node that rounds onto r = l sees the lens on the ring, +inf, and gets no weight)."""
    with mp.workdps(dps):
        def integrand(r):
            a = ring_carlson(l, r, rho)
            return 2 * mp.pi * r * a * profile(r) if mp.isfinite(a) else 0
        return mp.quad(integrand, _cuts(l, 1 / mp.mpf(rho), knots))


def power_integral_mp(l, rho, p, dps=INTEGRAL_DPS):
    """J_p = ∫₀¹ 2πr A_ring(l, r) μ^p dr with μ = √(1 − r²): the pieces of every power law."""
    p = mp.mpf(p)
    return radius_integral_mp(l, rho, lambda r: mp.sqrt(1 - r * r) ** p if p else mp.mpf(1), dps=dps)


def peaked_power_law_mp(l, rho, p):
    """The magnification of the single power μ^p for a large p, whose profile is a peak of width
    ~1/√p at the centre: the radius integral split at multiples of that width as well, at 30 digits
    (μ^p multiplies the relative error of μ by p), over N = 2π/(p + 2)."""
    with mp.workdps(30):
        p, width = mp.mpf(p), 1 / mp.sqrt(p)
        knots = [width * k for k in (0.5, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48) if width * k < 1]

        def integrand(r):
            a = ring_carlson(l, r, rho)
            return 2 * mp.pi * r * a * (1 - r * r) ** (p / 2) if mp.isfinite(a) else 0
        return mp.quad(integrand, sorted(set(_cuts(l, 1 / mp.mpf(rho), knots)) | set(knots))) * (p + 2) / (2 * mp.pi)


def central_gradient_mp(value, l, rho, which, knots=()):
    """d/du at fixed rho (which "u") or d/drho at fixed u (which "rho"), u = l*rho, of value(l, rho,
    dps) by the five-point central difference (f(-2h) - 8f(-h) + 8f(h) - f(2h))/(12h), the stencil
    formed at 40 digits. The step is 1e-3 of the scale L on which the value varies (the lens's
    distance to the limb rho|l - 1| and to the profile's knots, to the centre u, the source radius
    and the Einstein radius): truncation ~(h/L)^4/30 ~ 3e-14 relative, and the quadrature's relative
    error grows by (L/h)·value/(L·derivative), up to 1e12 within 1e-6 of the limb, where the
    quadrature runs at 32 digits instead of 20. 0 for d/du at the centre (the value is even in u)."""
    with mp.workdps(40):
        l, rho = mp.mpf(l), mp.mpf(rho)
        u = l * rho
        if which == "u" and l == 0:
            return mp.mpf(0)
        scale = min([rho * abs(l - 1)] * (l != 1) + [rho * abs(l - k) for k in knots if k != l] + [rho, mp.mpf(1)])
        if which == "u":
            scale = min(scale, u)
            f = lambda x, dps: value(x / rho, rho, dps)
            x0 = u
        else:
            f = lambda y, dps: value(u / y, y, dps)
            x0 = rho
        h = scale / 1000
        dps = 32 if abs(l - 1) < mp.mpf("1e-6") else INTEGRAL_DPS
        values = [mp.mpf(f(x0 + k * h, dps)) for k in (-2, -1, 1, 2)]
        return (values[0] - 8 * values[1] + 8 * values[2] - values[3]) / (12 * h)


def power_integral_gradient_mp(l, rho, p, which):
    """dJ_p/du at fixed rho or dJ_p/drho at fixed u (central_gradient_mp of power_integral_mp)."""
    return central_gradient_mp(lambda x, y, dps: power_integral_mp(x, y, p, dps), l, rho, which)


def table_gradient_mp(l, rho, bl, bf, which):
    """A flux map's dA/du at fixed rho or dA/drho at fixed u (central_gradient_mp of table_mp)."""
    norm = exact_normaliser(bl, bf)
    return central_gradient_mp(
        lambda x, y, dps: radius_integral_mp(x, y, table_profile(bl, bf), bl, dps=dps) / norm, l, rho, which, bl)


LAW_C = 0.6  # the built-in law's linear coefficient
# The law's normaliser as the functions store it: the double nearest 0.8π would be 2.5132741228718345;
# the stored one is 1.6e-14 below 0.8π, a relative bias of 1.6e-14 that the references below do not
# share (they divide by 0.8π itself).
LAW_NORM = 2.5132741228717936


def linear_law_from_powers(j0, j1, c=LAW_C):
    """The magnification of I(r) = 1 − c(1 − μ) from J_0 and J_1, over its exact normaliser π(1 − c/3)."""
    with mp.workdps(INTEGRAL_DPS + 10):
        c = mp.mpf(c)
        return ((1 - c) * mp.mpf(j0) + c * mp.mpf(j1)) / (mp.pi * (1 - c / 3))


def law_mp(l, rho, c=LAW_C):
    """The linear limb-darkening law with coefficient c (the built-in law at 0.6), exactly normalised."""
    return linear_law_from_powers(power_integral_mp(l, rho, 0), power_integral_mp(l, rho, 1), c)


def table_profile(bl, bf):
    """A flux map read by linear interpolation, 0 outside it; one knot is constant everywhere."""
    def profile(r):
        if len(bl) == 1:
            return mp.mpf(bf[0])
        if r < bl[0] or r > bl[-1]:
            return mp.mpf(0)
        i = min(bisect.bisect_right(bl, r) - 1, len(bl) - 2)
        return bf[i] + (r - bl[i]) / (mp.mpf(bl[i + 1]) - bl[i]) * (mp.mpf(bf[i + 1]) - bf[i])
    return profile


def exact_normaliser(bl, bf):
    """N = ∫₀¹ 2πr P(r) dr of the table read linearly (0 outside it), in exact rationals of the given
    doubles, times 2π at 40 digits."""
    if len(bl) == 1:
        total = Fraction(bf[0]) / 2
    else:
        total = Fraction(0)
        for (x0, y0), (x1, y1) in zip(zip(bl, bf), zip(bl[1:], bf[1:])):
            a, b = max(Fraction(x0), Fraction(0)), min(Fraction(x1), Fraction(1))
            if b <= a:
                continue
            slope = (Fraction(y1) - Fraction(y0)) / (Fraction(x1) - Fraction(x0))
            c = Fraction(y0) - slope * Fraction(x0)
            total += c * (b * b - a * a) / 2 + slope * (b**3 - a**3) / 3
    with mp.workdps(40):
        return 2 * mp.pi * mp.mpf(total.numerator) / total.denominator


def table_mp(l, rho, bl, bf):
    """A flux map's magnification: its radius integral over its exact normaliser."""
    return radius_integral_mp(l, rho, table_profile(bl, bf), bl) / exact_normaliser(bl, bf)


# ---------------------------------------------------------------------------------------------
# Many-knot flux maps: adaptive quadrature in double precision, mpmath beside the lens.

def ring_scipy(l, r, rho):
    """The ring magnification in doubles by SciPy's Carlson integrals, complements from the geometry
    (an independent double-precision evaluation: no Bulirsch, no Legendre forms)."""
    from scipy.special import elliprf, elliprj
    eps = 1 / rho
    f, big_s = r - l, l + r
    if f == 0:
        return math.inf
    d = 4 * eps * eps + f * f
    n = 4 * l * r / (big_s * big_s)
    kc2 = f * f * (big_s * big_s + 4 * eps * eps) / (big_s * big_s * d)
    k = float(elliprf(0.0, kc2, 1.0))
    pi = k + n / 3 * float(elliprj(0.0, kc2, 1.0, f * f / (big_s * big_s))) if n else k
    return (2 * eps * eps * k + f * f * pi) * 4 / (big_s * math.sqrt(d)) / (2 * math.pi)


def adaptive_table_mp(l, rho, bl, bf):
    """Ring route of a many-knot table by adaptive quadrature on every table segment (split at l).
    Segments within their own width of the lens go to mpmath at 12 digits (QUADPACK loses ~1e-7
    beside the logarithmic singularity); the others to SciPy's QUADPACK at 1e-13 with ring_scipy.
    Over the exact normaliser of the piecewise-linear profile."""
    import numpy as np
    from scipy import integrate
    profile = table_profile(bl, bf)
    points = sorted({0.0, 1.0, *[k for k in bl if 0 < k < 1], *([l] if 0 < l < 1 else [])})
    total = mp.mpf(0)
    for a, b in zip(points, points[1:]):
        if max(a - l, l - b) < b - a:
            def g(r):
                ring = ring_carlson(l, r, rho)
                return 2 * mp.pi * r * ring * profile(r) if mp.isfinite(ring) else 0
            with mp.workdps(12):
                total += mp.quad(g, [a, b])
            continue
        f = lambda r: 2 * math.pi * r * ring_scipy(l, r, rho) * np.interp(r, bl, bf)
        total += integrate.quad(f, a, b, epsabs=0, epsrel=1e-13, limit=200)[0]
    return total / exact_normaliser(bl, bf)


def spotted_law(n):
    """The law sampled on n evenly spaced knots with a bright belt at r ≈ 0.6."""
    bl = [k / (n - 1) for k in range(n)]
    bf = [(1 - LAW_C * (1 - math.sqrt(1 - r * r))) * (1 + 0.5 * math.exp(-((r - 0.6) / 0.03) ** 2)) for r in bl]
    return bl, bf


# ---------------------------------------------------------------------------------------------
# The astrometric centroid shift of a uniform disk.

def disk_centroid_shift_mp(l, rho, dps=DPS):
    """The centroid shift of a uniform disk (lens at l source radii, radius rho Einstein radii) from
    two boundary integrals, N/M − u, neither of which is the closed form under test:
    - N = ∫_disk g(s)·x/s dA, g(s) = (s² + 3)/√(s² + 4) the images' weighted centroid of a source
      point at distance s from the lens; g·x̂ = ∇h with h(s) = (s/2)√(s² + 4) + asinh(s/2), so by the
      divergence theorem N = ρ∫₀^2π h(s(θ))·cos θ dθ;
    - M = ∫_disk A(s) dA with A = ΔΦ, Φ'(s) = √(s² + 4)/2, so M = ρ∫₀^2π Φ'(s)·(ρ + u cos θ)/s dθ,
    s(θ)² = u² + ρ² + 2uρ cos θ. Both by tanh-sinh over [0, π/2] and [π/2, π] (the integrands are
    even in θ); the nearest point to the lens, θ = π, is an end point, where s vanishes on the limb.
    At dps digits: the last subtraction of u loses log10(u/shift) ≈ 2·log10(u) of them."""
    with mp.workdps(dps):
        l, rho = mp.mpf(l), mp.mpf(rho)
        u = l * rho
        if u == 0:
            return mp.mpf(0)

        def s_of(th):
            return mp.sqrt(u * u + rho * rho + 2 * u * rho * mp.cos(th))

        def h(s):
            return s / 2 * mp.sqrt(s * s + 4) + mp.asinh(s / 2)

        def flux(th):
            s = s_of(th)
            # on the limb the ratio (ρ + u cos θ)/s tends to 0 at θ = π (u = ρ)
            return mp.sqrt(s * s + 4) / 2 * (rho + u * mp.cos(th)) / s if s else mp.mpf(0)

        n = 2 * rho * mp.quad(lambda th: h(s_of(th)) * mp.cos(th), [0, mp.pi / 2, mp.pi])
        m = 2 * rho * mp.quad(flux, [0, mp.pi / 2, mp.pi])
        return n / m - u


def disk_centroid_shift_2d(l, rho, dps=15):
    """The same shift as a plain two-dimensional integral over the disk in polar coordinates about
    its centre (slow: for checking the boundary integrals at a few points)."""
    with mp.workdps(dps):
        l, rho = mp.mpf(l), mp.mpf(rho)
        u = l * rho

        def at(r, th):
            x, y = u + r * mp.cos(th), r * mp.sin(th)
            s = mp.sqrt(x * x + y * y)
            return s, x

        def g_x(r, th):
            s, x = at(r, th)
            return r * (s * s + 3) / mp.sqrt(s * s + 4) * x / s

        def a(r, th):
            s, _ = at(r, th)
            return r * (s * s + 2) / (s * mp.sqrt(s * s + 4))

        rs = [0, rho] if l >= 1 or l == 0 else [0, u, rho]
        n = 2 * mp.quad(g_x, rs, [0, mp.pi / 2, mp.pi])
        m = 2 * mp.quad(a, rs, [0, mp.pi / 2, mp.pi])
        return n / m - u


def ring_centroid_mp(l, r, rho, dps=40):
    """The ring's centroid-shift numerator Z = (1/2π)∮ [g(s)·x/s − u·A(s)] dθ over the ring of radius
    r (source radii) about the source centre, lens at l, source radius rho Einstein radii, as one
    quadrature in the Legendre variable ψ (θ = 2φ, then the Möbius map x = t/((1 − n') + n't),
    t = sin²ψ, of sin²φ = x; see models/centroid.cpp), with 1 − m from the geometry:
        Z = (1/(π(u + R)S⁵)) ∫₀^{π/2} (n₀ + n₁t + n₂t²)/((1 + ct)²·√(1 − m sin²ψ)) dψ,
    u = lρ, R = rρ. A quadrature of the integrand, not the code's Bulirsch derivatives; the tests
    check it against the plain mean around the ring (ring_centroid_average)."""
    with mp.workdps(dps):
        u, big_r = mp.mpf(l) * mp.mpf(rho), mp.mpf(r) * mp.mpf(rho)
        if u == 0:
            return mp.mpf(0)
        if big_r == 0:
            return 1 / mp.sqrt(u * u + 4)
        if u == big_r:
            return -mp.inf
        d, total = u - big_r, u + big_r
        sigma, s2 = total**2, d * d + 4
        c = 4 * u * big_r / s2
        kc2 = d * d * (sigma + 4) / (sigma * s2)  # 1 − m
        n0 = 2 * s2**2 * (big_r * sigma + 3 * big_r + u)
        n1 = -4 * big_r * s2 * (big_r**4 + 2 * big_r**3 * u + 2 * big_r**2 * u**2 + 7 * big_r**2 + 2 * big_r * u**3
                                + 10 * big_r * u + u**4 + 3 * u**2 + 12)
        n2 = 16 * big_r**2 * u * (big_r**2 + 3 * u**2 + 4)

        def f(psi):
            t = mp.sin(psi) ** 2
            return (n0 + n1 * t + n2 * t * t) / ((1 + c * t) ** 2 * mp.sqrt(mp.cos(psi) ** 2 + kc2 * t))
        kc = mp.sqrt(kc2)
        cuts = [mp.pi / 2 - kc * 10**j for j in range(0, 8) if kc * 10**j < 1]
        return mp.quad(f, [0, *sorted(cuts), mp.pi / 2]) / (mp.pi * total * s2**2 * mp.sqrt(s2))


def ring_centroid_average(l, r, rho, dps=AVERAGE_DPS):
    """The same numerator as the plain mean around the ring (slow; for checking ring_centroid_mp)."""
    with mp.workdps(dps):
        l, r, rho = mp.mpf(l), mp.mpf(r), mp.mpf(rho)
        u, big_r = l * rho, r * rho
        if u == 0:
            return mp.mpf(0)

        def f(q):  # q = 0 at the ring's point nearest the lens
            x = u - big_r * mp.cos(q)
            s = rho * mp.sqrt((r - l) ** 2 + 2 * l * r * (1 - mp.cos(q)))
            return ((s * s + 3) * x - u * (s * s + 2)) / (s * mp.sqrt(s * s + 4)) if s else mp.mpf(0)
        w = abs(r - l) / mp.sqrt(l * r)
        pts = [mp.mpf(0)] + [w * 10**j for j in range(-1, 8) if w * 10**j < mp.pi] + [mp.pi]
        return mp.quad(f, pts) / mp.pi


def centroid_power_integral_mp(l, rho, p):
    """Z_p = ∫₀¹ 2πr Z(l, r) μ^p dr (ring_centroid_mp at 30 digits) by tanh-sinh at 20 digits over the
    pieces of _cuts: a power law's shift is Σ w_j Z_p_j / Σ w_j J_p_j, J_p the magnification's
    integrals. Z_0 is J_0 = π·A_disk times the uniform disk's shift (disk_centroid_shift_mp)."""
    if p == 0:
        with mp.workdps(DPS):
            return mp.pi * disk_mp(l, rho) * disk_centroid_shift_mp(l, rho)
    p = mp.mpf(p)
    with mp.workdps(INTEGRAL_DPS):
        def integrand(r):
            z = ring_centroid_mp(l, r, rho, dps=30)
            return 2 * mp.pi * r * z * ((1 - r * r) ** (p / 2)) if mp.isfinite(z) else 0
        return mp.quad(integrand, _cuts(l, 1 / mp.mpf(rho)))


def flux_map_centroid_shift_mp(l, rho, bl, bf):
    """A flux map's centroid shift: ∫₀¹ 2πr Z(l, r) P(r) dr (ring_centroid_mp at 30 digits) over
    ∫₀¹ 2πr A_ring(l, r) P(r) dr (ring_carlson), both by tanh-sinh at 20 digits over the pieces of
    _cuts with the knots."""
    profile = table_profile(bl, bf)
    with mp.workdps(INTEGRAL_DPS):
        def integrand(r):
            z = ring_centroid_mp(l, r, rho, dps=30)
            return 2 * mp.pi * r * z * profile(r) if mp.isfinite(z) else 0
        numerator = mp.quad(integrand, _cuts(l, 1 / mp.mpf(rho), bl))
        return numerator / radius_integral_mp(l, rho, profile, bl)


# ---------------------------------------------------------------------------------------------
# Stored references (tests/data/*.json, written by scripts/make_references.py).

# The function that recomputes a row of each kind of file, from the row's inputs.
RECOMPUTE = {
    "power_integral": lambda row, tables: power_integral_mp(row["l"], row["rho"], row["p"]),
    "table": lambda row, tables: table_mp(row["l"], row["rho"], *tables[row["table"]]),
    "adaptive_table": lambda row, tables: adaptive_table_mp(row["l"], row["rho"], *tables[row["table"]]),
    "peaked_power": lambda row, tables: peaked_power_law_mp(row["l"], row["rho"], row["p"]),
    "power_gradient": lambda row, tables: power_integral_gradient_mp(row["l"], row["rho"], row["p"], row["which"]),
    "table_gradient": lambda row, tables: table_gradient_mp(row["l"], row["rho"], *tables[row["table"]], row["which"]),
    "disk_centroid_shift": lambda row, tables: disk_centroid_shift_mp(row["l"], row["rho"]),
    "centroid_power_integral": lambda row, tables: centroid_power_integral_mp(row["l"], row["rho"], row["p"]),
    "flux_map_centroid_shift": lambda row, tables: flux_map_centroid_shift_mp(row["l"], row["rho"], *tables[row["table"]]),
}


def load_data(name):
    """A reference file: its header, its tables by name (bl, bf) and its rows, each a dict of the
    inputs and `value`, an mpf."""
    data = json.loads((DATA / name).read_text())
    tables = {key: (t["bl"], t["bf"]) for key, t in data.get("tables", {}).items()}
    rows = []
    for entry in data["rows"]:
        row = dict(zip(data["columns"], entry))
        with mp.workdps(40):
            row["value"] = mp.mpf(row["value"])
        rows.append(row)
    return data, tables, rows


def stored_power_integrals():
    """{(l, rho, p): J_p} from tests/data/power_integrals.json."""
    _, _, rows = load_data("power_integrals.json")
    return {(r["l"], r["rho"], r["p"]): r["value"] for r in rows}


def stored_law(l, rho, c=LAW_C, _cache={}):
    """The linear law's reference at a stored point."""
    if not _cache:
        _cache.update(stored_power_integrals())
    return linear_law_from_powers(_cache[(l, rho, 0.0)], _cache[(l, rho, 1.0)], c)
