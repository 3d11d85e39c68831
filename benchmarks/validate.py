"""velmora, MulensModel and VBMicrolensing against one high-precision reference.

For a uniform disk and for the linear limb-darkening law I(r) = 1 - 0.6(1 - sqrt(1 - r^2)), on a
grid of lens positions u/rho (lens inside the source, at the limb, outside it and far from it) and
source sizes rho = rstar/re, prints the largest relative difference of each method to an mpmath
reference, per region, and plots every difference against u/rho to validation.png.

The reference (30 digits) integrates the point-lens magnification over the source in polar
coordinates (s, phi) about the lens, as Lee et al. (2009) do: the angular integral is exact, the arc
of the circle of radius s inside the source for the uniform disk, and complete elliptic integrals
for the sqrt(1 - r^2) term of the law, and mpmath's tanh-sinh rule does the radial one, split
where the circle starts to leave the source (s = |1 - l|). It shares no code with velmora or its tests.

The peers' conventions: MulensModel takes the law as I ∝ 1 - Γ(1 - 1.5 sqrt(1 - r^2)), so the
linear coefficient 0.6 is Γ = 2·0.6/(3 - 0.6) = 0.5; VBMicrolensing takes it as a1 = 0.6 and has an
absolute accuracy goal Tol, run at 1e-3 and at 1e-6 times the point-lens magnification at max(u, rho)
(a fixed 1e-6 takes minutes per point for rho = 1e-4, where the magnification is ~2e4). Their
lens-source distance is u = l·rho Einstein radii.
A method that raises or returns NaN at a point is counted and listed, not plotted.

Two more laws, quadratic I = 1 - a(1 - mu) - b(1 - mu)^2 and square-root I = 1 - c(1 - mu) - d(1 - sqrt mu),
mu = sqrt(1 - r^2): velmora's integrated_law_heyrovsky_magnification against VBMicrolensing's ESPLMagDark
(SetLDprofile(LDquadratic) and LDsquareroot, RelTol = 1e-4), at the points of tests/data/power_integrals.json
with rho <= 1 (--quick: rho = 0.05), whose stored 20-digit integrals J_p of the ring magnification times
mu^p give each law's reference, sum w_j J_pj / sum w_j 2 pi/(p_j + 2). VBMicrolensing's coefficients are
first identified by experiment: each candidate mapping of (a1, a2) is compared with velmora at three lens
positions (RelTol = 1e-6, Tol = 1e-8), and the tables use the one that fits (the others are off by far more than the peer's 1e-4).

The astrometric centroid shift (--centroid, that comparison alone): velmora's witt_mao_centroid_shift
(uniform) and integrated_law_heyrovsky_centroid_shift (the linear law 0.6, powers (0, 1)) beside
VBMicrolensing's astrometry (astrometry = True; after ESPLMag2 or ESPLMagDark with a1 = 0.6, astrox1
is the centroid measured from the lens, so its shift is astrox1 - u), on the same grid, against a
reference in the same polar coordinates about the lens: the centroid is
int s g(rho s) C(s) ds / int s A(rho s) arc(s) ds, g(S) = (S^2 + 3)/sqrt(S^2 + 4) the images'
magnification-weighted position of a source point at S Einstein radii (Paczynski 1986, eqs. 6-9) and
C(s) the integral of I cos(phi) over the arc inside the source (2 sin of its half-angle for the uniform
disk; for the law's sqrt(1 - r^2) term a tanh-sinh quadrature in phi), at 30 digits (the law's term at 20).

Needs the peers extra: python -m pip install '.[peers]'   (MulensModel, VBMicrolensing, mpmath,
numpy, matplotlib). Usage: python benchmarks/validate.py [--quick] [--out DIR] [--table] [--centroid]   (about a minute; the
plot goes to a folder in the system's temporary directory unless --out names one; --table prints the
tables as the Markdown of docs/validation.md instead, and draws no plot)
"""
from __future__ import annotations

import argparse
import importlib.metadata
import math
import pathlib
import tempfile
import time
import warnings
from typing import Callable, Union

import mpmath as mp

import velmora

try:
    import MulensModel
    import VBMicrolensing
