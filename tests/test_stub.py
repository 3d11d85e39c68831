"""The type stub velmora.pyi against the compiled module, and mypy --strict over code that uses it.

The stub is read with ast (it is never imported) and compared with the module's runtime
signatures; each annotated parameter kind (a number or a sequence) is checked against what the
module accepts and refuses. mypy then checks the examples and a typed snippet that passes NumPy
arrays, and must report the misuses in a second snippet.
"""
import ast
import inspect
import pathlib
import textwrap

import numpy as np
import pytest

import velmora

from _support import ROOT, STUB as SOURCE_STUB, stub_functions, stub_tree

mypy_api = pytest.importorskip("mypy.api")

MODULE_DIR = pathlib.Path(velmora.__file__).resolve().parent
BUILD_TREE = (MODULE_DIR / "CMakeCache.txt").exists()  # a build folder (PYTHONPATH=build), not an install

SEQUENCE = "_FloatSequence"
VALID = {"l": 0.5, "r": 0.3, "re": 1.0, "rstar": 0.1, "bl": [0.0, 1.0], "bf": [1.0, 0.5], "powers": [0.0, 0.5],
         "weights": [0.5, 0.5]}


def stub_all():
    for node in stub_tree().body:
        if isinstance(node, ast.Assign) and [t.id for t in node.targets if isinstance(t, ast.Name)] == ["__all__"]:
            return ast.literal_eval(node.value)
    return None


def runtime_public():
    return {name for name in dir(velmora) if not name.startswith("_")}


def test_stub_names_match_module():
    tree = stub_tree()
    stub_public = {node.name for node in tree.body
                   if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_")}
    assert stub_public == runtime_public(), (
        f"only in the stub: {sorted(stub_public - runtime_public())}; "
        f"only in the module: {sorted(runtime_public() - stub_public)}")
    assert stub_all() == list(velmora.__all__), f"stub __all__ {stub_all()} != module __all__ {velmora.__all__}"
    panic = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "PanicException")
    assert [ast.unparse(b) for b in panic.bases] == ["BaseException"]
    assert velmora.PanicException.__bases__ == (BaseException,)


def test_stub_signatures_match_module():
    bad = []
    for name, node in stub_functions().items():
        runtime = inspect.signature(getattr(velmora, name))
        params = node.args
        stub_params = [a.arg for a in params.args]
        if stub_params != list(runtime.parameters):
            bad.append(f"{name}: stub ({', '.join(stub_params)}) vs runtime {runtime}")
        if params.posonlyargs or params.kwonlyargs or params.vararg or params.kwarg or params.defaults:
            bad.append(f"{name}: the stub has positional-only, keyword-only, variadic or default parameters")
        kinds = {p.kind for p in runtime.parameters.values()}
        if kinds != {inspect.Parameter.POSITIONAL_OR_KEYWORD}:
            bad.append(f"{name}: runtime parameter kinds {kinds}")
        if not ast.get_docstring(node) or "Returns:" not in ast.get_docstring(node):
            bad.append(f"{name}: no docstring with a Returns section")
        documented = ast.get_docstring(node) or ""
        bad += [f"{name}: parameter {p} not documented" for p in stub_params if f"    {p}: " not in documented]
    assert not bad, "\n".join(bad)


@pytest.mark.parametrize("name", velmora.__all__)
def test_annotations_match_what_the_module_accepts(name):
    """A parameter annotated float takes a number and refuses a list; a sequence parameter takes a
    list and a NumPy array and refuses a number. The return annotation matches the result."""
    node = stub_functions()[name]
    annotations = {a.arg: ast.unparse(a.annotation) for a in node.args.args}
    function = getattr(velmora, name)

    args = {p: [VALID[p]] if annotations[p] == SEQUENCE and not isinstance(VALID[p], list) else VALID[p]
            for p in annotations}
    bad = []
    result = function(**args)
    expected = "list[float]" if any(a == SEQUENCE for a in annotations.values()) else "float"
    if name.endswith("_gradient"):
        expected = "tuple[list[float], list[float], list[float]]"
    if ast.unparse(node.returns) != expected:
        bad.append(f"returns {ast.unparse(node.returns)}, expected {expected}")
    if expected == "float" and type(result) is not float:
        bad.append(f"result {result!r} is not a float")
    parts = result if expected.startswith("tuple") and type(result) is tuple and len(result) == 3 else [result]
    if expected != "float" and not all(type(p) is list and all(type(x) is float for x in p) for p in parts):
        bad.append(f"result {result!r} is not {expected}")
    for param, annotation in annotations.items():
        if annotation == "float":
            wrong = [args[param]]
        elif annotation == SEQUENCE:
            wrong = 0.5
            try:
                function(**{**args, param: np.asarray(args[param], dtype=np.float64)})
            except Exception as error:  # noqa: BLE001
                bad.append(f"{param}: a NumPy array is refused: {error!r}")
        else:
            bad.append(f"{param}: unexpected annotation {annotation}")
            continue
        try:
            function(**{**args, param: wrong})
            bad.append(f"{param}: annotated {annotation} but {wrong!r} is accepted")
        except TypeError:
            pass
    assert not bad, f"{name}:\n" + "\n".join(bad)


