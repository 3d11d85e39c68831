"""Runtime reliability: every call ends (no iteration spins on NaN, infinities, zeros, negative or
huge values), threads get the serial results bit for bit, and a 10^7-element input costs memory
in proportion to its size."""
import json
import math
import sys
import threading
import time

import pytest

from _hostile import FloatRaises
from _support import BY_NAME, FUNCTIONS, SANITIZED, SEQUENCE, Result, outcome, run_child, scaled

# Tests that measure time, memory or signal latency run one after another on one worker when the
# suite runs in several processes (pytest-xdist, --dist loadgroup), never beside each other.
pytestmark = pytest.mark.xdist_group("measured")

# ---------------------------------------------------------------------------------------------
# Termination.

SPECIALS = [math.nan, math.inf, -math.inf, 0.0, -0.0, -1.0, -1e300, 1e300, 5e-324]
SPECIAL_NAMES = ["nan", "inf", "-inf", "0", "-0", "-1", "-1e300", "1e300", "5e-324"]
TYPICAL = {"l": 0.5, "r": 0.6, "re": 1.0, "rstar": 0.1}
TYPICAL_L = [0.0, 0.25, 0.5, 0.9, 0.99999, 1.0, 1.00001, 1.5, 3.0, 10.0]  # 10 elements
TYPICAL_BL = [0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.9, 1.0]
TYPICAL_BF = [1.0, 0.95, 0.9, 0.85, 0.8, 0.7, 0.6, 0.5, 0.3, 0.1]
TYPICAL_POWERS = [0.0, 0.5, 1.0, 1.5, 2.0]  # the four-coefficient law
TYPICAL_WEIGHTS = [0.2, 0.6, -0.3, 0.4, 0.1]
MIXED = [x for pair in zip(SPECIALS, TYPICAL_L) for x in pair][:10]  # specials between typical values
# A 10-element call normally takes well under 10 ms; the bound is there to catch a spinning loop.
BOUND_SECONDS = scaled(1.0, 10.0)


def _typical(function):
    values = {"l": TYPICAL_L, "bl": TYPICAL_BL, "bf": TYPICAL_BF, "powers": TYPICAL_POWERS, "weights": TYPICAL_WEIGHTS}
    return [values[name] if kind == SEQUENCE else TYPICAL[name] for name, kind in function.params]


def termination_cases():
    """(label, function name, args): each parameter (and each table) set to each special value,
    alone and mixed with typical values, and every pair of special values in re and rstar."""
    for function in FUNCTIONS:
        base = _typical(function)
        for position, (name, kind) in enumerate(function.params):
            for value, text in zip(SPECIALS, SPECIAL_NAMES):
                args = list(base)
                args[position] = [value] * 10 if kind == SEQUENCE else value
                yield f"{function.name} {name}={text}", function.name, args
            if kind == SEQUENCE:
                args = list(base)
                args[position] = MIXED
                yield f"{function.name} {name}=mixed specials", function.name, args
                args = list(base)
                args[position] = list(reversed(MIXED))
                yield f"{function.name} {name}=mixed specials, reversed", function.name, args
        names = [name for name, _ in function.params]
        i, j = names.index("re"), names.index("rstar")
        for re_value, re_text in zip(SPECIALS, SPECIAL_NAMES):
            for rstar_value, rstar_text in zip(SPECIALS, SPECIAL_NAMES):
                args = list(base)
                args[i], args[j] = re_value, rstar_value
                if function.params[0][1] == SEQUENCE:
                    args[0] = MIXED
                yield f"{function.name} re={re_text} rstar={rstar_text}", function.name, args
        # Every parameter special at once.
        for value, text in zip(SPECIALS, SPECIAL_NAMES):
            args = [[value] * 10 if kind == SEQUENCE else value for _, kind in function.params]
            yield f"{function.name} all={text}", function.name, args


_TERMINATION_CHILD = """
import faulthandler, json, sys, time
import _support
cases = json.load(sys.stdin)
limit = float(sys.argv[1])
for index, (label, name, args) in enumerate(cases):
    print(json.dumps({"start": index}), flush=True)
    faulthandler.dump_traceback_later(limit, exit=True)  # a call that spins ends the child here
    start = time.perf_counter()
    got = _support.outcome(_support.BY_NAME[name].fn, args)
    elapsed = time.perf_counter() - start
    faulthandler.cancel_dump_traceback_later()
    print(json.dumps({"index": index, "seconds": elapsed, "outcome": repr(got)}), flush=True)
"""