except ImportError as error:
    raise SystemExit(f"{error.name} is not installed: python -m pip install '.[peers]'")

LD = 0.6  # linear limb-darkening coefficient of velmora's law
GAMMA = 2 * LD / (3 - LD)  # the same law in MulensModel's convention
RHOS = [1e-4, 1e-3, 1e-2, 0.1, 1.0]
REGIONS = {  # lens positions l = u/rho, in source radii
    "inside": [0.0, 1e-3, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99],
    "limb": [0.999, 0.9999, 1.0, 1.0001, 1.001],
    "outside": [1.01, 1.1, 1.5, 2.0, 3.0, 5.0, 10.0, 30.0],
    "far": [100.0, 1e3, 1e4],  # only where u = l·rho <= 10
}
DIGITS = 30
QUADRATIC = (0.4, 0.25)  # (a, b): the linear and the squared coefficient
SQUARE_ROOT = (0.1, 0.6)  # (c, d): the linear and the square-root coefficient

Outcome = Union[float, str]  # a value, or what went wrong


def grid(rhos: list[float]) -> list[tuple[str, float, float]]:
    """(region, l, rho) for every point."""
    return [(region, l, rho) for rho in rhos for region, ls in REGIONS.items() for l in ls
            if region != "far" or l * rho <= 10.0]


def reference(l: float, rho: float) -> tuple[mp.mpf, mp.mpf]:
    """(uniform, limb-darkened) magnification with the lens l source radii from the centre."""
    with mp.workdps(DIGITS):
        l_, rho_ = mp.mpf(l), mp.mpf(rho)

        def whole(s: mp.mpf) -> bool:  # the circle of radius s about the lens lies in the source
            return bool(s + l_ <= 1)

        def arc(s: mp.mpf) -> mp.mpf:  # angle of that circle inside the source
            if whole(s):
                return 2 * mp.pi
            return 2 * mp.acos(max(mp.mpf(-1), min(mp.mpf(1), (s * s + l_ * l_ - 1) / (2 * s * l_))))

        def root_arc(s: mp.mpf) -> mp.mpf:  # ∫ sqrt(1 - r²) dφ over the arc, r² = a' - b cos φ
            a, b = 1 - s * s - l_ * l_, 2 * s * l_
            if b == 0:
                return 2 * mp.pi * mp.sqrt(a)
            if whole(s):
                return 4 * mp.sqrt(a + b) * mp.ellipe(2 * b / (a + b))
            k = (a + b) / (2 * b)  # the arc ends where a + b cos φ = 0
            return 4 * (mp.sqrt(2 * b) * mp.ellipe(k) - (b - a) / mp.sqrt(2 * b) * mp.ellipk(k))

        def radial(s: mp.mpf) -> mp.mpf:  # s·A(rho s), finite at s = 0
            if s == 0:
                return 1 / rho_
            u = rho_ * s
            return (u * u + 2) / (rho_ * mp.sqrt(u * u + 4))

        lo, hi = max(mp.mpf(0), l_ - 1), l_ + 1
        knots = sorted({lo, hi} | ({abs(1 - l_)} if lo < abs(1 - l_) < hi else set()))
        uniform = mp.quad(lambda s: radial(s) * arc(s), knots) / mp.pi
        limb = mp.quad(lambda s: radial(s) * ((1 - LD) * arc(s) + LD * root_arc(s)), knots) / (
            (1 - LD / 3) * mp.pi)
        return uniform, limb


# Each method maps (rho, ls) to one outcome per l.
Method = Callable[[float, list[float]], list[Outcome]]


def velmora_method(function: Callable[[list[float], float, float], list[float]]) -> Method:
    return lambda rho, ls: list(function(ls, 1.0, rho))


def per_point(call: Callable[[float], float], values: list[float]) -> list[Outcome]:
    out: list[Outcome] = []
    for value in values:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                result = call(value)
            out.append(result if math.isfinite(result) else f"returns {result}")
        except Exception as error:  # noqa: BLE001  (a peer's failure is a result here)
            out.append(f"raises {type(error).__name__}")
    return out


