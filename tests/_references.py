"""High-precision references for the closed forms, shared by the tests.

Both are evaluated by mpmath from the exact double inputs at 60 digits, with the characteristic n
and the parameter m formed from the geometry in that precision: near the limb and the ring their
complements 1 − n and 1 − m are ~1e-24 and keep 36 digits, and far from the source the disk's three
terms of size ~l² cancel with 44 digits to spare at l = 1e8."""
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


def point_lens(u):
    with mp.workdps(DPS):
        u = mp.mpf(u)
        return (u * u + 2) / (u * mp.sqrt(u * u + 4))


def rel_err(got, want):
    with mp.workdps(30):
        return float(abs(mp.mpf(got) - want) / abs(want))


def assert_all_ok(bad):
    assert not bad, f"{len(bad)} bad point(s):\n" + "\n".join(bad)