def test_every_call_terminates():
    cases = list(termination_cases())
    proc = run_child(_TERMINATION_CHILD, 600, args=[10 * BOUND_SECONDS], input=json.dumps(cases))
    done = {}
    started = None
    for line in proc.stdout.splitlines():
        record = json.loads(line)
        if "start" in record:
            started = record["start"]
        else:
            done[record["index"]] = record
    if proc.returncode != 0 or len(done) != len(cases):
        label = cases[started][0] if started is not None else "?"
        pytest.fail(f"the child stopped ({proc.returncode}) in case {label!r} after {len(done)} of "
                    f"{len(cases)} cases:\n{proc.stderr[-3000:]}")
    slow = [f"{cases[i][0]}: {r['seconds']:.3f} s ({r['outcome']})" for i, r in sorted(done.items())
            if r["seconds"] > BOUND_SECONDS]
    assert not slow, f"{len(slow)} of {len(cases)} calls took over {BOUND_SECONDS} s:\n" + "\n".join(slow)


# ---------------------------------------------------------------------------------------------
# Threads.

class SlowFloat:
    """A number whose conversion runs Python code, so the interpreter can switch threads in the
    middle of an argument list."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        sum(range(20))
        return self.value


def _thread_inputs(k):
    """Inputs for thread k: different values per thread, every function, successes and each
    kind of failure."""
    shift = 0.01 * k
    l = [0.1 + shift, 0.7, 1.0 + shift, 1.3 + shift]
    mixed = [0.2 + shift, SlowFloat(0.8 + shift), 1.5]
    bl, bf = [0.0, 0.3 + shift, 0.8, 1.0], [1.0, 0.8, 0.5 + shift, 0.2]
    calls = [
        (BY_NAME["witt_mao_magnification"], (l + mixed, 1.0, 0.05 + shift)),
        (BY_NAME["integrated_witt_mao_magnification"], (mixed, 1.0 + shift, 0.1)),
        (BY_NAME["integrated_flux_map_witt_mao_magnification"], ([0.4 + shift, 1.2], 1.0, 0.2, bl, bf)),
        (BY_NAME["heyrovsky_magnification"], (0.5 + shift, SlowFloat(0.6), 1.0, 0.1)),
        (BY_NAME["integrated_heyrovsky_magnification"], ([0.6 + shift], 1.0, SlowFloat(0.1))),
        (BY_NAME["integrated_flux_map_heyrovsky_magnification"], ([0.9 + shift], 1.0, 0.3, bl, bf)),
        (BY_NAME["discrete_flux_map_heyrovsky_magnification"], (l, 1.0, 0.1 + shift, bl, bf)),
        # failures: conversion, kernel, panic
        (BY_NAME["witt_mao_magnification"], ([0.5, SlowFloat(0.6), None], 1.0, 0.1)),
        (BY_NAME["heyrovsky_magnification"], (0.5, FloatRaises(ValueError(f"thread {k}")), 1.0, 0.1)),
        (BY_NAME["witt_mao_magnification"], ([0.5, 1.000000000001, 2.0], 1e-10, 1e10)),
        (BY_NAME["discrete_flux_map_heyrovsky_magnification"], ([0.5], 1.0, 0.1, bl, bf[:k % 3 + 1])),
    ]
    return [(f.fn, args) for f, args in calls]


THREADS = 8
THREAD_SECONDS = 3.0


def test_threads_match_serial_results():
    inputs = [_thread_inputs(k) for k in range(THREADS)]
    expected = [[outcome(fn, args) for fn, args in calls] for calls in inputs]
    assert any(isinstance(o, Result) for o in expected[0]) and any(not isinstance(o, Result) for o in expected[0])
    mismatches, counts = [], [0] * THREADS
    barrier = threading.Barrier(THREADS)
    deadline = [0.0]

    def work(k):
        barrier.wait()
        while time.monotonic() < deadline[0]:
            for (fn, args), want in zip(inputs[k], expected[k]):
                got = outcome(fn, args)
                counts[k] += 1
                if got != want and len(mismatches) < 20:
                    mismatches.append(f"thread {k}: {fn.__name__}{args!r}: serial {want!r}, threaded {got!r}")

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # switch threads as often as the interpreter allows
    try:
        deadline[0] = time.monotonic() + THREAD_SECONDS
        threads = [threading.Thread(target=work, args=(k,)) for k in range(THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert not mismatches, "\n".join(mismatches)
    assert all(c > 0 for c in counts), counts
    # and serially again, after the threads
    again = [[outcome(fn, args) for fn, args in calls] for calls in inputs]
    assert again == expected


def test_derivative_from_python_threads():
    """sderivative called from 8 threads (first use in a fresh process) gives the serial value."""
    pytest.importorskip("_velmora_kernels")
    proc = run_child("""
        import threading, _velmora_kernels as K
        f = lambda x: x ** 3 - 2 * x
        barrier = threading.Barrier(8)
        out = [None] * 8
        def work(k):
            barrier.wait()
            out[k] = [K.sderivative(f, 0.5 + 0.1 * j) for j in range(50)]
        threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        serial = [K.sderivative(f, 0.5 + 0.1 * j) for j in range(50)]
        assert all(o == serial for o in out), out
        print("ok")
    """, timeout=120)
    assert proc.returncode == 0 and proc.stdout.strip() == "ok", proc.stderr[-3000:]


# ---------------------------------------------------------------------------------------------
# Large inputs.

_LARGE_CHILD = """
import gc, json, sys
import velmora, _support
n, kind = int(sys.argv[1]), sys.argv[2]
if kind == "numpy":
    import numpy as np
    l = np.linspace(0.0, 3.0, n)
