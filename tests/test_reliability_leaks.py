"""Reference and memory leaks: every path of every function (success, argument binding errors,
each kind of conversion error, kernel errors, the panic), called 10^5 times in a child interpreter
of its own, leaves no reference and no memory behind: reference counts of the arguments, of the
module's objects and of None/True-style singletons, malloc's heap and the resident size are
measured over the 10^5 calls, traced Python memory (tracemalloc) over a further 10^4.

Bounds: a leak of one object per call would show as 24 bytes per call (a Python float) in the
traced Python memory and the resident size, and as at least 32 bytes per call (the smallest malloc
block) in malloc's heap. The bounds are half of that, so a single leaked object per call fails,
while one-off growth (a cache filling up) passes."""
import json
import os
from concurrent.futures import ThreadPoolExecutor

import pytest

from _support import FUNCTIONS, SANITIZED, run_child, scaled

# Tests that measure time, memory or signal latency run one after another on one worker when the
# suite runs in several processes (pytest-xdist, --dist loadgroup), never beside each other.
pytestmark = pytest.mark.xdist_group("measured")

CALLS = scaled(100_000, 30_000)
TRACED_FRACTION = scaled(0.1, 0.3)
# One element of an integrated function costs ~100 µs: 10^4 calls on that path (10^5 on the
# same path with an empty l); still one leaked float per call would be 240 KB.
ELEMENT_CALLS = scaled(10_000, 1_000)

TRACED_PER_CALL = 12  # bytes; half a float
HEAP_PER_CALL = 16  # bytes; half the smallest malloc block
RSS_PER_CALL = 12
# None, True, 0 ... are also held by the interpreter's caches: CPython's type-attribute cache starts
# with None in each of its 4096 slots, and lookups with a new name object evict them. A reference
# lost or gained per hundred calls still fails.
SINGLETON_DRIFT_PER_CALL = 0.01


def _measure(name):
    code = f"import _hostile; _hostile.measure_leaks({name!r}, {CALLS}, {ELEMENT_CALLS}, {TRACED_FRACTION})"
    proc = run_child(code, timeout=scaled(600, 1800))
    assert proc.returncode == 0, f"{name}: child failed ({proc.returncode}):\n{proc.stderr[-4000:]}"
    return name, json.loads(proc.stdout.splitlines()[-1])


@pytest.fixture(scope="module")
def measurements():
    with ThreadPoolExecutor(max_workers=max(1, min(2, os.cpu_count() or 1))) as pool:
        return dict(pool.map(_measure, [f.name for f in FUNCTIONS]))


SINGLETON_REPRS = {"None", "True", "False", "Ellipsis", "NotImplemented", "()", "0", "1", "-1", "''"}


def _problems(record):
    calls = record["calls"]
    bad = []
    if not record["ok"]:
        bad.append(f"first call gave {record['got']}, expected {record['expected']}")
    if record["traced"] > TRACED_PER_CALL * record["traced_calls"]:
        bad.append(f"traced Python memory grew by {record['traced']} B over {record['traced_calls']} calls")
    if record["heap"] is not None and record["heap"] > HEAP_PER_CALL * calls:
        bad.append(f"malloc heap grew by {record['heap']} B")
    if not SANITIZED and record["rss"] > RSS_PER_CALL * calls:  # ASan's quarantine holds freed blocks
        bad.append(f"resident size grew by {record['rss']} B")
    for change in record["refs"]:
        what, counts = change.rsplit(": ", 1)
        before, after = (int(c) for c in counts.split(" -> "))
        if what in SINGLETON_REPRS and abs(after - before) < SINGLETON_DRIFT_PER_CALL * calls:
            continue
        bad.append(f"reference count of {what} changed {before} -> {after}")
    return bad


@pytest.mark.parametrize("function", FUNCTIONS, ids=str)
def test_no_leaks_on_any_path(measurements, function):
    records = measurements[function.name]
    labels = [r["label"] for r in records]
    assert "success" in labels and "too many arguments" in labels and "number refused" in labels
    assert ("kernel error" in labels) == function.kernel_errors
    assert ("panic" in labels) == function.flux_map
    assert ("invalid law" in labels and "invalid power" in labels) == function.power_law
    bad = [f"{r['label']} ({r['calls']} calls): {p}" for r in records for p in _problems(r)]
    assert not bad, f"{function.name}:\n" + "\n".join(bad)


def test_refused_non_sequence_leaves_the_type_cache_alone():
    # The "cannot be converted to 'Sequence'" message looks up the type's __qualname__. A new name
    # string per call went into CPython's type-attribute cache (keyed by the name object), which
    # kept it alive and evicted the None its slots start with: a few KB and a few dozen None
    # references per 3·10^4 refused calls, never returned. One name object per process leaves
    # both unchanged. The system allocator (as under the sanitizers) gives each string a fresh
    # address, which is what spreads them over the cache.
    proc = run_child("""
        import contextlib, sys, tracemalloc, velmora
        calls = [lambda: velmora.witt_mao_magnification("ab", 1.5, 0.1),
                 lambda: velmora.witt_mao_magnification(5, 1.5, 0.1),
                 lambda: velmora.heyrovsky_magnification([0.5], 1.5, 1.5, 0.1)]
        def run(times):
            for _ in range(times):
                for call in calls:
                    with contextlib.suppress(TypeError):
                        call()
        run(50)
        none_before = sys.getrefcount(None)
        tracemalloc.start()
        start = tracemalloc.get_traced_memory()[0]
        run(10_000)
        print(tracemalloc.get_traced_memory()[0] - start, sys.getrefcount(None) - none_before)
        """, timeout=120, PYTHONMALLOC="malloc")
    assert proc.returncode == 0, proc.stderr[-4000:]
    grown, none_drift = (int(x) for x in proc.stdout.split())
    assert grown < 1024 and abs(none_drift) < 5, f"{grown} B kept; None's count moved by {none_drift}"
