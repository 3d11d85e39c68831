"""Tests of the Python boundary of velmora: module contents, argument binding, conversions,
error mapping, results and reference handling."""
import inspect
import sys

import pytest

import velmora

from _kernels import load
from _support import MESSAGES, SANITIZED, call_all, growth, panic_text, run_child, stub_functions

WM = velmora.witt_mao_magnification
HEY = velmora.heyrovsky_magnification
DFM = velmora.discrete_flux_map_heyrovsky_magnification

# Registration order of the functions.
EXPECTED_ORDER = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
    "integrated_law_heyrovsky_magnification",  # registered after the seven, whose order is unchanged
    "witt_mao_magnification_gradient",  # the gradients after the values
    "integrated_law_heyrovsky_magnification_gradient",
    "integrated_flux_map_heyrovsky_magnification_gradient",
    "witt_mao_centroid_shift",
    "integrated_law_heyrovsky_centroid_shift",
    "integrated_flux_map_heyrovsky_centroid_shift",
]
PANIC_TEXT = panic_text(3, 4)
REFUSED = f"ImportError: {MESSAGES['subinterpreter']}"


def fail(error):
    raise error


class ThreeItems:  # a sequence by __getitem__ alone
    def __getitem__(self, i):
        return [0.5, 0.5, 0.5][i]


FloatRaises = type("FloatRaises", (), {"__float__": lambda self: fail(ValueError("no float here"))})
FloatReturnsInt = type("FloatReturnsInt", (), {"__float__": lambda self: 1})
FailsAtTwo = type("FailsAtTwo", (ThreeItems,), {
    "__getitem__": lambda self, i: fail(RuntimeError("item 2 unreadable")) if i == 2 else 0.5})
LenRaises = type("LenRaises", (ThreeItems,), {"__len__": lambda self: fail(RuntimeError("no length"))})
LenLies = type("LenLies", (ThreeItems,), {"__len__": lambda self: sys.maxsize})


def raising_generator():
    yield 0.5
    raise RuntimeError("generator broke")


def test_module_doc_and_all():
    doc = velmora.__doc__
    assert isinstance(doc, str) and len(doc) > 20 and doc.endswith(".") and ". " not in doc and "\n" not in doc
    assert velmora.__all__ == EXPECTED_ORDER
    assert "PanicException" not in velmora.__all__


def test_message_texts():
    # Callers match on the fixed texts: each one the code exports is the one the tests expect.
    exported = load().messages()
    bad = [f"{name}: exported {exported.get(name)!r}, expected {text!r}"
           for name, text in MESSAGES.items() if exported.get(name) != text]
    bad += [f"{name}: exported {exported[name]!r}, not expected" for name in exported.keys() - MESSAGES.keys()]
    assert not bad, "\n".join(bad)


@pytest.mark.parametrize("name", EXPECTED_ORDER)
def test_function_metadata(name):
    fn = getattr(velmora, name)
    assert fn.__name__ == name and fn.__module__ == "velmora"
    stub = f"({', '.join(a.arg for a in stub_functions()[name].args.args)})"
    assert fn.__text_signature__ == stub and not fn.__doc__


def test_reimport_gives_same_module():
    out = run_child("""
        import importlib, sys, velmora
        first = velmora
        import velmora
        assert velmora is first
        del sys.modules["velmora"]
        import velmora
        assert velmora is first and sys.modules["velmora"] is first and importlib.reload(velmora) is first
        assert velmora.PanicException is first.PanicException
        assert len(velmora.__all__) == len(set(velmora.__all__)), velmora.__all__
        print(velmora.witt_mao_magnification([0.5], 1.0, 0.1))
    """, 60, check=True).stdout
    assert out.strip() == repr(WM([0.5], 1.0, 0.1))


def test_subinterpreter_refused():
    out = run_child("""
        import velmora
        try:
            import _interpreters as interp
        except ImportError:
            try:
                import _xxsubinterpreters as interp
            except ImportError:
                raise SystemExit(print("SKIP"))
        try:
            sid = interp.create("legacy")  # 3.13+
        except TypeError:
            sid = interp.create(isolated=False)
        try:
            res = interp.run_string(sid, "import velmora")
        except Exception as exc:  # RunFailedError; newer versions return the error instead
            res = exc
        print(getattr(res, "formatted", res))
        print(velmora.heyrovsky_magnification(0.5, 0.6, 1.0, 1.0))
    """, 60, check=True).stdout
    if out.strip() == "SKIP":
        skip_without_subinterpreters()
    text = out.replace("<class 'ImportError'>", "ImportError")  # 3.11 shows the type's repr
    assert REFUSED in text
    assert text.splitlines()[-1] == repr(HEY(0.5, 0.6, 1.0, 1.0))  # the main interpreter still works


