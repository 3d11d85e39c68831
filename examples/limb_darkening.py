"""Any limb-darkening law: the common laws directly as sums of powers of mu, tabulated profiles as flux maps.

1. The common laws are sums of powers of mu = sqrt(1 - r^2), I(r) = sum_k w_k mu^p_k, and
   integrated_law_heyrovsky_magnification(l, re, rstar, powers, weights) takes them as they are
   (ring route, exact normaliser N = sum_k w_k 2 pi/(p_k + 2)). Each law's powers; weights:

       linear c                  1 - c(1 - mu)                     (0, 1); (1 - c, c)
       quadratic (a, b)          1 - a(1 - mu) - b(1 - mu)^2       (0, 1, 2); (1 - a - b, a + 2b, -b)
       square-root (c, d)        1 - c(1 - mu) - d(1 - sqrt(mu))   (0, 1, 0.5); (1 - c - d, c, d)
       power-2 (c, alpha)        1 - c(1 - mu^alpha)               (0, alpha); (1 - c, c)
       four-coefficient a1..a4   1 - sum_k a_k (1 - mu^(k/2))      (0, 0.5, 1, 1.5, 2); (1 - sum a, a1..a4)

   The weights need no scaling (the result is normalised). Other codes' conventions for the linear
   law: MulensModel's Gamma (I ∝ 1 - Gamma(1 - 1.5 mu)) is c = 3 Gamma/(2 + Gamma); VBMicrolensing's
   a1 is c itself. The example checks every law against mpmath and gives its cost per lens position.

2. A profile that no power sum gives (a model atmosphere tabulated at a few angles, linear in mu
   between them; the logarithmic law) goes in as a flux map: velmora interpolates a table (bl, bf)
   linearly, so the knots decide the accuracy. Knots uniform in theta = asin(r) crowd towards the
   limb, where every law of mu is steepest, and the table's own angles belong among the knots (its
   kinks). The example compares them with uniform knots and with theta knots that miss the kinks,
   finds for each profile the number of knots that reaches 1e-6 and 1e-8 (ring route, largest
   relative error over several lens positions) and its cost per lens position.

The references integrate each law's brightness, written as the law itself (not as its powers),
over rings with mpmath (the ring magnification from mpmath's elliptic integrals, 17 digits).
Needs mpmath (the `examples` extra: python -m pip install '.[examples]').
Usage: python examples/limb_darkening.py [--quick]   (--quick: fewer lens positions and knot counts)
"""
from __future__ import annotations

import argparse
import bisect
import functools
import math
import time
from typing import Any, Callable, NamedTuple

import velmora

import _cli  # the point-source magnification (examples/_cli.py)

RE, RHO = 1.0, 0.05  # rho = rstar/re

Brightness = Callable[[Any, Any], Any]  # brightness of mu, with math or mpmath as the library


# --- 1. the common laws, directly --------------------------------------------------------------

class Law(NamedTuple):
    name: str
    formula: str  # the brightness with its coefficients
    brightness: Brightness  # the law as written, for the mpmath reference
    powers: list[float]
    weights: list[float]


def linear(c: float) -> Law:
    return Law("linear", f"1 - {c!r}(1-mu)", lambda mu, lib: 1 - c * (1 - mu), [0.0, 1.0], [1 - c, c])


def quadratic(a: float, b: float) -> Law:
    return Law("quadratic", f"1 - {a:g}(1-mu) - {b:g}(1-mu)^2", lambda mu, lib: 1 - a * (1 - mu) - b * (1 - mu) ** 2,
               [0.0, 1.0, 2.0], [1 - a - b, a + 2 * b, -b])


def square_root(c: float, d: float) -> Law:
    return Law("square-root", f"1 - {c:g}(1-mu) - {d:g}(1-sqrt(mu))",
               lambda mu, lib: 1 - c * (1 - mu) - d * (1 - lib.sqrt(mu)), [0.0, 1.0, 0.5], [1 - c - d, c, d])


def power_2(c: float, alpha: float) -> Law:
    return Law("power-2", f"1 - {c:g}(1 - mu^{alpha:g})", lambda mu, lib: 1 - c * (1 - mu ** alpha),
               [0.0, alpha], [1 - c, c])


def four_coefficient(a: tuple[float, float, float, float]) -> Law:
    """Claret's law (Claret 2000, A&A 363, 1081) 1 - sum_k a_k (1 - mu^(k/2)), k = 1..4."""
    def brightness(mu: Any, lib: Any) -> Any:
        return 1 - sum(ak * (1 - lib.sqrt(mu) ** k) for k, ak in enumerate(a, 1))
    return Law("4-coefficient", "a = (" + ", ".join(f"{x:g}" for x in a) + ")", brightness,
               [0.0, 0.5, 1.0, 1.5, 2.0], [1 - sum(a), *a])


def gamma_to_c(gamma: float) -> float:
    """MulensModel's Gamma to the linear coefficient c."""
    return 3.0 * gamma / (2.0 + gamma)


