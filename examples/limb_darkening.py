"""Any limb-darkening law: a linear law of any coefficient exactly, other laws through flux maps.

1. Linear law I(r) = 1 - c(1 - mu), mu = sqrt(1 - r^2), any c. The magnification is linear in the
   brightness profile, so from the uniform disk W and velmora's built-in law M (c = 0.6):

       M_c = [(1 - 5c/3) W + (4c/3) M] / (1 - c/3)

   with no further approximation. Ring route: M = integrated_heyrovsky_magnification and W the
   one-knot flux map integrated_flux_map_heyrovsky_magnification(l, re, rstar, [0.0], [1.0]) (the
   same route, so their quadrature errors largely cancel) or witt_mao_magnification (1000 times
   cheaper). Disk route: M = integrated_witt_mao_magnification and W = witt_mao_magnification.
   Other codes' conventions: MulensModel's Gamma (I ∝ 1 - Gamma(1 - 1.5 mu)) is c = 3 Gamma/(2 + Gamma);
   VBMicrolensing's a1 is c itself.

2. Other laws (quadratic, square-root, logarithmic, power-2, a tabulated model-atmosphere-like
   profile) as flux maps: velmora interpolates a table (bl, bf) linearly, so the knots decide the
   accuracy. Knots uniform in theta = asin(r) crowd towards the limb, where every law of mu is
   steepest; the example compares them with uniform knots, finds for each law the number of knots
   that reaches 1e-6 and 1e-8 (ring route, largest relative error over several lens positions)
   and its cost per lens position. A polynomial law in mu needs fewer: take its constant and mu
   parts out exactly with the identity above and tabulate only the smooth rest (shown for the
   quadratic law, whose rest is b r^2).

The references integrate each law's profile over rings with mpmath (the ring magnification from
mpmath's elliptic integrals, 30 digits; about a second per lens position).
Needs mpmath (the `examples` extra: python -m pip install '.[examples]').
Usage: python examples/limb_darkening.py [--quick]   (--quick: fewer lens positions and knot counts)
"""
from __future__ import annotations

import argparse
import bisect
import functools
import math
import time
from typing import Any, Callable

import velmora

import _cli  # the point-source magnification (examples/_cli.py)

RE, RHO = 1.0, 0.05  # rho = rstar/re


# --- 1. the linear law, exactly -------------------------------------------------------------------

def linear_law(l: list[float], re: float, rstar: float, c: float, route: str = "ring",
               uniform: str = "map") -> list[float]:
    """Magnification of a source with the linear law I = 1 - c(1 - mu), by the identity.

    route "ring" (the more accurate near the limb) or "disk"; uniform "map" (the one-knot flux map
    of the same route) or "closed" (witt_mao_magnification, the closed form)."""
    if route == "ring":
        m = velmora.integrated_heyrovsky_magnification(l, re, rstar)
        w = (velmora.integrated_flux_map_heyrovsky_magnification(l, re, rstar, [0.0], [1.0])
             if uniform == "map" else velmora.witt_mao_magnification(l, re, rstar))
    else:
        m = velmora.integrated_witt_mao_magnification(l, re, rstar)
        w = velmora.witt_mao_magnification(l, re, rstar)
    a, b, n = 1.0 - 5.0 * c / 3.0, 4.0 * c / 3.0, 1.0 - c / 3.0
    return [(a * wi + b * mi) / n for wi, mi in zip(w, m)]


def gamma_to_c(gamma: float) -> float:
    """MulensModel's Gamma to the linear coefficient c."""
    return 3.0 * gamma / (2.0 + gamma)


def c_to_gamma(c: float) -> float:
    return 2.0 * c / (3.0 - c)


# --- 2. other laws as flux maps ---------------------------------------------------------------

Law = Callable[[Any, Any], Any]  # brightness of mu, with math or mpmath as the library