def mulensmodel_method(name: str) -> Method:
    def run(rho: float, ls: list[float]) -> list[Outcome]:
        us = [l * rho for l in ls]
        # u0 = 0 and tE = 1: the epoch t is the separation u itself.
        model = MulensModel.Model({"t_0": 0.0, "u_0": 0.0, "t_E": 1.0, "rho": rho})
        model.set_magnification_methods([-1.0, name, max(us) + 1.0])
        def batch(part: list[float]) -> list[Outcome]:
            # All epochs at once; one failing epoch fails the whole call, so a failing call is halved
            # until the failing epochs stand alone (a few calls, where one call per epoch took seconds).
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    values = [float(a) for a in model.get_magnification(part, gamma=GAMMA)]
                return [a if math.isfinite(a) else f"returns {a}" for a in values]
            except Exception:  # noqa: BLE001
                if len(part) == 1:
                    return per_point(lambda u: float(model.get_magnification([u], gamma=GAMMA)[0]), part)
                half = len(part) // 2
                return batch(part[:half]) + batch(part[half:])
        return batch(us)
    return run


def point_lens(u: float) -> float:
    return (u * u + 2.0) / (u * math.sqrt(u * u + 4.0))


def vbm_method(limb: bool, tolerance: float, relative: bool = False) -> Method:
    """VBMicrolensing's Tol is an absolute accuracy goal: with relative=True it is scaled by the
    point-lens magnification at max(u, rho), about the size of the result."""
    vbm = VBMicrolensing.VBMicrolensing()

    def one(u: float, rho: float) -> float:
        vbm.Tol = tolerance * (point_lens(max(u, rho)) if relative else 1.0)
        vbm.a1 = LD if limb else 0.0
        return float(vbm.ESPLMagDark(u, rho) if limb else vbm.ESPLMag2(u, rho))

    return lambda rho, ls: per_point(lambda u: one(u, rho), [l * rho for l in ls])


UNIFORM: dict[str, Method] = {
    "velmora witt_mao_magnification": velmora_method(velmora.witt_mao_magnification),
    "MulensModel uniform_WittMao94": mulensmodel_method("finite_source_uniform_WittMao94"),
    "MulensModel uniform_Lee09": mulensmodel_method("finite_source_uniform_Lee09"),
    "MulensModel uniform_Gould94": mulensmodel_method("finite_source_uniform_Gould94"),
    "VBMicrolensing ESPLMag2 Tol=1e-3": vbm_method(False, 1e-3),
    "VBMicrolensing ESPLMag2 Tol=1e-6·A": vbm_method(False, 1e-6, relative=True),
}
LIMB: dict[str, Method] = {
    "velmora integrated_heyrovsky (ring)": velmora_method(velmora.integrated_heyrovsky_magnification),
    "velmora integrated_witt_mao (disk)": velmora_method(velmora.integrated_witt_mao_magnification),
    "MulensModel LD_WittMao94": mulensmodel_method("finite_source_LD_WittMao94"),
    "MulensModel LD_Lee09": mulensmodel_method("finite_source_LD_Lee09"),
    "MulensModel LD_Yoo04": mulensmodel_method("finite_source_LD_Yoo04"),
    "VBMicrolensing ESPLMagDark Tol=1e-3": vbm_method(True, 1e-3),
    "VBMicrolensing ESPLMagDark Tol=1e-6·A": vbm_method(True, 1e-6, relative=True),
}

Point = tuple[str, float, float]  # region, l, rho
Errors = dict[str, dict[Point, Outcome]]  # method -> point -> signed relative error, or a failure


def relative_errors(methods: dict[str, Method], points: list[Point],
                    refs: dict[Point, mp.mpf]) -> Errors:
    errors: Errors = {}
    for name, method in methods.items():
        errors[name] = {}
        for rho in dict.fromkeys(p[2] for p in points):
            here = [p for p in points if p[2] == rho]
            for point, got in zip(here, method(rho, [p[1] for p in here])):
                ref = refs[point]
                errors[name][point] = got if isinstance(got, str) else float((mp.mpf(got) - ref) / ref)
    return errors