def c_to_gamma(c: float) -> float:
    return 2.0 * c / (3.0 - c)


def law_magnification(l: list[float], law: Law) -> list[float]:
    return velmora.integrated_law_heyrovsky_magnification(l, RE, RE * RHO, law.powers, law.weights)


LINEAR_C = [0.0, 0.3, 0.6, 0.8, 1.0]
# A four-coefficient law typical of a solar-type star in I (the table of part 2 is made from it).
CLARET = (0.56, -0.05, 0.37, -0.19)
COMMON_LAWS = [linear(c) for c in LINEAR_C] + [
    quadratic(0.4, 0.25), square_root(0.25, 0.45), power_2(0.65, 0.55), four_coefficient(CLARET)]


# --- 2. tabulated profiles as flux maps --------------------------------------------------------

def logarithmic(mu: Any, lib: Any, e: float = 0.6, f: float = 0.2) -> Any:
    return 1 - e * (1 - mu) - (f * mu * lib.log(mu) if mu > 0 else 0)


# A model-atmosphere-like table I(mu_k) at the 17 angles of the ATLAS tabulations, linear in mu
# between them (values from the four-coefficient law CLARET above).
ATLAS_MU = [1.0, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.25, 0.2, 0.15, 0.125, 0.1, 0.075, 0.05, 0.025, 0.01]
ATLAS_I = [float(four_coefficient(CLARET).brightness(m, math)) for m in ATLAS_MU]
ATLAS_R = sorted(math.sqrt(1.0 - m * m) for m in ATLAS_MU)  # the table's kinks in r


def tabulated(mu: Any, lib: Any) -> Any:
    """Linear in mu between the table's angles, and from mu = 0.01 to 0 along the last piece."""
    mus = ATLAS_MU[::-1]  # ascending
    values = ATLAS_I[::-1]
    i = min(max(bisect.bisect_right(mus, float(mu)) - 1, 0), len(mus) - 2)
    return values[i] + (mu - mus[i]) * (values[i + 1] - values[i]) / (mus[i + 1] - mus[i])


PROFILES: dict[str, tuple[Brightness, str, list[float]]] = {
    # name: (brightness of mu, formula, radii where the profile has a kink)
    "tabulated": (tabulated, "17 angles, linear in mu", ATLAS_R[1:-1]),
    "logarithmic": (logarithmic, "1 - 0.6(1-mu) - 0.2 mu ln(mu)", []),
}


def knots(n: int, layout: str, kinks: list[float] | None = None) -> list[float]:
    """n knots on [0, 1]: uniform in r or in theta = asin(r); the profile's kinks added."""
    if layout == "r":
        radii = [k / (n - 1) for k in range(n)]
    else:
        radii = [math.sin(0.5 * math.pi * k / (n - 1)) for k in range(n)]
    radii[-1] = 1.0
    return sorted(set(radii) | set(kinks or []))


def flux_map_magnification(l: list[float], brightness: Brightness, radii: list[float]) -> list[float]:
    bf = [float(brightness(math.sqrt(max(0.0, 1.0 - r * r)), math)) for r in radii]
    return velmora.integrated_flux_map_heyrovsky_magnification(l, RE, RE * RHO, radii, bf)


# --- the mpmath reference ----------------------------------------------------------------------

@functools.lru_cache(maxsize=None)
def ring(l: float, rho: float, r: Any, digits: int) -> Any:
    """The magnification of a thin ring of radius r (source radii) about the source centre, lens at
    l: (1/2 pi) times the point-lens magnification integrated over the ring's angle, in closed form
    with the complete elliptic integrals K(m) and Pi(n, m). Kept, since every law at the same lens position meets the same quadrature nodes."""
    import mpmath as mp  # type: ignore[import-untyped]

    if l == 0:
        return _cli.point_lens(r * rho, mp.sqrt)
    with mp.workdps(2 * digits + 10):
        f = mp.mpf(r) - l
    if f == 0:
        return mp.inf
    # 1 - m and 1 - n are of order f^2: worked with 2 log10(1/|f|) digits more than the result needs.
    with mp.workdps(digits + 10 + 2 * max(0, int(-mp.log10(abs(f))))):
        l_, r_, eps = mp.mpf(l), mp.mpf(r), 1 / mp.mpf(rho)
        f = r_ - l_
        d = 4 * eps ** 2 + f ** 2
        m = 16 * eps ** 2 * l_ * r_ / ((l_ + r_) ** 2 * d)
        n = 4 * l_ * r_ / (l_ + r_) ** 2
        k = mp.ellipk(m)
        pi_nm = k + n / 3 * mp.elliprj(0, 1 - m, 1, 1 - n)  # Pi(n, m) by Carlson's R_J (DLMF 19.25.2)
        return (2 * eps ** 2 * k + f ** 2 * pi_nm) * 4 / ((l_ + r_) * mp.sqrt(d)) / (2 * mp.pi)