else:
    l = [0.5 + (i % 1000) * 1e-3 for i in range(n)]  # distinct floats, as a fit would pass
def status(field):  # kB in /proc/self/status
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(field + ":"))
heap = _support.heap_counter()
gc.collect()
# The peak resident size (VmHWM; ru_maxrss is the same figure, but inherited from the parent
# across fork and exec) is reset to the current size, so that the peak measured is the call's.
try:
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
except OSError:
    sys.exit(print(json.dumps({"no_reset": True})))
before, peak_before, heap_before = status("VmRSS"), status("VmHWM"), heap()
out = velmora.witt_mao_magnification(l, 1.0, 0.1)
peak = status("VmHWM")
assert len(out) == n and type(out[-1]) is float
del out
gc.collect()
print(json.dumps({"before": before, "peak_before": peak_before, "peak": peak, "after": status("VmRSS"),
                  "heap_held": heap() - heap_before}))
"""


def _large_call(n, kind):
    proc = run_child(_LARGE_CHILD.replace("sys.argv[1]", str(n)).replace("sys.argv[2]", repr(kind)), timeout=300)
    assert proc.returncode == 0, proc.stderr[-3000:]
    record = json.loads(proc.stdout.splitlines()[-1])
    if record.get("no_reset"):
        pytest.skip("this system does not let a process reset its peak resident size")
    assert record["peak_before"] <= record["before"] + (1 << 20), record  # the peak was reset
    return record


@pytest.mark.skipif(SANITIZED, reason="resident memory under ASan holds its shadow and quarantine")
@pytest.mark.parametrize("kind", ["list", "numpy"])
def test_large_input_memory_is_linear(kind):
    """witt_mao_magnification on 10^6 and 10^7 lens positions: the call's peak memory is about
    48 bytes per element (the copied input and the computed values, 8 + 8 bytes, and the returned
    list, 8 bytes per slot + a 24-byte float each), the same per element at both sizes, and it is
    all given back once the result is dropped. Measured in child processes from /proc: the resident
    size before and after the call and its peak during the call."""
    pytest.importorskip("numpy") if kind == "numpy" else None
    per_element = {}
    bad = []
    for n in (10 ** 6, 10 ** 7):
        record = _large_call(n, kind)
        extra = record["peak"] - record["before"]
        per_element[n] = extra / n
        if per_element[n] > 64:
            bad.append(f"n={n}: the call's peak is {per_element[n]:.1f} bytes per element")
        # Nothing of the call outlives it: malloc holds no more than before (resident memory may
        # keep what malloc retains for reuse, e.g. an 8 MB block below its mmap threshold).
        if record["heap_held"] > (1 << 20):
            bad.append(f"n={n}: malloc holds {record['heap_held'] / 1e6:.1f} MB more after the result is dropped")
        if record["after"] - record["before"] > 0.25 * extra:
            bad.append(f"n={n}: {(record['after'] - record['before']) / 1e6:.1f} MB still resident after the result "
                       f"is dropped (peak {extra / 1e6:.1f} MB)")
    if per_element[10 ** 7] > 1.25 * per_element[10 ** 6] + 4:
        bad.append(f"growth not linear: {per_element[10 ** 6]:.1f} B/element at 10^6, "
                   f"{per_element[10 ** 7]:.1f} at 10^7")
    assert not bad, "\n".join(bad)