# Creates a legacy (shared-GIL) sub-interpreter with whichever private module this Python has, and
# runs code in it; prints SKIP and exits where there is none.
SUBINTERPRETER_PRELUDE = """
    try:
        import _interpreters as interp
    except ImportError:
        try:
            import _xxsubinterpreters as interp
        except ImportError:
            raise SystemExit(print("SKIP"))

    def create():
        # A legacy sub-interpreter (shared GIL, single-phase modules allowed), so that the import
        # reaches velmora's own refusal: an isolated one (3.12's default) is refused by CPython first.
        try:
            return interp.create("legacy")  # 3.13+
        except TypeError:
            pass
        try:
            return interp.create(isolated=False)  # 3.12
        except TypeError:
            return interp.create()  # 3.9-3.11: always legacy

    def run(sid, code):
        try:
            res = interp.run_string(sid, code)
        except Exception as exc:  # RunFailedError; newer versions return the error instead
            res = exc
        text = str(getattr(res, "formatted", res) or "")
        return text.replace("<class 'ImportError'>", "ImportError")  # 3.11 shows the type's repr
"""


def skip_without_subinterpreters():
    # Every CPython from 3.12 on has a private sub-interpreter module, and there the refusal must
    # be exercised: a missing module is a failure, not a skip.
    assert sys.version_info < (3, 12), "no sub-interpreter module on CPython >= 3.12"
    pytest.skip("no sub-interpreter module")


def test_subinterpreters_refused_repeatedly_and_main_unharmed():
    # Several sub-interpreters, each refused twice and then destroyed: the main interpreter's
    # module gives the same results, bit for bit, before and after.
    out = run_child(SUBINTERPRETER_PRELUDE + """
    import gc, velmora
    from _support import FUNCTIONS
    calls = [(f.fn, f.arguments([0.5, 1.5])) for f in FUNCTIONS]
    before = [repr(fn(*args)) for fn, args in calls]
    for _ in range(3):
        sid = create()
        for _ in range(2):
            print(run(sid, "import velmora"))
        print(run(sid, "import sys; assert 'velmora' not in sys.modules"))
        interp.destroy(sid)
    gc.collect()
    assert [repr(fn(*args)) for fn, args in calls] == before
    print("MAIN OK")
    """, 60, check=True).stdout
    if out.strip() == "SKIP":
        skip_without_subinterpreters()
    lines = [line for line in out.splitlines() if line.strip()]
    assert lines[-1] == "MAIN OK"
    assert sum(REFUSED in line for line in lines) == 6, out


def test_subinterpreter_importing_first_is_refused():
    out = run_child(SUBINTERPRETER_PRELUDE + """
    sid = create()
    print(run(sid, "import velmora"))
    interp.destroy(sid)
    import velmora
    print(velmora.heyrovsky_magnification(0.5, 0.6, 1.0, 1.0))
    """, 60, check=True).stdout
    if out.strip() == "SKIP":
        skip_without_subinterpreters()
    assert REFUSED in out
    assert out.splitlines()[-1] == repr(HEY(0.5, 0.6, 1.0, 1.0))


def test_free_threaded_build_keeps_the_gil():
    # The module declares that it needs the GIL (its calls and its one-time state assume it): on a
    # free-threaded build, importing it turns the GIL on, with the interpreter's RuntimeWarning
    # naming the module. GIL builds have no such declaration to make.
    import sysconfig
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("not a free-threaded build: the GIL declaration applies to free-threaded CPython only")
    out = run_child("""
        import sys, warnings
        assert not sys._is_gil_enabled(), "the GIL is on before the import"
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import velmora
        assert sys._is_gil_enabled(), "importing velmora left the GIL off"
        print([str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)])
    """, 60, check=True).stdout
    assert "velmora" in out, out


def test_panic_exception():
    panic = velmora.PanicException
    assert isinstance(panic, type) and panic is velmora.PanicException and panic.__doc__
    assert panic.__module__ == "velmora" and panic.__name__ == "PanicException"
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    for _ in range(2):
        with pytest.raises(BaseException) as info:
            DFM([0.5], 1.0, 0.1, [0.1, 0.2, 0.3], [1, 2, 3, 4])
        assert type(info.value) is panic and str(info.value) == PANIC_TEXT


