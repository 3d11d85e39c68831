"""Time per element of each velmora function, median of 5 runs, measured in one run.

Prints absolute times (this machine is shared and noisy: compare runs by the ratios) and each
function's time relative to the uniform disk. Usage: python benchmarks/bench_models.py
"""
import math
import statistics
import time

import velmora

RE, RSTAR = 1.0, 0.05
TABLE_R = [i / 20 for i in range(21)]
TABLE_F = [1.0 - 0.6 * (1.0 - math.sqrt(1.0 - r * r)) for r in TABLE_R]


def positions(n):
    return [3.0 * i / (n - 1) for i in range(n)]


def per_element(call, n, repeats=5):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times) / n


def main():
    big, small = positions(100_000), positions(1_000)
    cases = [
        ("witt_mao_magnification", 100_000, lambda: velmora.witt_mao_magnification(big, RE, RSTAR)),
        ("heyrovsky_magnification (scalar calls)", 100_000,
         lambda: [velmora.heyrovsky_magnification(l, 0.7, RE, RSTAR) for l in big]),
        ("discrete_flux_map_heyrovsky (21 rings)", 1_000,
         lambda: velmora.discrete_flux_map_heyrovsky_magnification(small, RE, RSTAR, TABLE_R, TABLE_F)),
        ("integrated_heyrovsky_magnification", 1_000,
         lambda: velmora.integrated_heyrovsky_magnification(small, RE, RSTAR)),
        ("integrated_witt_mao_magnification", 1_000,
         lambda: velmora.integrated_witt_mao_magnification(small, RE, RSTAR)),
        ("integrated_flux_map_heyrovsky (21 knots)", 1_000,
         lambda: velmora.integrated_flux_map_heyrovsky_magnification(small, RE, RSTAR, TABLE_R, TABLE_F)),
        ("integrated_flux_map_witt_mao (21 knots)", 1_000,
         lambda: velmora.integrated_flux_map_witt_mao_magnification(small, RE, RSTAR, TABLE_R, TABLE_F)),
    ]
    results = [(name, per_element(call, n)) for name, n, call in cases]
    base = results[0][1]
    print(f"rstar/re = {RSTAR / RE}, l uniform in [0, 3]; median of 5")
    print(f"{'function':<44} {'per element':>14} {'/ uniform disk':>15}")
    for name, t in results:
        print(f"{name:<44} {t * 1e6:11.3f} us {t / base:15.1f}")


if __name__ == "__main__":
    main()
