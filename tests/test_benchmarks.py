"""The timing scripts under benchmarks/ run in their quick mode, each in its own interpreter with the
velmora under test: they exit 0 and print their table (the accuracy scripts run in test_docs.py). A
script whose peers (VBMicrolensing, MulensModel) or kernel test extension are missing is skipped."""
import importlib

import pytest

import _kernels
from _support import ROOT, run_child, scaled

# script -> (arguments of a quick run, its table's heading, what it needs beyond velmora). The
# accuracy and validation scripts run in tests/test_docs.py instead, whose blocks hold their quick
# tables: that run checks their exit status and their whole table, so a second run here would check
# nothing more.
CASES = {
    "bench.py": (["--quick"], "Cost per point (ns), best of 3", []),  # times velmora alone without its peers
    "interrupt.py": (["--repeat", "1"], "median ms   max ms", []),
}


def missing(name):
    if name == "_velmora_kernels":
        return _kernels.prepare() is None
    try:
        importlib.import_module(name)
    except Exception:  # noqa: BLE001: an old astropy under a new NumPy raises AttributeError, not ImportError
        return True
    return False


@pytest.mark.parametrize("name", CASES)
def test_benchmark_runs(name, tmp_path):
    args, heading, needs = CASES[name]
    absent = [n for n in needs if missing(n)]
    if absent:
        pytest.skip(f"{name} needs {', '.join(absent)}")
    # The kernel test extension as this session built it, not rebuilt by each script.
    env = {"VELMORA_KERNELS": _kernels._state["folder"]} if "folder" in _kernels._state else {}
    proc = run_child(None, scaled(120, 900), args=[ROOT / "benchmarks" / name, *args], cwd=tmp_path, **env)
    lines = proc.stdout.splitlines()
    rows = next((lines[i + 1:] for i, line in enumerate(lines) if heading in line), [])
    assert proc.returncode == 0 and rows, (
        f"{name}: exit status {proc.returncode}, heading {heading!r} and a row after it expected in:\n"
        f"{proc.stdout}\n{proc.stderr[-3000:]}")