@pytest.mark.parametrize("call, message", [
    (lambda: WM([0.5], 1.0, 0.1, 2.0), "witt_mao_magnification() takes 3 positional arguments but 4 were given"),
    (lambda: HEY(1, 2, 3, 4, 5), "heyrovsky_magnification() takes 4 positional arguments but 5 were given"),
    (lambda: WM([0.5], 1.0, 0.1, l=[0.5]), "witt_mao_magnification() got multiple values for argument 'l'"),
    (lambda: WM([0.5], 1.0, 0.1, rstar=0.1), "witt_mao_magnification() got multiple values for argument 'rstar'"),
    (lambda: WM([0.5], 1.0, 0.1, x=1), "witt_mao_magnification() got an unexpected keyword argument 'x'"),
    (lambda: WM([0.5], 1.0, r=0.1), "witt_mao_magnification() got an unexpected keyword argument 'r'"),
    (lambda: WM([0.5], 1.0), "witt_mao_magnification() missing 1 required positional argument: 'rstar'"),
    (lambda: WM(re=1.0, rstar=0.1), "witt_mao_magnification() missing 1 required positional argument: 'l'"),
    (lambda: WM([0.5]), "witt_mao_magnification() missing 2 required positional arguments: 're' and 'rstar'"),
    (lambda: WM(), "witt_mao_magnification() missing 3 required positional arguments: 'l', 're', and 'rstar'"),
    (lambda: HEY(), "heyrovsky_magnification() missing 4 required positional arguments: 'l', 'r', 're', and 'rstar'"),
])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError and str(info.value) == message


def test_keywords_in_any_order():
    assert WM(rstar=0.1, l=[0.5, 2.0], re=1.0) == WM([0.5, 2.0], 1.0, 0.1) == WM([0.5, 2.0], rstar=0.1, re=1.0)
    assert HEY(rstar=1.0, re=1.0, r=0.6, l=0.5) == HEY(0.5, 0.6, 1.0, 1.0) == HEY(0.5, 0.6, rstar=1.0, re=1.0)
    assert DFM(bf=[1.0], bl=[0.3], rstar=0.1, re=1.0, l=[0.5]) == DFM([0.5], 1.0, 0.1, [0.3], [1.0])
    assert HEY(1, 2, 3, 4) == HEY(1.0, 2.0, 3.0, 4.0)  # ints for numbers


@pytest.mark.parametrize("value, message", [
    ("0.5", f"argument 'l': {MESSAGES['str_for_sequence']}"),
    (None, "argument 'l': 'NoneType' object cannot be converted to 'Sequence'"),
    (3, "argument 'l': 'int' object cannot be converted to 'Sequence'"),
    ({0.5: 1}, "argument 'l': 'dict' object cannot be converted to 'Sequence'"),
    ({0.5}, "argument 'l': 'set' object cannot be converted to 'Sequence'"),
    ((x for x in [0.5]), "argument 'l': 'generator' object cannot be converted to 'Sequence'"),
    ([0.5, None], "argument 'l': must be real number, not NoneType"),
    ([0.5, FloatReturnsInt()], "argument 'l': FloatReturnsInt.__float__ returned non-float (type int)"),
])
def test_sequence_refused(value, message):
    with pytest.raises(TypeError) as info:
        WM(value, 1.0, 0.1)
    assert str(info.value) == message


@pytest.mark.parametrize("value, same_as", [
    ((0.5, 2.0), [0.5, 2.0]), (range(3), [0.0, 1.0, 2.0]), (b"\x01\x02", [1.0, 2.0]), (bytearray(b"\x01"), [1.0]),
    ([1, 2], [1.0, 2.0]), ([True], [1.0]), (ThreeItems(), [0.5] * 3), (LenRaises(), [0.5] * 3), (LenLies(), [0.5] * 3),
])
def test_sequence_accepted(value, same_as):
    assert WM(value, 2, 1) == WM(same_as, 2.0, 1.0)


def test_numpy_arrays_accepted():
    np = pytest.importorskip("numpy")
    arr = np.array([0.5, 1.5])
    assert WM(arr, np.float64(1.0), np.int64(1)) == WM([0.5, 1.5], 1.0, 1.0)
    assert DFM(arr, 1.0, 0.1, np.array([0.3]), np.array([2.0])) == DFM([0.5, 1.5], 1.0, 0.1, [0.3], [2.0])


def dfm_args(position, value):
    return tuple(value if i == position else a for i, a in enumerate(([0.5], 1.0, 0.1, [0.3], [1.0])))


NOT_SEQ = "'NoneType' object cannot be converted to 'Sequence'"


@pytest.mark.parametrize("fn, args, error, message", [
    (DFM, dfm_args(0, None), TypeError, f"argument 'l': {NOT_SEQ}"),
    (DFM, dfm_args(1, "1"), TypeError, "argument 're': must be real number, not str"),
    (DFM, dfm_args(2, None), TypeError, "argument 'rstar': must be real number, not NoneType"),
    (DFM, dfm_args(3, None), TypeError, f"argument 'bl': {NOT_SEQ}"),
    (DFM, dfm_args(4, "1"), TypeError, f"argument 'bf': {MESSAGES['str_for_sequence']}"),
    (WM, ([0.5], None, 0.1), TypeError, "argument 're': must be real number, not NoneType"),
    (WM, ([0.5], 1.0, FloatReturnsInt()), TypeError,
     "argument 'rstar': FloatReturnsInt.__float__ returned non-float (type int)"),
    (HEY, ([0.5], 0.6, 1.0, 1.0), TypeError, "argument 'l': must be real number, not list"),
    (WM, ([0.5], FloatRaises(), 0.1), ValueError, "no float here"),  # only TypeError gets the prefix
    (WM, ([0.5, FloatRaises()], 1.0, 0.1), ValueError, "no float here"),
    (WM, ([0.5], 10 ** 400, 0.1), OverflowError, "int too large to convert to float"),
    (WM, (FailsAtTwo(), 1.0, 0.1), RuntimeError, "item 2 unreadable"),
])
def test_conversion_errors(fn, args, error, message):
    with pytest.raises(error) as info:
        fn(*args)
    assert type(info.value) is error and str(info.value) == message