def cell(outcomes: list[Outcome]) -> str:
    values = [e for e in outcomes if not isinstance(e, str)]
    failed = len(outcomes) - len(values)
    text = "-"
    if values:
        worst = max(abs(e) for e in values)
        signs = {e > 0 for e in values if abs(e) > 1e-15}  # ignore rounding-level differences
        sign = "+" if signs == {True} else "-" if signs == {False} else "±" if signs else " "
        text = f"{worst:.1e} {sign}"
    return text + (f" ({failed} fail)" if failed else "")


def print_table(title: str, errors: Errors) -> None:
    print(f"\n{title}: largest |relative difference| to the reference per region"
          " (+ above it, - below, ± both; fail: raised or NaN)")
    width = max(38, *(len(name) + 2 for name in errors))
    print(f"{'method':<{width}}" + "".join(f"{region:>20}" for region in REGIONS))
    for name, by_point in errors.items():
        row = [cell([e for p, e in by_point.items() if p[0] == region]) for region in REGIONS]
        print(f"{name:<{width}}" + "".join(f"{c:>20}" for c in row))
    for name, by_point in errors.items():
        failures = [(p, e) for p, e in by_point.items() if isinstance(e, str)]
        if failures:
            where = ", ".join(f"u/rho={p[1]:g} rho={p[2]:g}: {e}" for p, e in failures[:6])
            more = f" and {len(failures) - 6} more" if len(failures) > 6 else ""
            print(f"  {name}: {where}{more}")


def markdown_table(title: str, errors: Errors) -> list[str]:
    """The table of print_table as Markdown: one row per method, its failures listed under it."""
    lines = [f"**{title}**", "", "| method | " + " | ".join(REGIONS) + " |", "|---" * (len(REGIONS) + 1) + "|"]
    for name, by_point in errors.items():
        row = [cell([e for p, e in by_point.items() if p[0] == region]).strip() for region in REGIONS]
        lines.append(f"| {name} | " + " | ".join(row) + " |")
    failures: dict[tuple[str, str, float], list[float]] = {}  # (method, what, l) -> the rhos
    for name, by_point in errors.items():
        for p, e in by_point.items():
            if isinstance(e, str):
                failures.setdefault((name, e, p[1]), []).append(p[2])
    if failures:
        lines.append("")
        lines += [f"- {name} {what} at u/rho = {l:g} (rho = {', '.join(f'{r:g}' for r in rhos)})"
                  for (name, what, l), rhos in failures.items()]
    return lines


def print_markdown(points: list[Point], rhos: list[float], uniform: Errors, limb: Errors,
                   laws: tuple[list[str], list[Point], dict[str, Errors]]) -> None:
    versions = " and ".join(f"{name} {importlib.metadata.version(name)}" for name in ("MulensModel", "VBMicrolensing"))
    lines = [f"{len(points)} points, rho = {', '.join(f'{r:g}' for r in rhos)}; peers: {versions}; largest relative"
             " difference to the reference per region (+ above it, - below, ± both; fail: raised or NaN).", ""]
    lines += markdown_table("uniform disk", uniform) + [""]
    lines += markdown_table("limb-darkened disk, linear coefficient 0.6", limb)
    found, law_pts, law_errs = laws
    lines += ["", f"VBMicrolensing's coefficients, identified first: each candidate (a1, a2), largest relative difference"
              f" to velmora at l = {', '.join(f'{l:g}' for l in CONVENTION_POINTS)}, rho = 0.05 (RelTol = 1e-6, Tol = 1e-8; bold: the"
              " one used below)", ""] + found
    lines += ["", f"{len(law_pts)} points of tests/data/power_integrals.json, rho = "
              f"{', '.join(f'{r:g}' for r in dict.fromkeys(p[2] for p in law_pts))}; the reference is their stored"
              " 20-digit integrals combined for each law.", ""]
    for law, title in law_titles().items():
        lines += markdown_table(title, law_errs[law]) + [""]
    print("\n".join(lines).rstrip("\n"))


# ---------------------------------------------------------------------------------------------
# Quadratic and square-root laws: velmora's any-law function and VBMicrolensing's LD profiles.

def quadratic_law(a: float, b: float) -> tuple[tuple[float, ...], tuple[float, ...]]:
    """1 - a(1 - mu) - b(1 - mu)^2 = (1 - a - b) + (a + 2b) mu - b mu^2, as (powers, weights)."""
    return (0.0, 1.0, 2.0), (1 - a - b, a + 2 * b, -b)


