"""Cost per point of every velmora function, side by side with VBMicrolensing and MulensModel.

Everything is measured in one run, so the ratios hold on a noisy machine (absolute times do not).
Workloads: lens positions u spread evenly over [0, 3] Einstein radii (l = u/rho source radii) at
rho = rstar/re = 0.05 and 0.5; 10^5 points for the direct models, 10^3 for the integrated ones;
inputs as lists and as NumPy float64 arrays. Each time is the best of several repeats.

Accuracy: the largest relative error on a sample of 17 positions per rho (inside the source, at
the limb, outside) against the 30-digit reference of benchmarks/validate.py.

Peers (the `bench` extra: python -m pip install '.[bench]'; without them velmora is timed alone):
  VBMicrolensing  ESPLLightCurve (a whole array per call; a1 = 0 uniform, 0.6 the same law), and
                  per point ESPLMag2 (uniform) and ESPLMagDark (default Tol, Tol = 1e-4 and, in the
                  light curve, RelTol = 1e-4);
  MulensModel     finite_source_uniform_WittMao94 and finite_source_LD_Lee09 (Gamma = 0.5, the
                  same law), all epochs per call, on fewer points (they cost far more).
Then: the radius integrals by region of l (ring and disk routes, a 100-knot map); a limb-darkened
light curve side by side with VBMicrolensing; integrated_law_heyrovsky_magnification for five
limb-darkening laws beside the built-in law, by region of l, and a quadratic-law light curve beside
VBMicrolensing's ESPLMagDark with the same law; cost against len(l) and the fixed per-call overhead;
cost against the number of knots of a flux map (up to 401 against the fixed law, and 10 to 10^6
against linear scaling); each gradient function beside its value function, by region of l and on
a light curve (--gradients: that part alone); the astrometric centroid shifts
(witt_mao_centroid_shift, integrated_law_heyrovsky_centroid_shift and
integrated_flux_map_heyrovsky_centroid_shift) per lens position beside their magnifications, by
region and along a light curve (--centroid: that part alone).
Usage: python benchmarks/bench.py [--quick] [--gradients] [--centroid]
"""
from __future__ import annotations

import argparse
import math
import os
import pathlib
import sys
import time
import warnings

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # NumPy's BLAS threads would compete for the cores

import numpy as np

import velmora

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

try:
    import MulensModel
    import VBMicrolensing
except ImportError:
    MulensModel = VBMicrolensing = None

LD = 0.6
GAMMA = 2 * LD / (3 - LD)
RHOS = (0.05, 0.5)
SAMPLE_L = [0.0, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 0.999, 1.0, 1.001, 1.01, 1.1, 1.5, 2.0, 3.0, 5.0, 10.0]


def best_time(call, repeats):
    call()  # untimed: the first call after a pause runs at a lower clock and with cold caches
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def law_table(knots):
    bl = [k / (knots - 1) for k in range(knots)]
    return bl, [1 - LD * (1 - math.sqrt(1 - r * r)) for r in bl]


TABLE_21 = law_table(21)
TABLE_100 = law_table(100)

# name, callable (l, rho) -> list, points per workload
VELMORA = {
    "witt_mao_magnification": (lambda l, rho: velmora.witt_mao_magnification(l, 1.0, rho), 100_000),
    "heyrovsky_magnification (r = 0.7, one call per point)":
        (lambda l, rho: [velmora.heyrovsky_magnification(x, 0.7, 1.0, rho) for x in l], 100_000),
    "discrete_flux_map_heyrovsky (21 rings)":
        (lambda l, rho: velmora.discrete_flux_map_heyrovsky_magnification(l, 1.0, rho, *TABLE_21), 100_000),
    "integrated_heyrovsky (ring route)": (lambda l, rho: velmora.integrated_heyrovsky_magnification(l, 1.0, rho), 1000),
    "integrated_witt_mao (disk route)": (lambda l, rho: velmora.integrated_witt_mao_magnification(l, 1.0, rho), 1000),
    "integrated_flux_map_heyrovsky (100 knots)":
        (lambda l, rho: velmora.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, *TABLE_100), 1000),
    "integrated_flux_map_witt_mao (100 knots)":
        (lambda l, rho: velmora.integrated_flux_map_witt_mao_magnification(l, 1.0, rho, *TABLE_100), 1000),
}
UNIFORM = "witt_mao_magnification"
LIMB = ("integrated_heyrovsky (ring route)", "integrated_witt_mao (disk route)")


