"""Signals during a long call: Ctrl-C (SIGINT) stops every vector function within a fraction of a
second with the signal handler's own exception, no result and nothing leaked; a handler that
returns normally lets the call finish with its full result.

Each case runs in a child interpreter: the parent sends the signal and compares the child's
clock (CLOCK_MONOTONIC, shared by all processes) at the exception with its own at the kill.
"""
import signal
import textwrap
import time

import pytest

from _support import FUNCTIONS, SANITIZED, start_child

# Tests that measure time, memory or signal latency run one after another on one worker when the
# suite runs in several processes (pytest-xdist, --dist loadgroup), never beside each other.
pytestmark = pytest.mark.xdist_group("measured")

BOUND = 0.5  # seconds from the signal to the exception


def long_call(function):
    """A call that takes 5 s to a minute uncut (far longer under the sanitizers), in its own loop:
    lens positions, table pieces or table rings."""
    if function.power_law:
        args = "[0.5] * 1_000_000, 1.0, 0.1, [0.0, 0.5, 1.0, 1.5, 2.0], [0.3, 0.4, 0.2, 0.3, -0.2]"
    elif function.name.startswith("integrated_"):
        args = "[0.5] * 200_000, 1.0, 0.1, BL, BF" if function.flux_map else "[0.5] * 1_000_000, 1.0, 0.1"
    else:
        args = "[0.5] * 2_000, 1.0, 0.1, RINGS, [1.0] * 50_000" if function.flux_map else "POSITIONS, 1.0, 0.1"
    return f"velmora.{function.name}({args})"


# Every vector function, by its name without "_magnification"; SETUP runs before the child says it is ready.
LONG_CALLS = {f.name.removesuffix("_magnification"): long_call(f) for f in FUNCTIONS if f.returns_list}
# The gradient costs ~2.5 times the value per position and keeps three results per position.
SETUP = {"witt_mao": "POSITIONS = np.full(30_000_000, 0.5)",
         "witt_mao_magnification_gradient": "POSITIONS = np.full(12_000_000, 0.5)",
         "witt_mao_centroid_shift": "POSITIONS = np.full(30_000_000, 0.5)"}

PRELUDE = """
    import os, signal, sys, time
    import numpy as np
    import velmora

    BL = [k / 100 for k in range(101)]
    BF = [1.0 - 0.6 * (1 - (1 - r * r) ** 0.5) for r in BL]
    RINGS = [(k + 0.5) / 50_000 for k in range(50_000)]

    class Stop(Exception):
        pass

    def stop(signum, frame):
        raise Stop(signum)

    # A background job of a non-interactive shell starts with SIGINT ignored; take Python's own.
    signal.signal(signal.SIGINT, signal.default_int_handler)
"""


def child(body):
    return start_child(textwrap.dedent(PRELUDE) + textwrap.dedent(body))


def interrupt(body, signum=signal.SIGINT, settle=0.3):
    """Starts the child, waits for its "ready" line and `settle` seconds more, sends the signal;
    returns (the child's last line, seconds from the signal to the child's report)."""
    proc = child(body)
    try:
        ready = proc.stdout.readline()
        assert ready.strip() == "ready", (ready, proc.stderr.read())
        time.sleep(settle)
        sent = time.monotonic()
        proc.send_signal(signum)
        out, err = proc.communicate(timeout=120)
    finally:
        proc.kill()
        proc.wait()
    assert proc.returncode == 0, err
    name, stamp = out.split()[-2:]
    return name, float(stamp) - sent


@pytest.mark.parametrize("name", LONG_CALLS)
def test_sigint_stops_a_long_call(name):
    # The default handler's KeyboardInterrupt, not a RuntimeError, and the call returns nothing.
    got, latency = interrupt(f"""
        {SETUP.get(name, "")}
        print("ready", flush=True)
        try:
            result = {LONG_CALLS[name]}
        except BaseException as exc:
            print(type(exc).__name__, time.monotonic())
        else:
            print("returned", time.monotonic())
    """)
    assert got == "KeyboardInterrupt" and latency < BOUND, f"{name}: {got} {latency:.3f} s after SIGINT"


@pytest.mark.parametrize("name", ["witt_mao", "integrated_heyrovsky", "discrete_flux_map_heyrovsky"])
def test_handler_exception_is_raised(name):
    # The exception is whatever the handler raised, for any signal with a raising handler.
    got, latency = interrupt(f"""
        signal.signal(signal.SIGUSR1, stop)
        {SETUP.get(name, "")}
        print("ready", flush=True)
        try:
            {LONG_CALLS[name]}
        except Stop as exc:
            assert exc.args == (signal.SIGUSR1,), exc.args
            print("Stop", time.monotonic())
    """, signum=signal.SIGUSR1)
    assert got == "Stop" and latency < BOUND, f"{name}: {got} {latency:.3f} s after SIGUSR1"


def test_handler_that_returns_lets_the_call_finish():
    # Signals whose handler only counts them do not cut the call: the result is the full one,
    # bit for bit.
    out = child("""
        ls = [0.5, 0.0, 1e-4, 0.99, 1.0, 1.5] * 30000
        args = (ls, 1.0, 0.05)
        quiet = velmora.integrated_heyrovsky_magnification(*args)
        seen = []
        signal.signal(signal.SIGALRM, lambda signum, frame: seen.append(signum))
        signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
        noisy = velmora.integrated_heyrovsky_magnification(*args)
        signal.setitimer(signal.ITIMER_REAL, 0)
        assert len(seen) >= 5, len(seen)
        assert noisy == quiet
        print("ready")
        print("OK", len(seen))
    """).communicate(timeout=300)
    assert out[0].split()[-2] == "OK", out[1]


def test_interrupted_calls_leak_nothing():
    # 60 calls cut by a timer, each after its conversion allocated the argument vectors and the
    # model part of its result: the resident size and the input's reference count do not grow.
    if SANITIZED:
        pytest.skip("resident size is not measurable under AddressSanitizer (freed blocks are quarantined)")
    out = child("""
        ls = [0.5] * 200_000
        page = os.sysconf("SC_PAGE_SIZE")
        def resident():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * page
        signal.signal(signal.SIGALRM, stop)
        def cut(k):
            for _ in range(k):
                signal.setitimer(signal.ITIMER_REAL, 0.03)
                try:
                    velmora.integrated_heyrovsky_magnification(ls, 1.0, 0.1)
                except Stop:
                    pass
                else:
                    raise AssertionError("not interrupted")
        cut(10)
        refs, before = sys.getrefcount(ls), resident()
        cut(60)
        print("ready")
        print((resident() - before) // 1024, sys.getrefcount(ls) - refs)
    """).communicate(timeout=300)
    assert out[0].strip(), out[1]
    grown_kib, refs = map(int, out[0].split()[-2:])
    # each call holds 3.2 MB (the vector of l and its results): 60 leaked calls would be 190 MB
    assert refs == 0 and grown_kib < 4096, f"resident size +{grown_kib} KiB, reference count +{refs}"
