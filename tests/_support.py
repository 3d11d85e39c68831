"""Shared helpers of the tests: error measures, the public functions described from the module and its
stub, the fixed message texts, child interpreters that import the same build, and leak measurement."""
import ast
import contextlib
import ctypes
import gc
import inspect
import math
import os
import pathlib
import struct
import subprocess
import sys
import textwrap
import tracemalloc

import velmora

ROOT = pathlib.Path(__file__).resolve().parents[1]
STUB = ROOT / "src" / "velmora.pyi"

# Set by scripts/sanitize: the module is the ASan/UBSan build, every call is several times slower,
# and freed memory sits in ASan's quarantine, so resident memory says nothing about leaks.
SANITIZED = os.environ.get("VELMORA_SANITIZED") == "1"


def scaled(normal, sanitized):
    """A loop or example count: the normal one, or the smaller one under the sanitizers."""
    return sanitized if SANITIZED else normal


# ---------------------------------------------------------------------------------------------
# Error measures.

def rel_err(got, want, scale=None, dps=30):
    """|got - want| / |want| (or / scale, where want may cancel) as a float, evaluated by mpmath at
    dps digits (None: the precision in force)."""
    import mpmath as mp

    with mp.workdps(dps or mp.mp.dps):
        return float(abs(mp.mpf(got) - want) / (abs(want) if scale is None else scale))


def assert_all_ok(bad):
    assert not bad, f"{len(bad)} bad point(s):\n" + "\n".join(bad)


# ---------------------------------------------------------------------------------------------
# The fixed texts the system raises, by the names under which the kernel test extension exports
# them (messages()); callers match on them, so test_boundary.py pins this table to that export.

MESSAGES = {
    "ellipk_m": "ellipk: m must be less than 1.",
    "ellipe_m": "ellipe: m must be less than 1.",
    "ellippi_m": "ellippi: m must be less than 1.",
    "ellippi_n": "ellippi: n must be less than 1.",
    "elliprc_x": "elliprc: x must be non-negative.",
    "elliprc_y": "elliprc: y must be non-zero.",
    "elliprf_domain": "elliprf: x, y, and z must be non-negative, and at most one can be zero.",
    "elliprf_converge": "elliprf: Failed to converge.",
    "elliprd_domain": "elliprd: x and y must be non-negative, and at most one can be zero.",
    "elliprd_z": "elliprd: z must be positive",
    "elliprd_converge": "elliprd: Failed to converge.",
    "elliprj_domain": "elliprj: x, y, and z must be non-negative, and at most one can be zero.",
    "elliprj_p": "elliprj: p must be non-zero",
    "elliprj_converge": "elliprj: Fail to converge",
    "cel_kc": "cel: kc must be non-zero.",
    "cel_p": "cel: p must be positive.",
    "stopped": "interrupted",
    "panic": "uncaught panic at ffi boundary",
    "str_for_sequence": "Can't extract `str` to `Vec`",
    "subinterpreter": "velmora does not yet support subinterpreters",
    "all_not_list": "could not append __name__ to __all__",
    "no_error": "attempted to fetch exception but none was set",
    "unequal_columns": "assertion `left == right` failed",
    "law_lengths": "argument 'weights': must have as many items as 'powers'",
    "law_empty": "argument 'powers': must have at least one item",
    "law_power": "argument 'powers': every item must be non-negative and finite",
    "law_weight": "argument 'weights': every item must be finite",
    "law_normaliser": "argument 'weights': the normaliser sum(2*pi*weights[k]/(powers[k] + 2)) must be positive and finite",
}
# Every message a failure of the elliptic kernels can carry (cel is reached by no public function).
KERNEL_MESSAGES = frozenset(text for name, text in MESSAGES.items() if name.startswith("ellip"))


def law_failure(powers, weights):
    """The ValueError a power law's (powers, weights) must raise, checked in this order, or None:
    unequal lengths, no term, a power negative, NaN or infinite, a weight not finite, and the
    normaliser N = Σ w·2π/(p + 2) not positive (or overflowing), summed in exact rationals."""
    from fractions import Fraction

    if len(powers) != len(weights):
        return Raised(ValueError, MESSAGES["law_lengths"])
    if not powers:
        return Raised(ValueError, MESSAGES["law_empty"])
    if not all(p >= 0 and math.isfinite(p) for p in powers):
        return Raised(ValueError, MESSAGES["law_power"])
    if not all(math.isfinite(w) for w in weights):
        return Raised(ValueError, MESSAGES["law_weight"])
    exact = sum(Fraction(w) / (Fraction(p) + 2) for p, w in zip(powers, weights))
    # The normaliser in doubles is N up to rounding: only a sum within rounding of 0 or of the largest
    # double could go either way, and no test law comes near either.
    if not (exact > 0 and 2 * math.pi * float(exact) < 1.7e308):
        return Raised(ValueError, MESSAGES["law_normaliser"])
    return None