def positions(n, rho):
    return np.linspace(0.0, 3.0, n) / rho


def vbm(limb, tol, rel_tol=None):
    """VBMicrolensing per point (ESPLMag2 uniform, ESPLMagDark limb-darkened), with its absolute
    (Tol) or relative (RelTol) accuracy goal set when given."""
    engine = VBMicrolensing.VBMicrolensing()
    if tol is not None:
        engine.Tol = tol
    if rel_tol is not None:
        engine.RelTol = rel_tol
    engine.a1 = LD if limb else 0.0
    call = engine.ESPLMagDark if limb else engine.ESPLMag2
    # u = 0 is outside its domain: the smallest positive double stands in for it
    return lambda l, rho: [call(max(x * rho, 5e-324), rho) for x in l]


def vbm_curve(limb):
    """VBMicrolensing's whole-array call: a light curve with u0 -> 0, tE = 1, t0 = 0, so u = t."""
    engine = VBMicrolensing.VBMicrolensing()
    engine.a1 = LD if limb else 0.0
    return lambda l, rho: engine.ESPLLightCurve([math.log(1e-300), 0.0, 0.0, math.log(rho)],
                                                [x * rho for x in l])[0]


def mulens(method):
    """MulensModel on all epochs at once (u0 = 0, tE = 1: the epoch is u); if one epoch raises,
    the call is repeated per point with NaN for the failing ones."""
    def run(l, rho):
        us = [x * rho for x in l]
        model = MulensModel.Model({"t_0": 0.0, "u_0": 0.0, "t_E": 1.0, "rho": rho})
        model.set_magnification_methods([-1.0, method, max(us) + 1.0])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                return [float(a) for a in model.get_magnification(us, gamma=GAMMA)]
            except Exception:  # noqa: BLE001 - a peer's failure is a result here
                out = []
                for u in us:
                    try:
                        out.append(float(model.get_magnification([u], gamma=GAMMA)[0]))
                    except Exception:  # noqa: BLE001
                        out.append(math.nan)
                return out
    return run


def peers():
    if VBMicrolensing is None:
        return {}
    return {
        UNIFORM: [("VBMicrolensing ESPLLightCurve, a1 = 0 (array)", vbm_curve(False), 100_000),
                  ("VBMicrolensing ESPLMag2 (per point)", vbm(False, None), 100_000),
                  ("MulensModel finite_source_uniform_WittMao94", mulens("finite_source_uniform_WittMao94"), 1000)],
        LIMB[0]: [("VBMicrolensing ESPLLightCurve, a1 = 0.6 (array)", vbm_curve(True), 1000),
                  ("VBMicrolensing ESPLMagDark (per point)", vbm(True, None), 1000),
                  ("VBMicrolensing ESPLMagDark Tol=1e-4", vbm(True, 1e-4), 300),
                  ("MulensModel finite_source_LD_Lee09", mulens("finite_source_LD_Lee09"), 100)],
    }


def worst_error(call, rho, refs):
    """(largest relative error over the sample's finite results, number of points that raised or
    gave a non-finite value)."""
    worst, failed = 0.0, 0
    for l, ref in zip(SAMPLE_L, refs):
        try:
            got = call([l], rho)[0]
        except Exception:  # noqa: BLE001 - a peer's failure is a result here
            got = math.nan
        if math.isfinite(got):
            worst = max(worst, abs(got - ref) / abs(ref))
        else:
            failed += 1
    return worst, failed