def square_root_law(c: float, d: float) -> tuple[tuple[float, ...], tuple[float, ...]]:
    """1 - c(1 - mu) - d(1 - sqrt mu) = (1 - c - d) + c mu + d mu^(1/2), as (powers, weights)."""
    return (0.0, 1.0, 0.5), (1 - c - d, c, d)


def vbm_law(profile: str, a1: float, a2: float, rel_tol: float = 1e-4, tol: Union[float, None] = None) -> Method:
    """ESPLMagDark with the named LD profile, a relative accuracy goal and (when given) an absolute one."""
    vbm = VBMicrolensing.VBMicrolensing()

    def one(u: float, rho: float) -> float:
        vbm.SetLDprofile(getattr(vbm, profile))
        vbm.a1, vbm.a2 = a1, a2
        vbm.RelTol = rel_tol
        if tol is not None:
            vbm.Tol = tol
        return float(vbm.ESPLMagDark(u, rho))

    return lambda rho, ls: per_point(lambda u: one(u, rho), [l * rho for l in ls])


def law_method(powers: tuple[float, ...], weights: tuple[float, ...]) -> Method:
    return lambda rho, ls: list(velmora.integrated_law_heyrovsky_magnification(ls, 1.0, rho, powers, weights))


# (law, VBMicrolensing profile, {candidate: ((a1, a2) given to VBMicrolensing, the velmora law it would be)})
CONVENTION_POINTS = (0.5, 0.9, 2.0)  # lens positions l at rho = 0.05 where the candidates are told apart


def candidates() -> list[tuple[str, str, dict[str, tuple[tuple[float, float], tuple]]]]:
    a, b = QUADRATIC
    c, d = SQUARE_ROOT
    return [
        ("quadratic", "LDquadratic", {
            "a1 = a (of 1 - mu), a2 = b (of (1 - mu)^2)": ((a, b), quadratic_law(a, b)),
            "a1 = b, a2 = a": ((b, a), quadratic_law(a, b)),
            "a1 = a, a2 ignored (linear law)": ((a, b), ((0.0, 1.0), (1 - a, a))),
        }),
        ("square-root", "LDsquareroot", {
            "a1 = c (of 1 - mu), a2 = d (of 1 - sqrt mu)": ((c, d), square_root_law(c, d)),
            "a1 = d, a2 = c": ((d, c), square_root_law(c, d)),
            "a1 = c, a2 ignored (linear law)": ((c, d), ((0.0, 1.0), (1 - c, c))),
        }),
    ]


def conventions() -> tuple[list[str], dict[str, tuple[float, float]]]:
    """Lines stating each candidate's largest relative difference to velmora, and the (a1, a2) of the
    candidate that fits best, per law."""
    rho, lines, chosen = 0.05, [], {}
    ls = list(CONVENTION_POINTS)
    for law, profile, options in candidates():
        fits = {}
        for text, (coefficients, (powers, weights)) in options.items():
            theirs = vbm_law(profile, *coefficients, rel_tol=1e-6, tol=1e-8)(rho, ls)
            ours = law_method(powers, weights)(rho, ls)
            fits[text] = max(abs(t / o - 1) if not isinstance(t, str) else math.inf for t, o in zip(theirs, ours))
        best = min(fits, key=fits.get)
        chosen[law] = options[best][0]
        lines.append(f"- {law} (`{profile}`): " + "; ".join(
            f"{'**' + text + '**' if text == best else text}: {fit:.1e}" for text, fit in fits.items()))
    return lines, chosen


