"""Shared helpers of the reliability tests: the seven functions described as data, an independent
model of how their arguments are converted (what a call must return or raise), hostile objects,
and a runner for child interpreters that import the same build."""
import ctypes
import math
import os
import struct
import subprocess
import sys
import textwrap

import velmora

# Set by scripts/sanitize: the module is the ASan/UBSan build, every call is several times slower,
# and freed memory sits in ASan's quarantine, so resident memory says nothing about leaks.
SANITIZED = os.environ.get("VELMORA_SANITIZED") == "1"


def scaled(normal, sanitized):
    """A loop or example count: the normal one, or the smaller one under the sanitizers."""
    return sanitized if SANITIZED else normal


NUMBER, SEQUENCE = "number", "sequence"


class Function:
    """One Python-visible function: its parameters, cheap valid arguments, and which failures its
    model can raise (kernel errors as RuntimeError, unequal tables as the panic)."""

    def __init__(self, name, params, cheap, kernel_errors, flux_map):
        self.name = name
        self.fn = getattr(velmora, name)
        self.params = params  # [(name, NUMBER | SEQUENCE)]
        self.cheap = cheap  # a valid, fast argument tuple
        self.kernel_errors = kernel_errors
        self.flux_map = flux_map

    @property
    def returns_list(self):
        return self.params[0][1] == SEQUENCE

    def __repr__(self):
        return self.name


_L3 = [("l", SEQUENCE), ("re", NUMBER), ("rstar", NUMBER)]
_L5 = _L3 + [("bl", SEQUENCE), ("bf", SEQUENCE)]

FUNCTIONS = [
    Function("witt_mao_magnification", _L3, ([0.5], 1.0, 0.1), True, False),
    # The integrated functions cost 50-250 µs per element: their cheap call has an empty l.
    Function("integrated_witt_mao_magnification", _L3, ([], 1.0, 0.1), True, False),
    Function("integrated_flux_map_witt_mao_magnification", _L5, ([], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5]), True, True),
    Function("heyrovsky_magnification", [("l", NUMBER), ("r", NUMBER), ("re", NUMBER), ("rstar", NUMBER)],
             (0.5, 0.6, 1.0, 0.1), False, False),
    # The ring takes no failing kernel: it and the functions built on it never raise a kernel error.
    Function("integrated_heyrovsky_magnification", _L3, ([], 1.0, 0.1), False, False),
    Function("integrated_flux_map_heyrovsky_magnification", _L5, ([], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5]), False, True),
    Function("discrete_flux_map_heyrovsky_magnification", _L5, ([0.5], 1.0, 0.1, [0.3], [1.0]), False, True),
]
BY_NAME = {f.name: f for f in FUNCTIONS}

# Every message a kernel failure can carry.
KERNEL_MESSAGES = frozenset({
    "ellipk: m must be less than 1.",
    "ellipe: m must be less than 1.",
    "ellippi: m must be less than 1.",
    "ellippi: n must be less than 1.",
    "elliprc: x must be non-negative.",
    "elliprc: y must be non-zero.",
    "elliprf: x, y, and z must be non-negative, and at most one can be zero.",
    "elliprf: Failed to converge.",
    "elliprd: x and y must be non-negative, and at most one can be zero.",
    "elliprd: z must be positive",
    "elliprd: Failed to converge.",
    "elliprj: x, y, and z must be non-negative, and at most one can be zero.",
    "elliprj: p must be non-zero",
    "elliprj: Fail to converge",
})


def panic_text(left, right):
    return f"assertion `left == right` failed\n  left: {left}\n right: {right}"


# ---------------------------------------------------------------------------------------------
# The conversion rules, modelled with CPython's own primitives (not with velmora):
#  - a number: math.ldexp(x, 0) converts exactly as PyFloat_AsDouble does (an exact float read
#    directly, otherwise __float__ or __index__, errors unchanged) and returns the value bit for bit;
#  - a sequence: refused if a str, refused if PySequence_Check fails (called through ctypes), else
#    __len__ is asked (its errors ignored) and the object iterated, each item converted as a number;
#  - an exact TypeError raised on the way gets the "argument '<name>': " prefix.

_sequence_check = ctypes.pythonapi.PySequence_Check
_sequence_check.argtypes = [ctypes.py_object]
_sequence_check.restype = ctypes.c_int


def as_double(value):
    return math.ldexp(value, 0)


def as_double_list(value):
    if isinstance(value, str):
        raise TypeError("Can't extract `str` to `Vec`")
    if not _sequence_check(value):
        raise TypeError(f"'{type(value).__qualname__}' object cannot be converted to 'Sequence'")
    if isinstance(value, memoryview):
        # A released view refuses every operation. (CPython 3.11's iter() on one returns an
        # iterator with the error already set, which Python code sees as a SystemError; C code
        # that takes the next item sees the ValueError.)
        value.nbytes  # noqa: B018: raises ValueError once released
    try:
        len(value)
    except Exception:
        pass
    return [as_double(item) for item in value]