# Each law as a function of mu, written for both math and mpmath (lib.sqrt, lib.log).
def quadratic(mu: Any, lib: Any, a: float = 0.4, b: float = 0.25) -> Any:
    return 1 - a * (1 - mu) - b * (1 - mu) ** 2


def square_root(mu: Any, lib: Any, c: float = 0.25, d: float = 0.45) -> Any:
    return 1 - c * (1 - mu) - d * (1 - lib.sqrt(mu))


def logarithmic(mu: Any, lib: Any, e: float = 0.6, f: float = 0.2) -> Any:
    return 1 - e * (1 - mu) - (f * mu * lib.log(mu) if mu > 0 else 0)


def power_2(mu: Any, lib: Any, c: float = 0.65, alpha: float = 0.55) -> Any:
    return 1 - c * (1 - mu ** alpha)


# A model-atmosphere-like table I(mu_k) at the 17 angles of the ATLAS tabulations, linear in mu
# between them (values from a four-coefficient Claret law, a typical solar-type star in I).
ATLAS_MU = [1.0, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.25, 0.2, 0.15, 0.125, 0.1, 0.075, 0.05, 0.025, 0.01]
_CLARET = (0.56, -0.05, 0.37, -0.19)
ATLAS_I = [1 - sum(a * (1 - m ** ((k + 1) / 2)) for k, a in enumerate(_CLARET)) for m in ATLAS_MU]
ATLAS_R = sorted(math.sqrt(1.0 - m * m) for m in ATLAS_MU)  # the table's kinks in r


def tabulated(mu: Any, lib: Any) -> Any:
    """Linear in mu between the table's angles, and from mu = 0.01 to 0 along the last piece."""
    mus = ATLAS_MU[::-1]  # ascending
    values = ATLAS_I[::-1]
    i = min(max(bisect.bisect_right(mus, float(mu)) - 1, 0), len(mus) - 2)
    return values[i] + (mu - mus[i]) * (values[i + 1] - values[i]) / (mus[i + 1] - mus[i])


LAWS: dict[str, tuple[Law, str, list[float]]] = {
    # name: (law of mu, formula, radii where the profile has a kink)
    "quadratic": (quadratic, "1 - 0.4(1-mu) - 0.25(1-mu)^2", []),
    "square-root": (square_root, "1 - 0.25(1-mu) - 0.45(1-sqrt(mu))", []),
    "logarithmic": (logarithmic, "1 - 0.6(1-mu) - 0.2 mu ln(mu)", []),
    "power-2": (power_2, "1 - 0.65(1 - mu^0.55)", []),
    "tabulated": (tabulated, "17 angles, linear in mu", ATLAS_R[1:-1]),
}


def knots(n: int, layout: str, kinks: list[float] | None = None) -> list[float]:
    """n knots on [0, 1]: uniform in r or in theta = asin(r); the profile's kinks added."""
    if layout == "r":
        radii = [k / (n - 1) for k in range(n)]
    else:
        radii = [math.sin(0.5 * math.pi * k / (n - 1)) for k in range(n)]
    radii[-1] = 1.0
    return sorted(set(radii) | set(kinks or []))


def profile_of(law: Law) -> Callable[[float], float]:
    return lambda r: float(law(math.sqrt(max(0.0, 1.0 - r * r)), math))


def flux_map_magnification(l: list[float], law: Law, radii: list[float]) -> list[float]:
    bf = [profile_of(law)(r) for r in radii]
    return velmora.integrated_flux_map_heyrovsky_magnification(l, RE, RE * RHO, radii, bf)


def table_norm(radii: list[float], bf: list[float]) -> float:
    """∫ 2 pi r J(r) dr of the table J, linear between its knots (exactly)."""
    total = 0.0
    for r0, r1, f0, f1 in zip(radii, radii[1:], bf, bf[1:]):
        slope = (f1 - f0) / (r1 - r0)
        total += (f0 - slope * r0) * (r1 * r1 - r0 * r0) / 2 + slope * (r1 ** 3 - r0 ** 3) / 3
    return 2.0 * math.pi * total