def law_points(quick: bool) -> tuple[list[Point], dict[Point, dict[float, mp.mpf]]]:
    """(region, l, rho) of the stored power integrals with rho <= 1 (0.05 only when quick), and their J_p."""
    import sys
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
    from _references import load_data  # the tests' stored mpmath integrals

    _, _, rows = load_data("power_integrals.json")
    stored: dict[tuple[float, float], dict[float, mp.mpf]] = {}
    for row in rows:
        stored.setdefault((row["l"], row["rho"]), {})[row["p"]] = row["value"]
    needed = {0.0, 0.5, 1.0, 2.0}
    points, integrals = [], {}
    for (l, rho), js in sorted(stored.items(), key=lambda item: (item[0][1], item[0][0])):
        if not needed <= set(js) or rho > 1 or (quick and rho != 0.05):
            continue
        region = ("limb" if abs(l - 1) <= 1e-3 else "inside" if l < 1 else "far" if l >= 100 else "outside")
        points.append((region, l, rho))
        integrals[(region, l, rho)] = js
    return points, integrals


def law_reference(js: dict[float, mp.mpf], powers: tuple[float, ...], weights: tuple[float, ...]) -> mp.mpf:
    with mp.workdps(40):
        return (sum(mp.mpf(w) * js[p] for p, w in zip(powers, weights))
                / sum(mp.mpf(w) * 2 * mp.pi / (mp.mpf(p) + 2) for p, w in zip(powers, weights)))


def law_errors(quick: bool, chosen: dict[str, tuple[float, float]]) -> tuple[list[Point], dict[str, Errors]]:
    points, integrals = law_points(quick)
    out = {}
    for law, (powers, weights), profile in (("quadratic", quadratic_law(*QUADRATIC), "LDquadratic"),
                                            ("square-root", square_root_law(*SQUARE_ROOT), "LDsquareroot")):
        refs = {p: law_reference(integrals[p], powers, weights) for p in points}
        methods = {"velmora integrated_law_heyrovsky": law_method(powers, weights),
                   f"VBMicrolensing ESPLMagDark {profile} RelTol=1e-4": vbm_law(profile, *chosen[law])}
        out[law] = relative_errors(methods, points, refs)
    return points, out


def law_titles() -> dict[str, str]:
    return {"quadratic": f"quadratic law, a = {QUADRATIC[0]:g}, b = {QUADRATIC[1]:g}",
            "square-root": f"square-root law, c = {SQUARE_ROOT[0]:g}, d = {SQUARE_ROOT[1]:g}"}



# ---------------------------------------------------------------------------------------------
# The astrometric centroid shift.

CENTROID_DIGITS = 30  # the law's angular quadrature at 20: the last subtraction of u loses log10(u/shift)


def centroid_reference(l: float, rho: float) -> tuple[mp.mpf, mp.mpf]:
    """(uniform, linear-law) centroid shift, lens at l source radii: the centroid of the images' light
    measured from the lens, in polar coordinates (s, phi) about the lens (s in source radii), minus u."""
    with mp.workdps(CENTROID_DIGITS):
        l_, rho_ = mp.mpf(l), mp.mpf(rho)
        if l_ == 0:
            return mp.mpf(0), mp.mpf(0)

        def half_angle(s: mp.mpf) -> mp.mpf:  # the half-angle of the circle of radius s inside the source
            if s + l_ <= 1:
                return mp.pi
            return mp.acos(max(mp.mpf(-1), min(mp.mpf(1), (s * s + l_ * l_ - 1) / (2 * s * l_))))

        def root_cos(s: mp.mpf) -> mp.mpf:  # ∫ sqrt(1 - r²) cos φ dφ over the arc, 1 - r² = a + b cos φ
            a, b = 1 - s * s - l_ * l_, 2 * s * l_
            end = half_angle(s)
            return 2 * mp.quad(lambda phi: mp.sqrt(max(a + b * mp.cos(phi), mp.mpf(0))) * mp.cos(phi), [0, end])

        def root_arc(s: mp.mpf) -> mp.mpf:
            a, b = 1 - s * s - l_ * l_, 2 * s * l_
            end = half_angle(s)
            return 2 * mp.quad(lambda phi: mp.sqrt(max(a + b * mp.cos(phi), mp.mpf(0))), [0, end])

        def images(s: mp.mpf) -> tuple[mp.mpf, mp.mpf]:  # s·A(ρs)·ρ and s·g(ρs), finite at s = 0
            big = rho_ * s
            return (big * big + 2) / mp.sqrt(big * big + 4), s * (big * big + 3) / mp.sqrt(big * big + 4)

        lo, hi = max(mp.mpf(0), l_ - 1), l_ + 1
        knots = sorted({lo, hi} | ({abs(1 - l_)} if lo < abs(1 - l_) < hi else set()))
        m_uniform = mp.quad(lambda s: images(s)[0] / rho_ * 2 * half_angle(s), knots)
        n_uniform = mp.quad(lambda s: images(s)[1] * 2 * mp.sin(half_angle(s)), knots)
        with mp.workdps(20):
            m_root = mp.quad(lambda s: images(s)[0] / rho_ * root_arc(s), knots)
            n_root = mp.quad(lambda s: images(s)[1] * root_cos(s), knots)
        u = l_ * rho_
        uniform = n_uniform / m_uniform - u
        limb = ((1 - LD) * n_uniform + LD * n_root) / ((1 - LD) * m_uniform + LD * m_root) - u
        return uniform, limb