class Raised:
    """An exception as its exact type and text."""

    def __init__(self, kind, text):
        self.kind, self.text = kind, text

    def __eq__(self, other):
        return isinstance(other, Raised) and (self.kind, self.text) == (other.kind, other.text)

    def __repr__(self):
        return f"{self.kind.__name__}({self.text!r})"


def expected_conversion(function, args):
    """The converted arguments (floats and lists of floats), or the Raised a call must give."""
    converted = []
    for (name, kind), value in zip(function.params, args):
        try:
            converted.append(as_double(value) if kind == NUMBER else as_double_list(value))
        except Exception as exc:  # noqa: BLE001: every exception is an outcome here
            if type(exc) is TypeError:
                return Raised(TypeError, f"argument '{name}': {exc}")
            return Raised(type(exc), str(exc))
    return tuple(converted)


def float_bits(x):
    return struct.pack("<d", x)


class Result:
    """A returned value, compared bit for bit (NaN payloads and the sign of zero included)."""

    def __init__(self, value):
        self.value = value

    def key(self):
        if type(self.value) is list:
            return ("list", [float_bits(x) if type(x) is float else repr(x) for x in self.value])
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


def check_model_outcome(function, converted, got):
    """Problems (a list of strings) with the outcome `got` of a call on converted arguments."""
    problems = []
    if function.flux_map and len(converted[3]) != len(converted[4]):
        want = Raised(velmora.PanicException, panic_text(len(converted[3]), len(converted[4])))
        if got != want:
            problems.append(f"unequal tables: want {want!r}, got {got!r}")
        return problems
    if isinstance(got, Raised):
        if not (function.kernel_errors and got.kind is RuntimeError and got.text in KERNEL_MESSAGES):
            problems.append(f"unexpected exception {got!r}")
        return problems
    value = got.value
    if function.returns_list:
        if type(value) is not list or len(value) != len(converted[0]):
            problems.append(f"want a list of {len(converted[0])} floats, got {value!r}")
        elif any(type(x) is not float for x in value):
            problems.append(f"non-float items in {value!r}")
    elif type(value) is not float:
        problems.append(f"want a float, got {value!r}")
    return problems


# ---------------------------------------------------------------------------------------------
# Hostile objects.

class TypeErrorSubclass(TypeError):
    """Not an exact TypeError: passes through conversion without the argument prefix."""


def fresh(error):
    """A new exception like `error`: raising one instance again and again would chain its
    tracebacks, which holds frames and grows memory."""
    return type(error)(*error.args)


class FloatRaises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise fresh(self.error)

    def __repr__(self):
        return f"FloatRaises({self.error!r})"


class FloatReturns:
    """__float__ returns a non-float."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"FloatReturns({self.value!r})"


class IndexOnly:
    """No __float__: converted through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexOnly({self.value!r})"


class FloatSubclass(float):
    """A float subclass whose __float__ must not be called (the value is read directly)."""

    def __float__(self):
        raise AssertionError("__float__ of a float subclass called")


class GetItemSequence:
    """A sequence by __getitem__ alone; raises `error` at index `fail_at` (IndexError ends it)."""

    def __init__(self, values, fail_at=None, error=None):
        self.values, self.fail_at, self.error = list(values), fail_at, error

    def __getitem__(self, i):
        if i == self.fail_at:
            raise fresh(self.error)
        return self.values[i]

    def __repr__(self):
        return f"GetItemSequence({self.values!r}, {self.fail_at!r}, {self.error!r})"


class LenRaises(GetItemSequence):
    def __len__(self):
        raise fresh(self.error or RuntimeError("no length"))


class LenWrong(GetItemSequence):
    """__len__ returns a wrong, huge, negative or non-int length."""

    def __init__(self, values, length):
        super().__init__(values)
        self.length = length

    def __len__(self):
        return self.length

    def __repr__(self):
        return f"LenWrong({self.values!r}, {self.length!r})"


class IterRaises:
    """__len__ and __iter__; the iterator yields `count` values and then raises `error`."""

    def __init__(self, values, count, error):
        self.values, self.count, self.error = list(values), count, error

    def __len__(self):
        return len(self.values)

    def __getitem__(self, i):
        return self.values[i]

    def __iter__(self):
        for i, v in enumerate(self.values):
            if i == self.count:
                raise fresh(self.error)
            yield v
        if self.count >= len(self.values):
            raise fresh(self.error)

    def __repr__(self):
        return f"IterRaises({self.values!r}, {self.count!r}, {self.error!r})"