def test_installed_stub_is_the_source_stub():
    if BUILD_TREE:
        pytest.skip("velmora is imported from a build folder; the stub is placed by the install step")
    installed = [MODULE_DIR / "velmora.pyi", MODULE_DIR / "velmora-stubs" / "__init__.pyi"]
    source = SOURCE_STUB.read_bytes()
    bad = [f"{p}: missing" if not p.is_file() else f"{p}: differs from {SOURCE_STUB}"
           for p in installed if not p.is_file() or p.read_bytes() != source]
    assert not bad, "\n".join(bad)


TYPED = """
    import numpy as np
    import numpy.typing as npt
    import velmora

    l: npt.NDArray[np.float64] = np.linspace(0.0, 2.0, 5, dtype=np.float64)  # NumPy 2.2 types it so only with dtype
    a: list[float] = velmora.witt_mao_magnification(l, 1.0, 0.05)
    b: list[float] = velmora.integrated_heyrovsky_magnification([0.0, 1, 2.5], 1.0, 0.05)
    c: list[float] = velmora.integrated_witt_mao_magnification(range(3), re=1.0, rstar=0.05)
    d: list[float] = velmora.integrated_flux_map_heyrovsky_magnification((0.5,), 1.0, 0.05, l, l.tolist())
    e: list[float] = velmora.integrated_flux_map_witt_mao_magnification(l, 1.0, 0.05, [0.0, 1.0], [1, 1])
    f: list[float] = velmora.discrete_flux_map_heyrovsky_magnification(np.arange(3), 1.0, 0.05, [0.5], [1.0])
    g: float = velmora.heyrovsky_magnification(0.5, r=0.3, re=1.0, rstar=np.float64(0.05))
    h: npt.NDArray[np.float64] = np.asarray(a, dtype=np.float64)
    i: tuple[list[float], list[float], list[float]] = velmora.witt_mao_magnification_gradient(l, 1.0, 0.05)
    try:
        pass
    except velmora.PanicException as error:
        print(error)
"""
# Each line must draw a mypy error.
MISUSED = """
    import velmora

    velmora.witt_mao_magnification(0.5, 1.0, 0.05)
    velmora.heyrovsky_magnification([0.5], 0.3, 1.0, 0.05)
    velmora.integrated_heyrovsky_magnification("0.5", 1.0, 0.05)
    velmora.integrated_witt_mao_magnification({0.5}, 1.0, 0.05)
    velmora.integrated_flux_map_heyrovsky_magnification([0.5], 1.0, 0.05, [0.0])
    velmora.discrete_flux_map_heyrovsky_magnification([0.5], 1.0, 0.05, [0.0], [1.0], 2)
    x: float = velmora.witt_mao_magnification([0.5], 1.0, 0.05)
    y: list[float] = velmora.heyrovsky_magnification(0.5, 0.3, 1.0, 0.05)
    z: list[float] = velmora.witt_mao_magnification_gradient([0.5], 1.0, 0.05)
    velmora.witt_mao_magnification([0.5], 1.0, 0.05, rho=0.05)
    velmora.no_such_function()
"""


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    return tmp_path_factory.mktemp("mypy_cache")


@pytest.fixture
def run_mypy(mypy_cache, monkeypatch):
    """mypy --strict on the given files. An installed velmora brings its stub (velmora-stubs);
    for a build folder the source stub is put on MYPYPATH."""
    if BUILD_TREE:
        monkeypatch.setenv("MYPYPATH", str(SOURCE_STUB.parent))

    def run(*files):
        out, err, status = mypy_api.run(["--strict", "--cache-dir", str(mypy_cache), "--no-error-summary",
                                         "--show-error-codes", *map(str, files)])
        return out + err, status
    return run


def test_mypy_strict_accepts_examples_and_typed_use(run_mypy, tmp_path):
    snippet = tmp_path / "typed_use.py"
    typed = textwrap.dedent(TYPED)
    if np.lib.NumpyVersion(np.__version__) < "2.2.0":
        # NumPy's own stubs before 2.2 do not make np.float64 a float (the last NumPy for 3.9 is 2.0)
        typed = typed.replace("rstar=np.float64(0.05)", "rstar=0.05")
    snippet.write_text(typed, encoding="utf-8")
    examples = sorted((ROOT / "examples").glob("*.py"))
    assert examples
    output, status = run_mypy(*examples, snippet)
    assert status == 0, output


def test_mypy_strict_reports_misuse(run_mypy, tmp_path):
    snippet = tmp_path / "misused.py"
    source = textwrap.dedent(MISUSED)
    snippet.write_text(source, encoding="utf-8")
    output, status = run_mypy(snippet)
    flagged = {int(line.split(":")[1]) for line in output.splitlines() if ": error:" in line}
    expected = {n for n, line in enumerate(source.splitlines(), 1) if line.startswith("velmora.") or ": " in line}
    missing = sorted(expected - flagged)
    assert status == 1 and not missing, (
        "misuse mypy did not report:\n" + "\n".join(source.splitlines()[n - 1] for n in missing) + "\n" + output)