def vbm_centroid(limb: bool, tolerance: Union[float, None]) -> Method:
    """VBMicrolensing's centroid shift: astrox1 (the centroid from the lens) after ESPLMag2 or
    ESPLMagDark (a1 = 0.6), minus u; Tol scaled by the point-lens magnification at max(u, rho) when given."""
    vbm = VBMicrolensing.VBMicrolensing()
    vbm.astrometry = True

    def one(u: float, rho: float) -> float:
        if tolerance is not None:
            vbm.Tol = tolerance * point_lens(max(u, rho))
        vbm.a1 = LD if limb else 0.0
        vbm.ESPLMagDark(u, rho) if limb else vbm.ESPLMag2(u, rho)
        return float(vbm.astrox1) - u

    # u = 0 is outside its domain: the smallest positive double stands in for it
    return lambda rho, ls: per_point(lambda u: one(max(u, 5e-324), rho), [l * rho for l in ls])


def absolute_errors(methods: dict[str, Method], points: list[Point], refs: dict[Point, mp.mpf]) -> Errors:
    """The difference to the reference over |reference| + 1e-16·(u + rho) (the shift vanishes at the
    centre and near the limb)."""
    errors: Errors = {}
    for name, method in methods.items():
        errors[name] = {}
        for rho in dict.fromkeys(p[2] for p in points):
            here = [p for p in points if p[2] == rho]
            for point, got in zip(here, method(rho, [p[1] for p in here])):
                ref = refs[point]
                scale = abs(ref) + mp.mpf(1e-16) * (point[1] * rho + rho)
                errors[name][point] = got if isinstance(got, str) else float((mp.mpf(got) - ref) / scale)
    return errors


def centroid_comparison(quick: bool) -> None:
    rhos = [0.1] if quick else RHOS
    points = grid(rhos)
    start = time.perf_counter()
    refs = {p: centroid_reference(p[1], p[2]) for p in points}
    uniform = absolute_errors({
        "velmora witt_mao_centroid_shift": velmora_method(velmora.witt_mao_centroid_shift),
        "VBMicrolensing ESPLMag2 astrox1": vbm_centroid(False, None),
    }, points, {p: r[0] for p, r in refs.items()})
    law = ((0.0, 1.0), (1 - LD, LD))
    limb = absolute_errors({
        "velmora integrated_law_heyrovsky_centroid_shift":
            lambda rho, ls: list(velmora.integrated_law_heyrovsky_centroid_shift(ls, 1.0, rho, *law)),
        "VBMicrolensing ESPLMagDark astrox1": vbm_centroid(True, None),
        "VBMicrolensing ESPLMagDark astrox1 Tol=1e-6·A": vbm_centroid(True, 1e-6),
    }, points, {p: r[1] for p, r in refs.items()})
    print(f"Centroid shift, {len(points)} points: rho in {rhos}; the difference to a reference (uniform 30 digits, law 20)"
          f" over |reference| + 1e-16·(u + rho) ({time.perf_counter() - start:.0f} s for the references)")
    print_table("uniform disk, centroid shift", uniform)
    print_table("limb-darkened disk, linear coefficient 0.6, centroid shift", limb)