# Physical input never fails; a negative source radius with the lens on the limb does (the
# uniform disk's parameter is exactly 1 there), for the whole vector.
@pytest.mark.parametrize("call, message", [
    (lambda: WM([0.5, 1.0, 2.0], 1.0, -0.1), MESSAGES["ellippi_m"]),
    (lambda: velmora.integrated_witt_mao_magnification([1.0], 1.0, -2.0), MESSAGES["ellippi_m"]),
    (lambda: velmora.integrated_flux_map_witt_mao_magnification([2.0, 1.0], 1.0, -0.1, [0.0, 1.0], [1.0, 0.5]),
     MESSAGES["ellippi_m"]),
])
def test_model_errors(call, message):
    result = None
    with pytest.raises(RuntimeError) as info:
        result = call()
    assert type(info.value) is RuntimeError and str(info.value) == message and result is None


def test_results():
    values = [0.5, 1.0, 2.0]
    out = WM(values, 1.0, 0.1)
    assert type(out) is list and out is not values and len(out) == 3 and values == [0.5, 1.0, 2.0]
    assert all(type(x) is float for x in out) and out == WM(values, 1.0, 0.1)
    assert type(HEY(0.5, 0.6, 1.0, 1.0)) is float
    assert WM([], 1.0, 0.1) == [] and DFM([], 1.0, 0.1, [], []) == [] and DFM([0.5, 2.0], 1.0, 0.1, [], []) == [0, 0]
    big = WM([0.5] * 10 ** 6, 1.0, 0.1)
    assert len(big) == 10 ** 6 and big[0] == big[-1] == out[0]


@pytest.mark.skipif(SANITIZED,
                    reason="AddressSanitizer holds freed blocks in quarantine, so memory grows without a leak")
def test_no_reference_or_memory_leaks():
    held, re, rstar = [0.5, 2.0], 1.5, 0.123456
    bad_float, bad_return, seq, gen = FloatRaises(), FloatReturnsInt(), FailsAtTwo(), raising_generator()
    objects = [held, held[1], re, rstar, bad_float, bad_return, seq, gen]
    calls = [
        lambda: WM(held, re, rstar), lambda: WM(held, re, rstar=rstar), lambda: WM([0.5, bad_float], re, rstar),
        lambda: WM(held, re, bad_return), lambda: WM(gen, re, rstar), lambda: WM(seq, re, rstar),
        lambda: WM(held, re, rstar, x=1), lambda: WM(held, l=held, re=re), lambda: WM("ab", re, rstar),
        lambda: HEY(held, re, re, rstar), lambda: HEY(re, re, re, bad_float), lambda: HEY(re, re, re, rstar),
        lambda: DFM(held, re, rstar, [0.1, rstar], [1.0]), lambda: DFM(held, re, rstar, held, held),
        lambda: WM([0.5, 1.000000000001], 1e-10, 1e10),
    ]
    record = growth(lambda n: call_all(calls, n), 2000, objects, settle=50, traced_settle=10, traced_times=2000)
    assert not record["refs"], record["refs"]
    assert record["traced"] < 16 * 1024, record  # one leaked float per call would be 48 KiB
    assert inspect.getgeneratorstate(gen) == inspect.GEN_CREATED  # refused without being consumed


def test_no_native_memory_growth_on_failure_paths():
    # The converted vectors must be released when a model fails or aborts: a leak here adds
    # megabytes per call.
    out = run_child("""
        import resource, velmora
        from _support import call_all
        big = [0.5] * 100_000
        calls = [lambda: velmora.discrete_flux_map_heyrovsky_magnification(big, 1.0, 0.1, big, [1.0]),
                 lambda: velmora.witt_mao_magnification(big + [None], 1.0, 0.1),
                 lambda: velmora.witt_mao_magnification(big + [1.000000000001], 1e-10, 1e10)]
        call_all(calls, 5)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        call_all(calls, 40)
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
    """, 60, check=True).stdout
    assert int(out) < 10_000, f"max RSS grew by {out.strip()} KiB"