class IterNotIterator(GetItemSequence):
    """__iter__ returns a non-iterator (TypeError from iter())."""

    def __iter__(self):
        return 5


class Mutator:
    """A number whose __float__ mutates `target` (a list, array.array or NumPy array) the first time
    it is called, then returns `value`. Errors of the mutation itself (an exported buffer cannot be
    resized) are ignored. Once only: an insertion in front of the Mutator in its own list would
    otherwise have the iteration meet it again and again."""

    ACTIONS = ("clear", "append", "extend", "pop", "insert", "setitem", "reverse", "replace")

    def __init__(self, target, action, value=0.25):
        self.target, self.action, self.value = target, action, value
        self.done = False

    def __float__(self):
        if not self.done:
            self.done = True
            try:
                self._mutate(self.target, self.action)
            except (BufferError, ValueError, TypeError):
                pass
        return self.value

    @staticmethod
    def _mutate(t, action):
        numpy_like = hasattr(t, "resize")
        if action == "clear":
            t.resize(0, refcheck=False) if numpy_like else t.__delitem__(slice(None))
        elif action == "append":
            t.resize(len(t) + 1, refcheck=False) if numpy_like else t.append(0.75)
        elif action == "extend":
            t.resize(len(t) + 1000, refcheck=False) if numpy_like else t.extend([0.125] * 1000)
        elif action == "pop":
            t.resize(max(len(t) - 1, 0), refcheck=False) if numpy_like else t.pop()
        elif action == "insert":
            if numpy_like:
                t[:] = t[::-1]
            else:
                t.insert(0, 3.5)
        elif action == "setitem":
            if len(t):
                t[0] = 99.0
        elif action == "reverse":
            t[:] = t[::-1]
        elif action == "replace":
            if isinstance(t, list):
                t[:] = [None, "x"]
            elif len(t):
                t[-1] = -1.0

    def __repr__(self):
        return f"Mutator({type(self.target).__name__}, {self.action!r})"


def raising_generator(values, error):
    yield from values
    raise fresh(error)


# ---------------------------------------------------------------------------------------------
# Child interpreters.

def child_env(**extra):
    """The environment of a child interpreter that imports this same build (and, under the
    sanitizers, inherits their preload and options)."""
    env = dict(os.environ)
    paths = [os.path.dirname(velmora.__file__), os.path.dirname(os.path.abspath(__file__))]
    env["PYTHONPATH"] = os.pathsep.join(filter(None, paths + [env.get("PYTHONPATH")]))
    env.update({k: str(v) for k, v in extra.items()})
    return env