def plot(folder: pathlib.Path, uniform: Errors, limb: Errors) -> pathlib.Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    zero_at, floor = 1e-4, 1e-17  # where u = 0 is drawn; exact agreement is drawn at the floor
    styles = {  # velmora: open black and blue; MulensModel: warm colours; VBMicrolensing: purple, grey
        "velmora": [("o", "black"), ("s", "tab:blue")],
        "MulensModel": [("^", "tab:orange"), ("v", "tab:red"), ("D", "tab:olive")],
        "VBMicrolensing": [("P", "tab:purple"), ("X", "tab:gray")],
    }
    fig, axes = plt.subplots(1, 2, figsize=(13.0, 6.2), sharey=True)
    for ax, (title, errors) in zip(axes, [("uniform disk", uniform), ("limb-darkened disk (linear, 0.6)", limb)]):
        used = {family: 0 for family in styles}
        for name, by_point in errors.items():
            family = name.split()[0]
            marker, colour = styles[family][used[family]]
            used[family] += 1
            pts = [(p[1] or zero_at, max(abs(e), floor)) for p, e in by_point.items() if not isinstance(e, str)]
            ax.loglog([x for x, _ in pts], [y for _, y in pts], marker, ms=4.5, alpha=0.8, label=name,
                      color=colour, mfc="none" if family == "velmora" else colour)
        ax.axvline(1.0, color="0.7", lw=1, ls=":")
        ax.set_xlabel(f"lens position u/rho (u = 0 drawn at {zero_at:g}; dotted: the limb)")
        ax.set_title(f"{title}, rho = {', '.join(f'{r:g}' for r in RHOS)}")
        ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.13), ncol=2, fontsize=8, frameon=False)
        ax.grid(True, which="major", alpha=0.3)
    axes[0].set_ylabel(f"|relative difference| to a {DIGITS}-digit reference (floor {floor:g})")
    axes[0].set_ylim(floor / 3, 10.0)
    fig.tight_layout()
    path = folder / "validation.png"
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return path


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    # The default keeps the tracked docs/validation.png as it is; --out docs redraws it.
    default_out = pathlib.Path(tempfile.gettempdir()) / "velmora-benchmarks"
    parser.add_argument("--out", type=pathlib.Path, default=default_out,
                        help=f"folder for validation.png (default: {default_out}; --out docs redraws the README's figure)")
    parser.add_argument("--quick", action="store_true", help="one source size, rho = 0.1, instead of five")
    parser.add_argument("--table", action="store_true",
                        help="print the tables as the Markdown of docs/validation.md instead, and draw no plot")
    parser.add_argument("--centroid", action="store_true", help="the centroid shifts beside VBMicrolensing's alone")
    args = parser.parse_args()
    if args.centroid:
        centroid_comparison(args.quick)
        return
    start = time.perf_counter()
    rhos = [0.1] if args.quick else RHOS
    points = grid(rhos)
    refs = {p: reference(p[1], p[2]) for p in points}
    uniform = relative_errors(UNIFORM, points, {p: r[0] for p, r in refs.items()})
    limb = relative_errors(LIMB, points, {p: r[1] for p, r in refs.items()})
    found, chosen = conventions()
    law_pts, law_errs = law_errors(args.quick, chosen)
    if args.table:
        print_markdown(points, rhos, uniform, limb, (found, law_pts, law_errs))
        return
    print(f"{len(points)} points: rho in {rhos}; regions by u/rho: "
          + "; ".join(f"{region} {ls[0]:g}..{ls[-1]:g}" for region, ls in REGIONS.items())
          + " (far: only u <= 10)")
    print_table("uniform disk", uniform)
    print_table("limb-darkened disk, linear coefficient 0.6", limb)
    print(f"\nVBMicrolensing's coefficients: each candidate's largest relative difference to velmora at "
          f"l = {CONVENTION_POINTS}, rho = 0.05, RelTol = 1e-6, Tol = 1e-8 (** the one used)")
    print("\n".join(found))
    print(f"\n{len(law_pts)} stored points of tests/data/power_integrals.json, rho <= 1:")
    for law, title in law_titles().items():
        print_table(title, law_errs[law])
    args.out.mkdir(parents=True, exist_ok=True)
    print(f"\nwrote {plot(args.out, uniform, limb)} ({time.perf_counter() - start:.0f} s)")


if __name__ == "__main__":
    main()