def panic_text(left, right):
    """The panic's text for flux-map columns of lengths left and right."""
    return f"{MESSAGES['unequal_columns']}\n  left: {left}\n right: {right}"


# ---------------------------------------------------------------------------------------------
# The public functions: names from velmora.__all__, parameters from their signatures, the kind of
# each parameter (a number or a sequence) from the annotations of the stub src/velmora.pyi.

NUMBER, SEQUENCE = "number", "sequence"
# Cheap valid arguments by parameter (l as a number for the thin ring's single position).
CHEAP = {"l": [0.5], "r": 0.6, "re": 1.0, "rstar": 0.1, "bl": [0.0, 1.0], "bf": [1.0, 0.5],
         "powers": [0.0, 1.0], "weights": [0.4, 0.6]}


def stub_tree():
    return ast.parse(STUB.read_text(encoding="utf-8"))


def stub_functions():
    return {node.name: node for node in stub_tree().body if isinstance(node, ast.FunctionDef)}


class Function:
    """One Python-visible function: its parameters, cheap valid arguments, and which failures it
    can raise (kernel errors as RuntimeError, unequal tables as the panic, an invalid power law as
    ValueError)."""

    def __init__(self, name, stub):
        self.name = name
        self.fn = getattr(velmora, name)
        kinds = {a.arg: NUMBER if ast.unparse(a.annotation) == "float" else SEQUENCE for a in stub.args.args}
        self.params = [(p, kinds[p]) for p in inspect.signature(self.fn).parameters]
        self.flux_map = "bf" in kinds
        # A limb-darkening law as powers of μ and their weights: invalid ones raise ValueError.
        self.power_law = "powers" in kinds
        # A gradient returns a tuple of three lists (A, dA/du, dA/drho), each as long as l.
        self.gradient = name.endswith("_gradient")
        # The ring takes no failing kernel: it and the functions built on it never raise a kernel error.
        self.kernel_errors = "witt_mao" in name
        # The integrated functions cost 50-250 µs per element: their cheap call has an empty l.
        self.cheap = self.arguments([] if name.startswith("integrated_") else CHEAP["l"])

    def arguments(self, l, **given):
        """The cheap arguments with the lens positions l (its first item where l is a number) and
        the values given by name."""
        values = {**CHEAP, **given}
        return tuple((l if kind == SEQUENCE else l[0]) if name == "l" else values[name] for name, kind in self.params)

    @property
    def returns_list(self):
        return self.params[0][1] == SEQUENCE

    def lists(self, result):
        """The lists of a vector function's result: the one list, or a gradient's three."""
        return list(result) if self.gradient else [result]

    def __repr__(self):
        return self.name


_STUB_FUNCTIONS = stub_functions()
FUNCTIONS = [Function(name, _STUB_FUNCTIONS[name]) for name in velmora.__all__]
BY_NAME = {f.name: f for f in FUNCTIONS}


# ---------------------------------------------------------------------------------------------
# Outcomes of calls.

class Raised:
    """An exception as its exact type and text."""

    def __init__(self, kind, text):
        self.kind, self.text = kind, text

    def __eq__(self, other):
        return isinstance(other, Raised) and (self.kind, self.text) == (other.kind, other.text)

    def __repr__(self):
        return f"{self.kind.__name__}({self.text!r})"


def float_bits(x):
    return struct.pack("<d", x)


class Result:
    """A returned value, compared bit for bit (NaN payloads and the sign of zero included)."""

    def __init__(self, value):
        self.value = value

    @staticmethod
    def _list_key(values):
        return [float_bits(x) if type(x) is float else repr(x) for x in values]

    def key(self):
        if type(self.value) is list:
            return ("list", self._list_key(self.value))
        if type(self.value) is tuple and all(type(part) is list for part in self.value):  # a gradient
            return ("tuple", [self._list_key(part) for part in self.value])
        return (type(self.value).__name__, float_bits(self.value) if type(self.value) is float else repr(self.value))

    def __eq__(self, other):
        return isinstance(other, Result) and self.key() == other.key()

    def __repr__(self):
        return f"Result({self.value!r})"


