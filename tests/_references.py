"""High-precision references for the closed forms, shared by the tests.

Both are evaluated by mpmath from the exact double inputs at 60 digits, with the characteristic n
and the parameter m formed from the geometry in that precision: near the limb and the ring their
complements 1 − n and 1 − m are ~1e-24 and keep 36 digits, and far from the source the disk's three
terms of size ~l² cancel with 44 digits to spare at l = 1e8."""
import bisect

import mpmath as mp

DPS = 60


def disk_mp(l, rho):
    """Uniform-disk (Witt–Mao) magnification, lens at l source radii, source radius rho Einstein radii."""
    with mp.workdps(DPS):
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


def _ring_carlson(l, r, eps):
    """The ring magnification by Carlson's integrals at 34 digits, complements from the geometry:
    fast enough to integrate over r, and with nothing in common with the code's Bulirsch form."""
    with mp.workdps(34):
        l, r = mp.mpf(l), mp.mpf(r)
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


def radius_integral_mp(l, rho, profile, knots=()):
    """(∫₀¹ 2πr A(l, r) P(r) dr) by mpmath's tanh-sinh rule at 20 digits over the pieces of _cuts."""
    eps = 1 / mp.mpf(rho)
    with mp.workdps(20):
        def integrand(r):
            a = _ring_carlson(l, r, eps)
            return 2 * mp.pi * r * a * profile(r) if mp.isfinite(a) else 0
        return mp.quad(integrand, _cuts(l, eps, knots))


LAW_NORM = 2.5132741228717936  # the law's normaliser as the functions store it


def law_mp(l, rho):
    """The fixed limb-darkening law I(r) = 1 − 0.6(1 − √(1 − r²)), divided by the stored normaliser."""
    return radius_integral_mp(l, rho, lambda r: 1 - mp.mpf(0.6) * (1 - mp.sqrt(1 - r * r))) / LAW_NORM


def table_mp(l, rho, bl, bf):
    """A flux map read by linear interpolation, 0 outside it, over its exact normaliser."""
    def profile(r):
        if r < bl[0] or r > bl[-1]:
            return mp.mpf(0)
        i = min(bisect.bisect_right(bl, r) - 1, len(bl) - 2)
        return bf[i] + (r - bl[i]) / (mp.mpf(bl[i + 1]) - bl[i]) * (mp.mpf(bf[i + 1]) - bf[i])
    with mp.workdps(20):
        norm = mp.quad(lambda r: 2 * mp.pi * r * profile(r), _cuts(2, 1, bl))
    return radius_integral_mp(l, rho, profile, bl) / norm
