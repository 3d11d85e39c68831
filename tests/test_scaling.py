"""velmora in other processes: every function pickles by name (a reference to the module attribute,
not its code), so multiprocessing and concurrent.futures can send the functions themselves to worker
processes, and the workers' results equal the serial ones bit for bit, whichever way the workers
start (fork, forkserver, spawn)."""
import concurrent.futures
import multiprocessing
import pickle
import struct

import pytest

import velmora

from _support import FUNCTIONS

RE, RSTAR = 1.0, 0.05
L = [0.0, 0.3, 0.99, 1.0, 1.01, 2.5]
BL, BF = [0.0, 0.5, 1.0], [1.0, 0.8, 0.4]
START_METHODS = [m for m in ("fork", "forkserver", "spawn") if m in multiprocessing.get_all_start_methods()]


def arguments(function):
    """Typical arguments for one function: a list of lens positions (a float for the ring)."""
    values = {"l": L, "r": 0.7, "re": RE, "rstar": RSTAR, "bl": BL, "bf": BF, "powers": [0.0, 0.5, 1.0],
              "weights": [0.3, 0.3, 0.4]}
    args = [values[name] for name, _ in function.params]
    if not function.returns_list:
        args[0] = 0.5
    return tuple(args)


def bits(value):
    """A result as its exact bit patterns, so that == means bit for bit (and NaN equals NaN); a
    gradient's three lists one after another."""
    if isinstance(value, tuple):
        return [b for part in value for b in bits(part)]
    values = value if isinstance(value, list) else [value]
    return [struct.pack("<d", v) for v in values]


CASES = [(f.name, arguments(f)) for f in FUNCTIONS]
SERIAL = {name: bits(getattr(velmora, name)(*args)) for name, args in CASES}


def call(name_and_args):
    name, args = name_and_args
    return getattr(velmora, name)(*args)


def compare(results):
    bad = [f"{name}: serial {SERIAL[name]} vs worker {bits(got)}"
           for (name, _), got in zip(CASES, results) if bits(got) != SERIAL[name]]
    assert not bad, f"{len(bad)} function(s) differ from the serial run:\n" + "\n".join(bad)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_functions_pickle_by_name(protocol):
    problems = []
    for f in FUNCTIONS:
        function = getattr(velmora, f.name)
        data = pickle.dumps(function, protocol=protocol)
        if pickle.loads(data) is not function:
            problems.append(f"{f.name}: unpickles to another object")
        if f"{f.name}".encode() not in data or len(data) > 200:
            problems.append(f"{f.name}: not pickled as a name ({len(data)} bytes)")
    assert not problems, "\n".join(problems)


@pytest.mark.parametrize("method", START_METHODS)
def test_multiprocessing_pool_sends_the_functions(method):
    """Pool.starmap with the velmora function itself as the task (pickled by name)."""
    context = multiprocessing.get_context(method)
    with context.Pool(2) as pool:
        results = [pool.starmap(getattr(velmora, name), [args])[0] for name, args in CASES]
    compare(results)


@pytest.mark.parametrize("method", START_METHODS)
def test_process_pool_executor(method):
    context = multiprocessing.get_context(method)
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as pool:
        futures = [pool.submit(getattr(velmora, name), *args) for name, args in CASES]
        results = [future.result(timeout=120) for future in futures]
        # map() over a chunked list of lens positions, as a light curve is split up
        chunks = [L[:3], L[3:]]
        mapped = list(pool.map(velmora.integrated_heyrovsky_magnification, chunks, [RE] * 2, [RSTAR] * 2))
    compare(results)
    whole = bits(velmora.integrated_heyrovsky_magnification(L, RE, RSTAR))
    assert bits(mapped[0] + mapped[1]) == whole, "chunks computed in workers differ from one serial call"


def test_thread_pool_executor():
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        results = list(pool.map(call, CASES))
    compare(results)


def test_every_function_is_covered():
    assert sorted(name for name, _ in CASES) == sorted(velmora.__all__)