def quadratic_split(l: list[float], radii: list[float], a: float = 0.4, b: float = 0.25) -> list[float]:
    """The quadratic law as (1 - a - 2b) + (a + 2b) mu + b r^2: the constant and the mu part exact
    (uniform disk and the identity), only b r^2 tabulated."""
    alpha, beta = 1 - a - 2 * b, a + 2 * b
    rest = [b * r * r for r in radii]
    w = velmora.integrated_flux_map_heyrovsky_magnification(l, RE, RE * RHO, [0.0], [1.0])
    m = velmora.integrated_heyrovsky_magnification(l, RE, RE * RHO)
    m_rest = velmora.integrated_flux_map_heyrovsky_magnification(l, RE, RE * RHO, list(radii), rest)
    n_rest = table_norm(radii, rest)
    norm = math.pi * alpha + 2 * math.pi / 3 * beta + math.pi * b / 2
    # ∫ 2 pi r mu A dr = pi (4 M - 2 W) / 3 (the linear law with c = 1)
    return [(math.pi * alpha * wi + beta * math.pi * (4 * mi - 2 * wi) / 3 + n_rest * ri) / norm
            for wi, mi, ri in zip(w, m, m_rest)]


# --- the mpmath reference ----------------------------------------------------------------------

def reference(l: float, rho: float, profile: Callable[[Any], Any], kinks: list[float] | None = None,
              digits: int = 17) -> Any:
    """(1/N) ∫ 2 pi r P(r) A_ring(l, r) dr with mpmath, split at r = l and at the kinks."""
    import mpmath as mp  # type: ignore[import-untyped]

    def ring(r: Any) -> Any:
        with mp.workdps(2 * digits + 10):  # nodes come within 1e-20 of r = l
            l_, r_, eps = mp.mpf(l), mp.mpf(r), 1 / mp.mpf(rho)
            if l_ == 0:
                return _cli.point_lens(r_ * rho, mp.sqrt)
            f = r_ - l_
            d = 4 * eps ** 2 + f ** 2
            m = 16 * eps ** 2 * l_ * r_ / ((l_ + r_) ** 2 * d)
            n = 4 * l_ * r_ / (l_ + r_) ** 2
            return mp.re(2 * eps ** 2 * mp.ellipk(m) + f ** 2 * mp.ellippi(n, m)) * 4 / ((l_ + r_) * mp.sqrt(d)) / (2 * mp.pi)

    with mp.workdps(digits):
        points = sorted({mp.mpf(0), mp.mpf(1), *map(mp.mpf, kinks or []), *([mp.mpf(l)] if 0 < l < 1 else [])})

        def numerator(r: Any) -> Any:
            a = ring(r)
            return 2 * mp.pi * r * a * profile(r) if mp.isfinite(a) else mp.mpf(0)

        return mp.quad(numerator, points) / mp.quad(lambda r: 2 * mp.pi * r * profile(r), points)


def linear_profile(c: float, r: Any) -> Any:
    import mpmath as mp
    return 1 - c * (1 - mp.sqrt(1 - r * r))


def mp_profile(law: Law) -> Callable[[Any], Any]:
    import mpmath as mp
    return lambda r: law(mp.sqrt(1 - r * r), mp)


def worst(got: list[float], want: list[Any]) -> float:
    return max(float(abs(g - w) / w) for g, w in zip(got, want))


