"""Interrupt latency: how long after SIGINT each vector function raises KeyboardInterrupt.

Each long call runs in a child interpreter (the calls of tests/test_interrupt.py); the parent sends
SIGINT 0.3 s into the call and compares its clock at the kill with the child's at the exception
(CLOCK_MONOTONIC is shared by all processes). Prints the median and largest latency per function.
Usage: python benchmarks/interrupt.py [--repeat N]   (about a minute; needs numpy)
"""
import argparse
import pathlib
import signal
import statistics
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from test_interrupt import LONG_CALLS, SETUP, interrupt  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    print(f"{'function':<32} {'median ms':>10} {'max ms':>8}")
    for name, call in LONG_CALLS.items():
        latencies = []
        for _ in range(args.repeat):
            got, latency = interrupt(f"""
                {SETUP.get(name, "")}
                print("ready", flush=True)
                try:
                    {call}
                except KeyboardInterrupt:
                    print("KeyboardInterrupt", time.monotonic())
            """, signum=signal.SIGINT)
            assert got == "KeyboardInterrupt", got
            latencies.append(latency * 1e3)
        print(f"{name:<32} {statistics.median(latencies):10.1f} {max(latencies):8.1f}", flush=True)


if __name__ == "__main__":
    main()