def run_child(code, timeout, **env):
    """Runs code in a new interpreter; returns the CompletedProcess (text output)."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=child_env(**env))


# ---------------------------------------------------------------------------------------------
# Leak measurement, run in a child interpreter of its own (tests/test_reliability_leaks.py): the
# resident size of a process that has run other tests says little, since its allocator can serve
# a leak from memory freed earlier.

def leak_cases(function, calls, element_calls):
    """(label, args, kwargs, expected Raised or None for success, number of calls) for every
    path of `function`: success, argument binding errors, conversion errors of each kind, kernel
    error and panic where the model has them."""
    f, name, cheap = function, function.name, function.cheap
    n = len(f.params)
    numbers = [i for i, (_, kind) in enumerate(f.params) if kind == NUMBER]
    sequences = [i for i, (_, kind) in enumerate(f.params) if kind == SEQUENCE]

    def at(position, value):
        return tuple(value if i == position else a for i, a in enumerate(cheap))

    def prefixed(position, text):
        return Raised(TypeError, f"argument '{f.params[position][0]}': {text}")

    missing = f.params[-1][0]
    cases = [
        ("success", cheap, {}, None, calls),
        ("too many arguments", cheap + (1.0,), {},
         Raised(TypeError, f"{name}() takes {n} positional arguments but {n + 1} were given"), calls),
        ("unexpected keyword", cheap, {"x": 1.0}, Raised(TypeError, f"{name}() got an unexpected keyword argument 'x'"),
         calls),
        ("given twice", cheap, {f.params[0][0]: cheap[0]},
         Raised(TypeError, f"{name}() got multiple values for argument '{f.params[0][0]}'"), calls),
        ("missing argument", cheap[:-1], {},
         Raised(TypeError, f"{name}() missing 1 required positional argument: '{missing}'"), calls),
    ]
    i = numbers[0]
    cases += [
        ("number refused", at(i, None), {}, prefixed(i, "must be real number, not NoneType"), calls),
        ("__float__ raises", at(i, FloatRaises(ValueError("no float here"))), {}, Raised(ValueError, "no float here"),
         calls),
        ("__float__ returns int", at(i, FloatReturns(1)), {},
         prefixed(i, "FloatReturns.__float__ returned non-float (type int)"), calls),
        ("huge int", at(i, 10 ** 400), {}, Raised(OverflowError, "int too large to convert to float"), calls),
    ]
    if sequences:
        j = sequences[-1]
        generator = raising_generator([0.5], RuntimeError("unreachable"))  # refused unread
        cases += [
            ("str for a sequence", at(j, "0.5"), {}, prefixed(j, "Can't extract `str` to `Vec`"), calls),
            ("not a sequence", at(j, generator), {}, prefixed(j, "'generator' object cannot be converted to 'Sequence'"),
             calls),
            ("item refused", at(j, [0.5, None]), {}, prefixed(j, "must be real number, not NoneType"), calls),
            ("iteration raises midway", at(j, IterRaises([0.5, 0.6], 1, ValueError("midway"))), {},
             Raised(ValueError, "midway"), calls),
        ]
    else:
        cases.append(("list for a number", at(0, [0.5]), {}, prefixed(0, "must be real number, not list"), calls))
    # A negative source radius with the lens on the limb: the uniform disk's parameter is 1 there.
    kernel = {
        "witt_mao_magnification": ([0.5, 1.0, 2.0], 1.0, -0.1),
        "integrated_witt_mao_magnification": ([0.5, 1.0, 2.0], 1.0, -0.1),
        "integrated_flux_map_witt_mao_magnification": ([0.5, 1.0, 2.0], 1.0, -0.1, [0.0, 1.0], [1.0, 0.5]),
    }
    if name in kernel:
        cases.append(("kernel error", kernel[name], {}, Raised(RuntimeError, None), calls))
    if f.flux_map:
        cases.append(("panic", at(4, [1.0, 2.0, 3.0]), {}, Raised(velmora.PanicException, panic_text(len(cheap[3]), 3)),
                      calls))
    if f.returns_list and not cheap[0]:
        # The integrated functions' cheap call has no element; one element costs ~100 µs.
        cases.append(("success, one element", at(0, [0.5]), {}, None, element_calls))
    return cases


def _rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _heap_counter():
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


def _run(fn, args, kwargs, times, catch):
    if kwargs:
        for _ in range(times):
            try:
                fn(*args, **kwargs)
            except catch:
                pass
    else:
        for _ in range(times):
            try:
                fn(*args)
            except catch:
                pass


def measure_leaks(name, calls, element_calls, traced_fraction):
    """Runs every path of one function `calls` times; returns one record per path: the first
    call's outcome, the growth of malloc's heap and of the resident size and each watched object
    whose reference count changed over those calls, and the growth of traced Python memory over a
    further calls·traced_fraction calls (tracing makes every allocation ~10 times slower)."""
    import gc
    import json
    import tracemalloc

    function = BY_NAME[name]
    heap = _heap_counter()
    singletons = [None, True, False, Ellipsis, NotImplemented, (), 0, 1, -1, ""]
    types = [velmora.PanicException, TypeError, ValueError, OverflowError, RuntimeError, FloatRaises, IterRaises]
    records = []
    for label, args, kwargs, expected, times in leak_cases(function, calls, element_calls):
        watched = singletons + types + [function.fn, velmora] + list(args) + list(kwargs.values())
        watched += [item for a in args if type(a) is list for item in a]
        got = outcome(function.fn, args, kwargs)
        catch = expected.kind if expected is not None else ()
        _run(function.fn, args, kwargs, max(times // 20, 1000), catch)  # caches settle

        gc.collect()
        memory = (_rss_bytes(), heap() if heap else 0)
        refs = [sys.getrefcount(o) for o in watched]
        _run(function.fn, args, kwargs, times, catch)
        gc.collect()
        after = [sys.getrefcount(o) for o in watched]
        rss, held = _rss_bytes() - memory[0], (heap() if heap else 0) - memory[1]
        changed = [f"{o!r}: {b} -> {a}" for o, b, a in zip(watched, refs, after) if a != b]

        traced_calls = max(int(times * traced_fraction), 1000)
        tracemalloc.start()
        _run(function.fn, args, kwargs, 1000, catch)
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0]
        _run(function.fn, args, kwargs, traced_calls, catch)
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0] - traced
        tracemalloc.stop()

        records.append({"label": label, "calls": times, "traced_calls": traced_calls, "got": repr(got),
                        "ok": (isinstance(got, Result) if expected is None else
                               got.__class__ is Raised and got.kind is expected.kind and
                               (expected.text is None and got.text in KERNEL_MESSAGES or got.text == expected.text)),
                        "expected": repr(expected) if expected else "a result", "traced": traced, "rss": rss,
                        "heap": held if heap else None, "refs": changed})
    print(json.dumps(records))