def references(rho):
    try:
        from validate import reference  # needs mpmath (and the peers, which validate.py imports)
    except (ImportError, SystemExit):
        return None
    pairs = [reference(l, rho) for l in SAMPLE_L]
    return [float(u) for u, _ in pairs], [float(d) for _, d in pairs]


def fmt_err(e):
    if e is None:
        return "-"
    worst, failed = e
    return f"{worst:.1e}" + (f" ({failed} fail)" if failed else "")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="tenfold smaller workloads")
    parser.add_argument("--gradients", action="store_true", help="only the gradient functions beside their values")
    parser.add_argument("--centroid", action="store_true", help="the centroid shifts' cost alone")
    args = parser.parse_args()
    scale = 10 if args.quick else 1
    repeats = 3 if args.quick else 5
    if args.gradients or args.centroid:
        if args.gradients:
            gradients(repeats, scale)
        if args.centroid:
            centroid_costs(repeats, scale)
        return

    rows = []
    per_point = {}
    for rho in RHOS:
        refs = references(rho)
        for name, (call, n) in VELMORA.items():
            n //= scale
            l_array = positions(n, rho)
            l_list = l_array.tolist()
            t_list = best_time(lambda: call(l_list, rho), repeats) / n * 1e9
            t_array = best_time(lambda: call(l_array, rho), repeats) / n * 1e9
            per_point[(name, rho)] = t_array
            ref = None if refs is None else refs[0] if name == UNIFORM else refs[1] if name in LIMB else None
            err = None if ref is None else worst_error(call, rho, ref)
            rows.append((name, rho, t_list, t_array, "", None, None, err, None))
            for peer_name, peer_call, m in peers().get(name if name != LIMB[1] else "", []):
                m = max(m // scale, 10)
                l_peer = positions(m, rho).tolist()
                t_peer = best_time(lambda: peer_call(l_peer, rho), max(repeats // 2, 1)) / m * 1e9
                peer_err = None if ref is None else worst_error(peer_call, rho, ref)
                rows.append(("", rho, None, None, peer_name, t_peer, t_peer / t_array, None, peer_err))

    print(f"Cost per point (ns), best of {repeats}; u = l*rho spread over [0, 3]. err: largest relative error on "
          f"{len(SAMPLE_L)} positions per rho against a 30-digit reference (fail: raised or not finite there)")
    head = f"{'function':<56}{'rho':>5}{'list ns':>10}{'numpy ns':>10}{'peer/velmora':>14}  {'err':<16}"
    print(head)
    print("-" * len(head))
    for name, rho, t_list, t_array, peer, t_peer, ratio, err, peer_err in rows:
        if peer:
            print(f"{'  vs ' + peer:<56}{rho:>5g}{t_peer:>10.0f}{'':>10}{ratio:>14.2f}  {fmt_err(peer_err):<16}")
        else:
            print(f"{name:<56}{rho:>5g}{t_list:>10.0f}{t_array:>10.0f}{'':>14}  {fmt_err(err):<16}")

    print("\nAt rho = 0.05 (numpy input):")
    wm = per_point[(UNIFORM, 0.05)]
    ring = per_point[(LIMB[0], 0.05)]
    disk = per_point[(LIMB[1], 0.05)]
    fm = per_point[("integrated_flux_map_heyrovsky (100 knots)", 0.05)]
    wm_list = next(r[2] for r in rows if r[0] == UNIFORM and r[1] == 0.05)
    for what, value in [("witt_mao_magnification, numpy (ns per point)", wm),
                        ("witt_mao_magnification, list (ns per point)", wm_list),
                        ("ring route (us per point)", ring / 1e3), ("disk route / ring route", disk / ring),
                        ("100-knot map / fixed law, ring route", fm / ring)]:
        print(f"  {what:<46} {value:10.2f}")

    regions(repeats, scale)
    light_curve(repeats)
    law_regions(repeats, scale)
    law_light_curve(repeats)
    gradients(repeats, scale)
    centroid_costs(repeats, scale)

    print("\nCost against len(l), witt_mao_magnification at rho = 0.05 (numpy input):")
    for n in (1, 10, 1000, 10_000, 100_000, 1_000_000)[: 5 if args.quick else 6]:
        l_array = positions(max(n, 1), 0.05)
        t = best_time(lambda: velmora.witt_mao_magnification(l_array, 1.0, 0.05), repeats)
        print(f"  len {n:>9}: {t * 1e6:12.1f} us per call, {t / n * 1e9:10.1f} ns per point")
    empty = best_time(lambda: velmora.witt_mao_magnification([], 1.0, 0.05), 1000) * 1e9
    print(f"  fixed per-call overhead (empty list): {empty:.0f} ns")

    print("\nCost against the number of knots, integrated_flux_map_heyrovsky at rho = 0.05 (100 positions):")
    l_array = positions(100 // scale, 0.05)
    law = best_time(lambda: velmora.integrated_heyrovsky_magnification(l_array, 1.0, 0.05), repeats)
    for knots in (2, 5, 11, 21, 51, 101, 201, 401):
        table = law_table(knots)
        t = best_time(lambda: velmora.integrated_flux_map_heyrovsky_magnification(l_array, 1.0, 0.05, *table),
                      repeats)
        print(f"  {knots:>4} knots: {t / len(l_array) * 1e6:9.1f} us per point, {t / law:6.2f} x the fixed law")

    print("\nCost against the number of knots up to 10^6, integrated_flux_map_heyrovsky at rho = 0.05, 10 lens")
    print("positions l over [0, 2] source radii, a linear table (bl even on [0, 1], bf = 1 - 0.6 bl). Per knot:")
    print("time / (positions * knots), and its ratio to the per-knot cost at 100 knots (1.00: linear in the knots).")
    l_ten = np.linspace(0.0, 2.0, 10)
    times = {}
    for knots in (10, 100, 1000, 10_000, 100_000, 1_000_000)[: 5 if args.quick else 6]:
        bl = np.linspace(0.0, 1.0, knots)
        bf = 1.0 - 0.6 * bl
        times[knots] = best_time(lambda: velmora.integrated_flux_map_heyrovsky_magnification(l_ten, 1.0, 0.05, bl, bf),
                                 repeats if knots <= 10_000 else 1)
    per_knot = {knots: t / (len(l_ten) * knots) * 1e9 for knots, t in times.items()}
    for knots, t in times.items():
        print(f"  {knots:>9} knots: {t:9.4f} s per call, {per_knot[knots]:8.1f} ns per knot and position, "
              f"{per_knot[knots] / per_knot[100]:6.2f} x 100 knots")


def regions(repeats, scale):
    """The radius integrals per lens position by region, at rho = 0.05 (numpy input)."""
    print("\nRadius integrals by region, rho = 0.05, random l in each range (us per position, numpy input):")
    rng = np.random.default_rng(7)
    table = law_table(100)
    n = 2000 // scale
    print(f"  {'l range':<12}{'ring route':>12}{'disk route':>12}{'disk/ring':>11}{'100-knot map':>14}")
    for lo, hi in ((0.0, 1.0), (1.0, 3.0), (3.0, 100.0), (100.0, 1e4)):
        l = rng.uniform(lo, hi, n)
        ring = best_time(lambda: velmora.integrated_heyrovsky_magnification(l, 1.0, 0.05), repeats) / n * 1e6
        disk = best_time(lambda: velmora.integrated_witt_mao_magnification(l, 1.0, 0.05), repeats) / n * 1e6
        m = l[: max(n // 10, 10)]
        fmap = best_time(lambda: velmora.integrated_flux_map_heyrovsky_magnification(m, 1.0, 0.05, *table),
                         repeats) / len(m) * 1e6
        print(f"  {f'{lo:g}-{hi:g}':<12}{ring:>12.3f}{disk:>12.3f}{disk / ring:>11.2f}{fmap:>14.2f}")


def light_curve(repeats):
    """A limb-darkened light curve: 2000 epochs over t0 +- 2 tE, tE = 20 d, u0 = rho/2, rho = 0.05."""
    rho, u0, t_e = 0.05, 0.025, 20.0
    t = np.linspace(-2 * t_e, 2 * t_e, 2000)
    u = np.hypot(u0, t / t_e)
    l = u / rho
    ours = best_time(lambda: velmora.integrated_heyrovsky_magnification(l, 1.0, rho), repeats)
    print(f"\nLimb-darkened light curve (I = 1 - 0.6(1 - mu)): {len(t)} epochs over t0 +- 2 tE, tE = {t_e:g} d, "
          f"u0 = rho/2, rho = {rho:g} ({np.mean(l < 1):.0%} of the epochs inside the source)")
    print(f"  {'code':<52}{'us per epoch':>14}{'x velmora':>11}  largest difference from velmora")
    print(f"  {'velmora integrated_heyrovsky_magnification':<52}{ours / len(t) * 1e6:>14.3f}{1.0:>11.2f}  -")
    if VBMicrolensing is None:
        print("  (VBMicrolensing not installed: the bench extra brings it)")
        return
    want = np.asarray(velmora.integrated_heyrovsky_magnification(l, 1.0, rho))
    for name, tol, rel_tol in (("VBMicrolensing ESPLMagDark, RelTol = 1e-4 (per point)", None, 1e-4),
                               ("VBMicrolensing ESPLMagDark, Tol = 1e-4 (per point)", 1e-4, None),
                               ("VBMicrolensing ESPLMagDark, default Tol (per point)", None, None)):
        call = vbm(True, tol, rel_tol)
        theirs = best_time(lambda: call(l, rho), max(repeats // 2, 1))
        diff = np.max(np.abs(np.asarray(call(l, rho)) - want) / want)
        print(f"  {name:<52}{theirs / len(t) * 1e6:>14.3f}{theirs / ours:>11.2f}  {diff:.1e}")
    engine = VBMicrolensing.VBMicrolensing()
    engine.a1 = LD
    params = [math.log(u0), math.log(t_e), 0.0, math.log(rho)]
    theirs = best_time(lambda: engine.ESPLLightCurve(params, list(t)), max(repeats // 2, 1))
    diff = np.max(np.abs(np.asarray(engine.ESPLLightCurve(params, list(t))[0]) - want) / want)
    print(f"  {'VBMicrolensing ESPLLightCurve (array)':<52}{theirs / len(t) * 1e6:>14.3f}{theirs / ours:>11.2f}  "
          f"{diff:.1e}")


# The laws as integrated_law_heyrovsky_magnification takes them: name, (powers, weights).
QUADRATIC = (0.4, 0.25)  # a (of 1 - mu), b (of (1 - mu)^2)
LAWS = [
    ("linear c = 0.6", ((0.0, 1.0), (0.4, 0.6))),
    ("quadratic a = 0.4, b = 0.25", ((0.0, 1.0, 2.0), (1 - 0.4 - 0.25, 0.4 + 2 * 0.25, -0.25))),
    ("square-root c = 0.1, d = 0.6", ((0.0, 1.0, 0.5), (1 - 0.1 - 0.6, 0.1, 0.6))),
    ("power-2 c = 0.7, alpha = 0.8", ((0.0, 0.8), (1 - 0.7, 0.7))),
    ("four-coefficient 0.5, 0.3, -0.2, 0.1", ((0.0, 0.5, 1.0, 1.5, 2.0), (0.3, 0.5, 0.3, -0.2, 0.1))),
]


def law_regions(repeats, scale):
    """integrated_law_heyrovsky_magnification per lens position for each law, and its ratio to the
    built-in law (integrated_heyrovsky_magnification) on the same positions, at rho = 0.05."""
    print("\nAny-law function (integrated_law_heyrovsky_magnification) by region, rho = 0.05, random l in each")
    print("range (numpy input); us per position, and x the built-in law (integrated_heyrovsky_magnification):")
    rng = np.random.default_rng(11)
    n = 2000 // scale
    ranges = ((0.0, 1.0), (1.0, 3.0), (3.0, 1e3))
    samples = [rng.uniform(lo, hi, n) for lo, hi in ranges]
    head = f"  {'law':<40}" + "".join(f"{f'l {lo:g}-{hi:g}':>14}{'x built-in':>11}" for lo, hi in ranges)
    print(head)
    builtin = [best_time(lambda: velmora.integrated_heyrovsky_magnification(l, 1.0, 0.05), repeats) / n * 1e6
               for l in samples]
    print(f"  {'built-in law (integrated_heyrovsky)':<40}" + "".join(f"{f'{t:.3f} us':>14}{'1.00':>11}" for t in builtin))
    for name, (powers, weights) in LAWS:
        cells = []
        for l, base in zip(samples, builtin):
            t = best_time(lambda: velmora.integrated_law_heyrovsky_magnification(l, 1.0, 0.05, powers, weights),
                          repeats) / n * 1e6
            cells.append(f"{f'{t:.3f} us':>14}{t / base:>11.2f}")
        print(f"  {name:<40}" + "".join(cells))


def law_light_curve(repeats):
    """A quadratic-law light curve: 2000 epochs over t0 +- 40 d, tE = 20 d, u0 = rho/2, rho = 0.05,
    velmora's any-law function beside VBMicrolensing's ESPLMagDark (LDquadratic, a1 = a, a2 = b,
    RelTol = 1e-4; benchmarks/validate.py identifies that mapping)."""
    rho, u0, t_e = 0.05, 0.025, 20.0
    t = np.linspace(-2 * t_e, 2 * t_e, 2000)
    l = np.hypot(u0, t / t_e) / rho
    powers, weights = LAWS[1][1]
    ours = best_time(lambda: velmora.integrated_law_heyrovsky_magnification(l, 1.0, rho, powers, weights), repeats)
    print(f"\nQuadratic-law light curve (a = {QUADRATIC[0]:g}, b = {QUADRATIC[1]:g}): {len(t)} epochs over t0 +- 40 d, "
          f"tE = {t_e:g} d, u0 = rho/2, rho = {rho:g}")
    print(f"  {'code':<52}{'us per epoch':>14}{'x velmora':>11}  largest difference from velmora")
    print(f"  {'velmora integrated_law_heyrovsky_magnification':<52}{ours / len(t) * 1e6:>14.3f}{1.0:>11.2f}  -")
    if VBMicrolensing is None:
        print("  (VBMicrolensing not installed: the bench extra brings it)")
        return
    engine = VBMicrolensing.VBMicrolensing()
    engine.SetLDprofile(engine.LDquadratic)
    engine.a1, engine.a2 = QUADRATIC
    engine.RelTol = 1e-4
    us = (l * rho).tolist()
    call = lambda: [engine.ESPLMagDark(u, rho) for u in us]
    theirs = best_time(call, max(repeats // 2, 1))
    want = np.asarray(velmora.integrated_law_heyrovsky_magnification(l, 1.0, rho, powers, weights))
    diff = np.max(np.abs(np.asarray(call()) - want) / want)
    name = "VBMicrolensing ESPLMagDark LDquadratic, RelTol = 1e-4"
    print(f"  {name:<52}{theirs / len(t) * 1e6:>14.3f}{theirs / ours:>11.2f}  {diff:.1e}")
    # The same curve for other source sizes: velmora's cost is that of the epochs inside the source
    # (about 2 us each at rho = 0.05) and next to it, VBMicrolensing's mostly per call.
    print("  the same light curve (u0 = rho/2) for other rho: us per epoch, and velmora's time over VBMicrolensing's")
    print(f"  {'rho':>8}{'inside':>9}{'velmora':>10}{'VBM':>10}{'velmora/VBM':>13}")
    for other in (0.005, 0.01, 0.02, 0.05, 0.1):
        lo = np.hypot(other / 2, t / t_e) / other
        ours_o = best_time(lambda: velmora.integrated_law_heyrovsky_magnification(lo, 1.0, other, powers, weights),
                           repeats)
        us_o = (lo * other).tolist()
        theirs_o = best_time(lambda: [engine.ESPLMagDark(u, other) for u in us_o], max(repeats // 2, 1))
        print(f"  {other:>8g}{np.mean(lo < 1):>9.1%}{ours_o / len(t) * 1e6:>10.3f}{theirs_o / len(t) * 1e6:>10.3f}"
              f"{ours_o / theirs_o:>13.2f}")


# Each centroid function beside the magnification it divides by: name, shift(l, rho), magnification(l, rho).
CENTROID_PAIRS = [
    ("uniform: witt_mao_centroid_shift", lambda l, rho: velmora.witt_mao_centroid_shift(l, 1.0, rho),
     lambda l, rho: velmora.witt_mao_magnification(l, 1.0, rho)),
    *[(f"{name}: integrated_law_heyrovsky_centroid_shift",
       lambda l, rho, pw=pw: velmora.integrated_law_heyrovsky_centroid_shift(l, 1.0, rho, *pw),
       lambda l, rho, pw=pw: velmora.integrated_law_heyrovsky_magnification(l, 1.0, rho, *pw))
      for name, pw in (LAWS[0], LAWS[1])],
    ("100-knot map: integrated_flux_map_heyrovsky_centroid_shift",
     lambda l, rho: velmora.integrated_flux_map_heyrovsky_centroid_shift(l, 1.0, rho, *TABLE_100),
     lambda l, rho: velmora.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, *TABLE_100)),
]


def centroid_costs(repeats, scale):
    """The centroid shifts' cost per lens position and its ratio to the corresponding magnification
    (witt_mao_magnification, integrated_law_heyrovsky_magnification with the same law), both timed
    in this run on the same positions: by region of l at rho = 0.05, 1 and 10 (the uniform disk's
closed form takes its double-double steps below l = 3 when u = l·rho is large), and along a light curve
    (2000 epochs over t0 +- 2 tE, u0 = rho/2, rho = 0.05)."""
    print("\nCentroid shifts by region, random l in each range (numpy input): us per position, and the shift's")
    print("time over its magnification's (witt_mao_magnification; integrated_law_heyrovsky_magnification, same law):")
    rng = np.random.default_rng(13)
    ranges = ((0.0, 1.0), (1.0, 3.0), (3.0, 16.0), (16.0, 1e3))
    head = f"  {'function':<60}{'rho':>6}" + "".join(f"{f'l {lo:g}-{hi:g}':>11}{'/ mag':>7}" for lo, hi in ranges)
    print(head)
    for name, shift, magnification in CENTROID_PAIRS:
        n = (100_000 if name.startswith("uniform") else 100 if name.startswith("100-knot") else 1000) // scale
        for rho in (0.05, 1.0, 10.0):
            cells = []
            for lo, hi in ranges:
                l = rng.uniform(lo, hi, n)
                t_shift = best_time(lambda: shift(l, rho), repeats) / n * 1e6
                t_mag = best_time(lambda: magnification(l, rho), repeats) / n * 1e6
                cells.append(f"{t_shift:>11.3f}{t_shift / t_mag:>7.2f}")
            print(f"  {name:<60}{rho:>6g}" + "".join(cells))
    rho, u0, t_e = 0.05, 0.025, 20.0
    t = np.linspace(-2 * t_e, 2 * t_e, 2000)
    l = np.hypot(u0, t / t_e) / rho
    print(f"  light curve, {len(t)} epochs over t0 +- 2 tE, u0 = rho/2, rho = {rho:g} ({np.mean(l < 1):.0%} inside the "
          f"source): us per epoch, shift / magnification")
    for name, shift, magnification in CENTROID_PAIRS:
        t_shift = best_time(lambda: shift(l, rho), repeats)
        t_mag = best_time(lambda: magnification(l, rho), repeats)
        print(f"  {name:<60}{t_shift / len(t) * 1e6:>11.3f}{t_shift / t_mag:>7.2f}")


def gradients(repeats, scale):
    """Each gradient function (the value and dA/du, dA/drho) beside its value function on the same
    positions (numpy input), rho = 0.05: random l by region, and a light curve of 2000 epochs over
    t0 +- 40 d, tE = 20 d, u0 = rho/2, one call per light curve."""
    rho = 0.05
    rng = np.random.default_rng(12)
    t = np.linspace(-40.0, 40.0, 2000)
    curve = np.hypot(rho / 2, t / 20.0) / rho
    quadratic = LAWS[1][1]
    pairs = [
        ("witt_mao (uniform disk)", 200_000 // scale,
         lambda l: velmora.witt_mao_magnification(l, 1.0, rho),
         lambda l: velmora.witt_mao_magnification_gradient(l, 1.0, rho)),
        ("integrated_law, quadratic", 2000 // scale,
         lambda l: velmora.integrated_law_heyrovsky_magnification(l, 1.0, rho, *quadratic),
         lambda l: velmora.integrated_law_heyrovsky_magnification_gradient(l, 1.0, rho, *quadratic)),
        ("integrated_law, square-root", 2000 // scale,
         lambda l: velmora.integrated_law_heyrovsky_magnification(l, 1.0, rho, *LAWS[2][1]),
         lambda l: velmora.integrated_law_heyrovsky_magnification_gradient(l, 1.0, rho, *LAWS[2][1])),
        ("integrated_flux_map, 21 knots", 2000 // scale,
         lambda l: velmora.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, *TABLE_21),
         lambda l: velmora.integrated_flux_map_heyrovsky_magnification_gradient(l, 1.0, rho, *TABLE_21)),
    ]
    ranges = ((0.0, 1.0), (1.0, 4.0), (4.0, 1e3))
    print(f"\nGradients beside their values, rho = {rho:g} (numpy input): us per position, and the ratio gradient/value")
    print(f"  {'function':<30}" + "".join(f"{f'l {lo:g}-{hi:g}':>22}" for lo, hi in ranges) + f"{'light curve':>22}")
    for name, n, value, gradient in pairs:
        cells = []
        # The regions on n positions per call; the light curve as one, its 2000 epochs per call (for
        # the disk, n = 200 000 positions per call make 600 000 Python floats for the gradient's
        # three lists, whose allocation then dominates: the region columns show that regime).
        for l in [rng.uniform(lo, hi, n) for lo, hi in ranges] + [curve]:
            tv = best_time(lambda: value(l), repeats) / len(l) * 1e6
            tg = best_time(lambda: gradient(l), repeats) / len(l) * 1e6
            cells.append(f"{f'{tg:.3f}/{tv:.3f}':>16}{tg / tv:>5.2f}x")
        print(f"  {name:<30}" + "".join(cells))
    # The floor of the three lists: positions with nothing to compute (the magnification 1).
    l = np.full(10_000, 1e300)
    tv = best_time(lambda: velmora.witt_mao_magnification(l, 1.0, rho), repeats) / len(l) * 1e9
    tg = best_time(lambda: velmora.witt_mao_magnification_gradient(l, 1.0, rho), repeats) / len(l) * 1e9
    print(f"  nothing to compute (l = 1e300, 10 000 positions a call): the disk's value {tv:.1f} ns a position, "
          f"its gradient {tg:.1f} ns ({tg / tv:.2f}x)")


if __name__ == "__main__":
    main()
