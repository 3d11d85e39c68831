"""velmora against VBMicrolensing's extended-source point-lens magnification, in one run.

Times per element (median of 5) and the largest relative difference, for a uniform disk and for
linear limb darkening with coefficient 0.6, over lens positions l in (0, 3] source radii at
rstar/re = 0.05. VBMicrolensing is not a dependency: `python -m pip install VBMicrolensing`.
Usage: python benchmarks/bench_rival.py
"""
import statistics
import time

import velmora

try:
    import VBMicrolensing
except ImportError:
    raise SystemExit("VBMicrolensing is not installed: python -m pip install VBMicrolensing")

RHO = 0.05
N = 2_000
positions = [3.0 * (i + 1) / N for i in range(N)]  # l = 0 is outside VBMicrolensing's domain


def timed(call):
    times, out = [], None
    for _ in range(5):
        start = time.perf_counter()
        out = call()
        times.append(time.perf_counter() - start)
    return statistics.median(times) / N, out


def largest_difference(a, b):
    return max(abs(x - y) / abs(y) for x, y in zip(a, b))


def main():
    vb = VBMicrolensing.VBMicrolensing()
    rows = []
    for tolerance in (1e-3, 1e-6):
        vb.Tol = tolerance
        vb.a1 = 0.0
        t_vb_uniform, vb_uniform = timed(lambda: [vb.ESPLMag2(l * RHO, RHO) for l in positions])
        vb.a1 = 0.6
        t_vb_dark, vb_dark = timed(lambda: [vb.ESPLMagDark(l * RHO, RHO) for l in positions])
        rows.append((tolerance, t_vb_uniform, vb_uniform, t_vb_dark, vb_dark))

    t_uniform, uniform = timed(lambda: velmora.witt_mao_magnification(positions, 1.0, RHO))
    t_ring, ring = timed(lambda: velmora.integrated_heyrovsky_magnification(positions, 1.0, RHO))
    t_disk, disk = timed(lambda: velmora.integrated_witt_mao_magnification(positions, 1.0, RHO))

    print(f"rstar/re = {RHO}, {N} lens positions in (0, 3] source radii; time per element, median of 5")
    print(f"velmora uniform disk            {t_uniform * 1e6:9.2f} us")
    print(f"velmora limb-darkened (ring)    {t_ring * 1e6:9.2f} us")
    print(f"velmora limb-darkened (disk)    {t_disk * 1e6:9.2f} us")
    for tolerance, t_vb_uniform, vb_uniform, t_vb_dark, vb_dark in rows:
        print(f"VBMicrolensing Tol={tolerance:g}:")
        print(f"  uniform disk    {t_vb_uniform * 1e6:9.2f} us  velmora/VBM time {t_uniform / t_vb_uniform:7.3f}"
              f"  largest rel. difference {largest_difference(uniform, vb_uniform):.1e}")
        print(f"  limb-darkened   {t_vb_dark * 1e6:9.2f} us  velmora(ring)/VBM time {t_ring / t_vb_dark:7.3f}"
              f"  largest rel. difference {largest_difference(ring, vb_dark):.1e}")


if __name__ == "__main__":
    main()