def reference(l: float, rho: float, brightness: Brightness, kinks: list[float] | None = None,
              digits: int = 17) -> Any:
    """(1/N) ∫ 2 pi r I(r) A_ring(l, r) dr with mpmath, N = ∫ 2 pi r I(r) dr, split at r = l and at
    the kinks."""
    import mpmath as mp

    with mp.workdps(digits):
        points = sorted({mp.mpf(0), mp.mpf(1), *map(mp.mpf, kinks or []), *([mp.mpf(l)] if 0 < l < 1 else [])})

        def profile(r: Any) -> Any:
            return brightness(mp.sqrt(1 - r * r), mp)

        def numerator(r: Any) -> Any:
            a = ring(l, rho, r, digits)
            return 2 * mp.pi * r * a * profile(r) if mp.isfinite(a) else mp.mpf(0)

        return mp.quad(numerator, points) / mp.quad(lambda r: 2 * mp.pi * r * profile(r), points)


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
        import mpmath  # noqa: F401
    except ImportError:
        raise SystemExit("mpmath is not installed: python -m pip install mpmath"
                         " (from the source tree: python -m pip install '.[examples]')")

    lens = [0.3, 0.9, 1.5] if args.quick else [0.0, 0.3, 0.7, 0.9, 0.99, 1.0, 1.01, 1.5, 3.0]

    print(f"1. Common laws, directly as sums of powers of mu; rstar/re = {RHO}")
    print("   integrated_law_heyrovsky_magnification against mpmath: largest relative error over l in", lens)
    print(f"{'law':>13} {'I(mu)':>34} | {'powers; weights':<52} | {'error':>7} {'us/pt':>6} {'M(l = 0.9)':>18}")
    for law in COMMON_LAWS:
        ref = [reference(l, RHO, law.brightness) for l in lens]
        got = law_magnification(lens, law)
        terms = "(" + ", ".join(f"{p:g}" for p in law.powers) + "); (" + ", ".join(f"{w:.4g}" for w in law.weights) + ")"
        print(f"{law.name:>13} {law.formula:>34} | {terms:<52} | {worst(got, ref):7.1e}"
              f" {cost_us(functools.partial(law_magnification, law=law)):6.1f} {law_magnification([0.9], law)[0]:18.12f}")
    print("   linear law in MulensModel's convention, Gamma = 2c/(3 - c): "
          + ", ".join(f"c = {c:g}: Gamma = {c_to_gamma(c):.4f}" for c in LINEAR_C[1:]))
    built_in = velmora.integrated_heyrovsky_magnification(lens, RE, RE * RHO)
    print(f"   linear c = 0.6 is the built-in law: integrated_heyrovsky_magnification differs by at most"
          f" {worst(built_in, law_magnification(lens, linear(0.6))):.1e} (relative),"
          f" {cost_us(lambda l: velmora.integrated_heyrovsky_magnification(l, RE, RE * RHO)):.1f} us/pt")

    counts = [21, 41, 81, 161, 321, 641, 1281, 2561] if args.quick else \
        [21, 41, 81, 161, 321, 641, 1281, 2561, 5121, 10241, 20481]
    print()
    print(f"2. Profiles no power sum gives, as flux maps (ring route), rstar/re = {RHO}; largest relative error"
          f" over l in {lens}")
    print(f"{'profile':>12} {'I(mu)':>30} | {'101 knots: uniform r':>20} {'uniform theta':>13} |"
          f" {'theta knots for 1e-6':>20} {'us/pt':>7} | {'for 1e-8':>8} {'us/pt':>7}")
    refs = {}
    for name, (brightness, formula, kinks) in PROFILES.items():
        ref = refs[name] = [reference(l, RHO, brightness, kinks) for l in lens]
        errors_101 = [worst(flux_map_magnification(lens, brightness, knots(101, layout, kinks)), ref)
                      for layout in ("r", "theta")]
        found = {}
        for n in counts:
            radii = knots(n, "theta", kinks)
            err = worst(flux_map_magnification(lens, brightness, radii), ref)
            for goal in (1e-6, 1e-8):
                if goal not in found and err <= goal:
                    found[goal] = (n, cost_us(functools.partial(flux_map_magnification, brightness=brightness,
                                                                radii=radii)))
            if 1e-8 in found:
                break
        cells = [f"{found[g][0]:>{w}} {found[g][1]:7.0f}" if g in found else f"{'> ' + str(counts[-1]):>{w}} {'':>7}"
                 for g, w in ((1e-6, 20), (1e-8, 8))]
        print(f"{name:>12} {formula:>30} | {errors_101[0]:20.1e} {errors_101[1]:13.1e} | {cells[0]} | {cells[1]}")

    ref = refs["tabulated"]
    missing = worst(flux_map_magnification(lens, tabulated, knots(101, "theta")), ref)
    print(f"   the table with 101 theta knots but without its own angles as knots: {missing:.1e}")
    smooth = law_magnification(lens, four_coefficient(CLARET))
    print(f"   the table against the four-coefficient law it samples (part 1, directly): {worst(smooth, ref):.1e}"
          " (the table's linear interpolation in mu, not a numerical error)")


if __name__ == "__main__":
    main()