def outcome(fn, args, kwargs=None):
    """What a call gives: Result or Raised. Catches BaseException so that the panic is an outcome."""
    try:
        return Result(fn(*args, **(kwargs or {})))
    except BaseException as exc:  # noqa: BLE001
        if isinstance(exc, (KeyboardInterrupt, SystemExit)):
            raise
        return Raised(type(exc), str(exc))


# ---------------------------------------------------------------------------------------------
# Child interpreters.

def child_env(**extra):
    """The environment of a child interpreter that imports this same build and the tests' helpers
    (and, under the sanitizers, inherits their preload and options); a None value removes a variable."""
    env = dict(os.environ)
    paths = [os.path.dirname(velmora.__file__), os.path.dirname(os.path.abspath(__file__))]
    env["PYTHONPATH"] = os.pathsep.join(filter(None, paths + [env.get("PYTHONPATH")]))
    for key, value in extra.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = str(value)
    return env


def child_command(code, args=()):
    """The command line of a child interpreter running code (dedented), or only args (a script) for None."""
    return [sys.executable, *(["-c", textwrap.dedent(code)] if code is not None else []), *map(str, args)]


def run_child(code, timeout, args=(), input=None, cwd=None, check=False, **env):
    """Runs code in a new interpreter; returns the CompletedProcess (text output). With check, a
    non-zero exit fails the test with the end of its standard error."""
    proc = subprocess.run(child_command(code, args), input=input, capture_output=True, text=True, timeout=timeout,
                          cwd=cwd, env=child_env(**env))
    if check:
        assert proc.returncode == 0, f"child failed ({proc.returncode}):\n{proc.stderr[-4000:]}"
    return proc


def start_child(code, **env):
    """A running child interpreter (Popen, text pipes for its output) for tests that signal it."""
    return subprocess.Popen(child_command(code), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=child_env(**env))


# ---------------------------------------------------------------------------------------------
# Leak measurement. The resident size of a process that has run other tests says little, since its
# allocator can serve a leak from memory freed earlier: tests/test_reliability_leaks.py measures in
# a child interpreter of its own.

def call_all(calls, times):
    """Makes every call `times` times, whatever each raises."""
    for call in calls * times:
        with contextlib.suppress(BaseException):
            call()


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def heap_counter():
    """Bytes held by malloc: ASan's count under the sanitizer, else glibc's mallinfo2 (arena and
    mmapped blocks). None where neither exists."""
    process = ctypes.CDLL(None)
    if SANITIZED and hasattr(process, "__sanitizer_get_current_allocated_bytes"):
        counter = process.__sanitizer_get_current_allocated_bytes
        counter.restype = ctypes.c_size_t
        return counter
    if hasattr(process, "mallinfo2"):
        class Mallinfo2(ctypes.Structure):
            _fields_ = [(field, ctypes.c_size_t) for field in
                        ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                         "fordblks", "keepcost")]
        process.mallinfo2.restype = Mallinfo2
        return lambda: process.mallinfo2().uordblks + process.mallinfo2().hblkhd
    return None


def growth(run, times, watched, settle, traced_settle, traced_times):
    """What `times` runs of run(n) leave behind after run(settle) let caches settle: the growth of
    the resident size and of malloc's heap (None without a counter), each watched object whose
    reference count changed (as "repr: before -> after"), and the growth of traced Python memory
    over a further traced_times runs after traced_settle (tracing makes every allocation slower)."""
    heap = heap_counter()
    run(settle)
    gc.collect()
    memory = (rss_bytes(), heap() if heap else 0)
    refs = [sys.getrefcount(o) for o in watched]
    run(times)
    gc.collect()
    after = [sys.getrefcount(o) for o in watched]
    record = {"rss": rss_bytes() - memory[0], "heap": heap() - memory[1] if heap else None,
              "refs": [f"{o!r}: {b} -> {a}" for o, b, a in zip(watched, refs, after) if a != b]}
    tracemalloc.start()
    try:
        run(traced_settle)
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0]
        run(traced_times)
        gc.collect()
        record["traced"] = tracemalloc.get_traced_memory()[0] - traced
    finally:
        tracemalloc.stop()
    return record