def cost_us(function: Callable[[list[float]], list[float]]) -> float:
    """Microseconds per lens position, over 40 positions spread through and around the source
    (the fastest of three runs: timing on a shared machine is noisy)."""
    l = [0.05 * k + 0.013 for k in range(40)]
    best = math.inf
    for _ in range(3):
        start = time.perf_counter()
        function(l)
        best = min(best, time.perf_counter() - start)
    return 1e6 * best / len(l)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer lens positions and knot counts")
    args = parser.parse_args()
    try:
        import mpmath
    except ImportError:
        raise SystemExit("mpmath is not installed: python -m pip install mpmath"
                         " (from the source tree: python -m pip install '.[examples]')")

    lens = [0.3, 0.9, 1.5] if args.quick else [0.0, 0.3, 0.7, 0.9, 0.99, 1.0, 1.01, 1.5, 3.0]
    disk_lens = [l for l in lens if abs(l - 1.0) >= 1e-3]  # the disk route loses digits at the limb

    print(f"1. Linear law I = 1 - c(1 - mu), by the identity; rstar/re = {RHO}")
    print("   largest relative error against mpmath over l in", lens, "(disk route: without the limb)")
    print(f"{'c':>5} {'Gamma (MulensModel)':>19} {'ring + map W':>13} {'ring + closed W':>15} {'disk route':>11}   M_c at l = 0.3")
    for c in [0.0, 0.3, 0.6, 0.8, 1.0]:
        ref = [reference(l, RHO, functools.partial(linear_profile, c)) for l in lens]
        disk_ref = [x for l, x in zip(lens, ref) if abs(l - 1.0) >= 1e-3]
        ring_map = linear_law(lens, RE, RE * RHO, c, "ring", "map")
        ring_closed = linear_law(lens, RE, RE * RHO, c, "ring", "closed")
        disk = linear_law(disk_lens, RE, RE * RHO, c, "disk")
        print(f"{c:5.2f} {c_to_gamma(c):19.4f} {worst(ring_map, ref):13.1e} {worst(ring_closed, ref):15.1e}"
              f" {worst(disk, disk_ref):11.1e}   {linear_law([0.3], RE, RE * RHO, c)[0]:.12f}")

    counts = [21, 41, 81, 161, 321, 641, 1281, 2561] if args.quick else \
        [21, 41, 81, 161, 321, 641, 1281, 2561, 5121, 10241, 20481]
    print()
    print(f"2. Other laws as flux maps (ring route), rstar/re = {RHO}; largest relative error over l in {lens}")
    print(f"{'law':>12} {'profile':>35} | {'101 knots: uniform r':>20} {'uniform theta':>13} |"
          f" {'theta knots for 1e-6':>20} {'us/pt':>7} | {'for 1e-8':>8} {'us/pt':>7}")
    for name, (law, formula, kinks) in LAWS.items():
        ref = [reference(l, RHO, mp_profile(law), kinks) for l in lens]
        errors_101 = [worst(flux_map_magnification(lens, law, knots(101, layout, kinks)), ref) for layout in ("r", "theta")]
        found = {}
        for n in counts:
            radii = knots(n, "theta", kinks)
            err = worst(flux_map_magnification(lens, law, radii), ref)
            for goal in (1e-6, 1e-8):
                if goal not in found and err <= goal:
                    found[goal] = (n, cost_us(functools.partial(flux_map_magnification, law=law, radii=radii)))
            if 1e-8 in found:
                break
        cells = [f"{found[g][0]:>{w}} {found[g][1]:7.0f}" if g in found else f"{'> ' + str(counts[-1]):>{w}} {'':>7}"
                 for g, w in ((1e-6, 20), (1e-8, 8))]
        print(f"{name:>12} {formula:>35} | {errors_101[0]:20.1e} {errors_101[1]:13.1e} | {cells[0]} | {cells[1]}")

    ref = [reference(l, RHO, mp_profile(quadratic)) for l in lens]
    print()
    print("   quadratic law with its constant and mu parts exact, only b r^2 tabulated (uniform r knots):")
    for n in [41, 161, 641]:
        radii = knots(n, "r")
        err = worst(quadratic_split(lens, radii), ref)
        print(f"   {n:5} knots: largest relative error {err:.1e}, {cost_us(lambda l: quadratic_split(l, radii)):.0f} us/pt")
    print(f"   (the built-in law alone: {cost_us(lambda l: velmora.integrated_heyrovsky_magnification(l, RE, RE * RHO)):.0f} us/pt)")


if __name__ == "__main__":
    main()
