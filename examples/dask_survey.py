"""Light curves of a simulated survey on a Dask cluster, checked against a serial run bit for bit.

Each of N events gets parameters drawn from these distributions (seeded, so every run draws the same):

- t0 uniform over a 72-day season, [0, 72] d (a Roman bulge-survey season);
- u0 uniform in [0, 1.5 rho]: every event's lens passes within 1.5 source radii of the source centre,
  so every light curve needs the finite source;
- tE log-normal: log10(tE / 1 d) normal with mean 1.3 and standard deviation 0.3 (tE ≈ 20 d);
- rho log-uniform in [1e-3, 3e-2] (source radius in Einstein radii).

Each light curve is the limb-darkened magnification (integrated_heyrovsky_magnification, the
built-in linear law 0.6) at a 15-minute cadence over t0 ± 3 rho tE, the stretch in which the source
matters. The events go to the cluster in batches (one task per batch); velmora's functions run in the
workers as they run here, so the results are bit-identical to a serial run, which the example checks.
It prints the throughput (lens positions per second) of the serial run and of the cluster, per
worker.

Needs Dask's distributed scheduler: python -m pip install 'dask[distributed]' (or the `dask` extra).
Usage: python examples/dask_survey.py [--events N] [--workers W] [--scheduler ADDRESS] [--batch B]
  (default: 1000 events in tasks of 25 on a LocalCluster of 2 worker processes, one thread each; --scheduler
  tcp://host:8786 uses a running cluster instead, whose workers must have velmora installed)
"""
from __future__ import annotations

import argparse
import math
import random
import time
from typing import Any

import velmora

CADENCE = 15.0 / 1440.0  # days
SEASON = 72.0  # days
HALF_WIDTH = 3.0  # in source-radius crossing times rho*tE
LD_FUNCTION = velmora.integrated_heyrovsky_magnification


def draw_events(n: int, seed: int = 2026) -> list[tuple[float, float, float, float]]:
    """(t0, u0, tE, rho) of n events, from the distributions above."""
    rng = random.Random(seed)
    events = []
    for _ in range(n):
        rho = 10.0 ** rng.uniform(-3.0, math.log10(3e-2))
        events.append((rng.uniform(0.0, SEASON), rng.uniform(0.0, 1.5 * rho), 10.0 ** rng.gauss(1.3, 0.3), rho))
    return events


def light_curve(event: tuple[float, float, float, float]) -> list[float]:
    """Limb-darkened magnification of one event on the cadence over t0 ± 3 rho tE."""
    t0, u0, tE, rho = event
    half = HALF_WIDTH * rho * tE
    n = int(2.0 * half / CADENCE) + 1
    l = [math.hypot(u0, (-half + k * CADENCE) / tE) / rho for k in range(n)]
    return LD_FUNCTION(l, 1.0, rho)


def light_curves(events: list[tuple[float, float, float, float]]) -> list[list[float]]:
    """One batch: the task each worker runs."""
    return [light_curve(event) for event in events]


def batches(events: list[tuple[float, float, float, float]], size: int) -> list[list[tuple[float, float, float, float]]]:
    return [events[i:i + size] for i in range(0, len(events), size)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--events", type=int, default=1000, help="number of simulated events (default 1000)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster (default 2)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler instead of a LocalCluster")
    parser.add_argument("--batch", type=int, default=25, help="events per task (default 25)")
    args = parser.parse_args()
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        raise SystemExit("dask.distributed is not installed: python -m pip install 'dask[distributed]'"
                         " (from the source tree: python -m pip install '.[dask]')")

    events = draw_events(args.events)
    start = time.perf_counter()
    serial = light_curves(events)
    serial_seconds = time.perf_counter() - start
    points = sum(len(curve) for curve in serial)
    print(f"{len(events)} events, {points} lens positions (15-minute cadence over t0 ± 3 rho tE)")
    print(f"serial, this process: {serial_seconds:.2f} s, {points / serial_seconds:,.0f} positions/s")

    # Any: older dask releases (those for Python 3.9) leave Client's methods untyped.
    client: Any
    if args.scheduler:
        cluster = None
        client = Client(args.scheduler)  # type: ignore[no-untyped-call]
    else:
        # processes, one thread each: velmora holds the interpreter lock during a call, so threads in
        # one worker would take turns
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,  # type: ignore[no-untyped-call]
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)  # type: ignore[no-untyped-call]
    try:
        workers = len(client.scheduler_info()["workers"])
        where = args.scheduler or f"LocalCluster of {workers} worker process{'es' if workers != 1 else ''}"
        client.submit(light_curves, events[:1]).result()  # workers import velmora before the clock starts
        start = time.perf_counter()
        futures = client.map(light_curves, batches(events, args.batch), pure=False)
        distributed = [curve for batch in client.gather(futures) for curve in batch]
        seconds = time.perf_counter() - start
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    same = len(distributed) == len(serial) and all(
        len(a) == len(b) and all(x.hex() == y.hex() for x, y in zip(a, b)) for a, b in zip(distributed, serial))
    print(f"{where}: {seconds:.2f} s, {points / seconds:,.0f} positions/s,"
          f" {points / seconds / workers:,.0f} per worker ({serial_seconds / seconds:.2f} times the serial speed)")
    print(f"results equal the serial run bit for bit: {'yes' if same else 'NO'}")
    if not same:
        raise SystemExit(1)


if __name__ == "__main__":
    main()
