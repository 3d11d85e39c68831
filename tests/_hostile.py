"""Hostile objects for the reliability tests, an independent model of how the public functions
convert their arguments (what a call must return or raise), and the leak cases built from both."""
import ctypes
import math

import velmora

from _support import (
    BY_NAME, KERNEL_MESSAGES, MESSAGES, NUMBER, SEQUENCE, Raised, Result, growth, law_failure, outcome, panic_text,
)

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
        raise TypeError(MESSAGES["str_for_sequence"])
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


def check_model_outcome(function, converted, got):
    """Problems (a list of strings) with the outcome `got` of a call on converted arguments."""
    problems = []
    if function.flux_map and len(converted[3]) != len(converted[4]):
        want = Raised(velmora.PanicException, panic_text(len(converted[3]), len(converted[4])))
        if got != want:
            problems.append(f"unequal tables: want {want!r}, got {got!r}")
        return problems
    if function.power_law and (want := law_failure(converted[3], converted[4])) is not None:
        if got != want:
            problems.append(f"invalid law: want {want!r}, got {got!r}")
        return problems
    if isinstance(got, Raised):
        if not (function.kernel_errors and got.kind is RuntimeError and got.text in KERNEL_MESSAGES):
            problems.append(f"unexpected exception {got!r}")
        return problems
    value = got.value
    if function.gradient and not (type(value) is tuple and len(value) == 3):
        problems.append(f"want a tuple of three lists, got {value!r}")
    elif function.returns_list:
        for part in function.lists(value):
            if type(part) is not list or len(part) != len(converted[0]):
                problems.append(f"want a list of {len(converted[0])} floats, got {part!r}")
            elif any(type(x) is not float for x in part):
                problems.append(f"non-float items in {part!r}")
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
# Leak cases, measured in a child interpreter of its own (tests/test_reliability_leaks.py).

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
            ("str for a sequence", at(j, "0.5"), {}, prefixed(j, MESSAGES["str_for_sequence"]), calls),
            ("not a sequence", at(j, generator), {}, prefixed(j, "'generator' object cannot be converted to 'Sequence'"),
             calls),
            ("item refused", at(j, [0.5, None]), {}, prefixed(j, "must be real number, not NoneType"), calls),
            ("iteration raises midway", at(j, IterRaises([0.5, 0.6], 1, ValueError("midway"))), {},
             Raised(ValueError, "midway"), calls),
        ]
    else:
        cases.append(("list for a number", at(0, [0.5]), {}, prefixed(0, "must be real number, not list"), calls))
    if f.kernel_errors:
        # A negative source radius with the lens on the limb: the uniform disk's parameter is 1 there.
        cases.append(("kernel error", f.arguments([0.5, 1.0, 2.0], rstar=-0.1), {}, Raised(RuntimeError, None), calls))
    if f.flux_map:
        cases.append(("panic", at(4, [1.0, 2.0, 3.0]), {}, Raised(velmora.PanicException, panic_text(len(cheap[3]), 3)),
                      calls))
    if f.power_law:
        cases.append(("invalid law", at(4, [0.4, 0.6, 0.1]), {}, Raised(ValueError, MESSAGES["law_lengths"]), calls))
        cases.append(("invalid power", at(3, [0.0, -1.0]), {}, Raised(ValueError, MESSAGES["law_power"]), calls))
    if f.returns_list and not cheap[0]:
        # The integrated functions' cheap call has no element; one element costs ~100 µs.
        cases.append(("success, one element", at(0, [0.5]), {}, None, element_calls))
    return cases


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
    import json

    function = BY_NAME[name]
    singletons = [None, True, False, Ellipsis, NotImplemented, (), 0, 1, -1, ""]
    types = [velmora.PanicException, TypeError, ValueError, OverflowError, RuntimeError, FloatRaises, IterRaises]
    records = []
    for label, args, kwargs, expected, times in leak_cases(function, calls, element_calls):
        watched = singletons + types + [function.fn, velmora] + list(args) + list(kwargs.values())
        watched += [item for a in args if type(a) is list for item in a]
        got = outcome(function.fn, args, kwargs)
        catch = expected.kind if expected is not None else ()
        traced_calls = max(int(times * traced_fraction), 1000)
        measured = growth(lambda n: _run(function.fn, args, kwargs, n, catch), times, watched,
                          settle=max(times // 20, 1000), traced_settle=1000, traced_times=traced_calls)
        records.append({"label": label, "calls": times, "traced_calls": traced_calls, "got": repr(got),
                        "ok": (isinstance(got, Result) if expected is None else
                               got.__class__ is Raised and got.kind is expected.kind and
                               (expected.text is None and got.text in KERNEL_MESSAGES or got.text == expected.text)),
                        "expected": repr(expected) if expected else "a result", **measured})
    print(json.dumps(records))
