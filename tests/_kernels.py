"""The private kernel test extension _velmora_kernels, built by the tests themselves.

The wheel holds velmora alone; the numerical kernels are exposed to the tests by a second
extension (tests/native/kernels_module.cpp) that this module builds from the source tree with
CMake (the option VELMORA_BUILD_TESTING, target _velmora_kernels only) for the running
interpreter, once per session, and puts on sys.path and on the PYTHONPATH of child interpreters.
The build folder is build-kernels/<interpreter>/ in the source tree (rebuilt incrementally), or a
temporary folder when the tree is read-only.

VELMORA_KERNELS in the environment changes that: "off" skips the kernel tests, a folder path
imports a build found there instead (scripts/sanitize points it at its sanitized build).

Without CMake or a C++ compiler the kernel tests are skipped, and the reason is shown in the
summary (-ra). A build that is attempted and fails is an error, not a skip.
"""
import hashlib
import importlib
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tempfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
NAME = "_velmora_kernels"
HOW_TO = "python -m pip install '.[test]' brings CMake and Ninja"

_state = {}  # "module" or "skip" once prepared
_WHY = "VELMORA_KERNELS_WHY"  # why a controlling process found no extension, for its workers


class BuildError(Exception):
    pass


def _tool(name):
    """A tool next to the interpreter (a virtual environment's bin), from its PyPI package, or on PATH."""
    here = pathlib.Path(sys.executable).parent / name
    if here.is_file() and os.access(here, os.X_OK):
        return str(here)
    try:
        package = importlib.import_module(name)
        folder = getattr(package, "CMAKE_BIN_DIR", None) or getattr(package, "BIN_DIR", None)
        if folder and (pathlib.Path(folder) / name).is_file():
            return str(pathlib.Path(folder) / name)
    except ImportError:
        pass
    return shutil.which(name)


def _build_folder():
    # One folder per interpreter installation: the extension depends on its headers and ABI.
    key = hashlib.sha256(f"{sys.base_prefix}|{sys.version}".encode()).hexdigest()[:10]
    folder = ROOT / "build-kernels" / f"{sys.implementation.cache_tag}-{key}"
    try:
        folder.mkdir(parents=True, exist_ok=True)
        probe = folder / ".writable"
        probe.touch()
        probe.unlink()
        return folder
    except OSError:
        return pathlib.Path(tempfile.mkdtemp(prefix="velmora-kernels-"))


def _run(command, log):
    proc = subprocess.run(command, cwd=ROOT, capture_output=True, text=True)
    log.append("$ " + " ".join(command) + "\n" + proc.stdout + proc.stderr)
    return proc.returncode == 0


def build():
    """Builds the extension; returns its folder. Raises LookupError when a tool is missing and
    BuildError when the build fails."""
    cmake = _tool("cmake")
    if cmake is None:
        raise LookupError(f"CMake not found ({HOW_TO})")
    if not (ROOT / "tests" / "native" / "kernels_module.cpp").is_file() or not (ROOT / "CMakeLists.txt").is_file():
        raise LookupError(f"no source tree at {ROOT}")
    folder = _build_folder()
    configure = [cmake, "-S", str(ROOT), "-B", str(folder), "-DCMAKE_BUILD_TYPE=Release",
                 "-DVELMORA_BUILD_TESTING=ON", "-DVELMORA_LTO=OFF", f"-DPython_EXECUTABLE={sys.executable}",
                 f"-DPython_INCLUDE_DIR={sysconfig.get_paths()['include']}"]
    if not (folder / "CMakeCache.txt").exists():
        ninja = _tool("ninja")
        if ninja is not None:
            configure += ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"]
    if not any(folder.glob(f"{NAME}*")):
        print(f"\nbuilding {NAME} in {folder} (the first time takes a minute)", file=sys.stderr, flush=True)
    log = []
    if not _run(configure, log):
        text = log[-1]
        if "No CMAKE_CXX_COMPILER could be found" in text or "CMAKE_CXX_COMPILER not set" in text:
            raise LookupError("no C++ compiler found for the kernel test extension")
        if "Could NOT find Python" in text:
            raise LookupError("CMake found no Python headers for this interpreter (python3-dev)")
        raise BuildError("\n".join(log))
    if not _run([cmake, "--build", str(folder), "--target", NAME, "--parallel", str(os.cpu_count() or 2)], log):
        raise BuildError("\n".join(log))
    return folder


def prepare():
    """Makes _velmora_kernels importable (building it if needed), once per session; returns the
    module, or None with the reason kept for skip()."""
    if _state:
        return _state.get("module")
    choice = os.environ.get("VELMORA_KERNELS", "")
    try:
        if choice.lower() == "off":
            raise LookupError(os.environ.get(_WHY, "VELMORA_KERNELS=off"))
        folder = pathlib.Path(choice) if choice else build()
    except LookupError as missing:
        _state["skip"] = f"{NAME} not built: {missing}"
        # Worker processes started after this (pytest-xdist) skip for the same reason, unbuilt.
        os.environ.setdefault("VELMORA_KERNELS", "off")
        os.environ.setdefault(_WHY, str(missing))
        return None
    except BuildError as error:
        _state["skip"] = None
        raise pytest.UsageError(f"building {NAME} failed:\n{error}") from None
    if str(folder) not in sys.path:
        sys.path.insert(0, str(folder))
    # Child interpreters that the tests start find it too (the folder holds no velmora module).
    paths = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    if str(folder) not in paths:
        os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(folder), *paths]))
    _state["module"] = importlib.import_module(NAME)
    _state["folder"] = folder
    # Worker processes started after this (pytest-xdist) import this build instead of building again.
    os.environ.setdefault("VELMORA_KERNELS", str(folder))
    return _state["module"]


def load():
    """The extension for a test module; skips the whole module (with the reason) without it."""
    module = prepare()
    if module is None:
        pytest.skip(_state["skip"], allow_module_level=True)
    return module


def describe():
    """One line for pytest's header: where the extension comes from, or why it is missing."""
    if "module" in _state:
        return f"{NAME}: {_state['module'].__file__}"
    return _state.get("skip") or f"{NAME}: not prepared"
