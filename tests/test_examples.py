"""The examples under examples/ run as a user runs them, each in its own interpreter, with the
velmora under test: they finish, print their table, and write their plot to the folder given by
--out; without matplotlib they still print the table and say how to get the plot."""
import os
import pathlib
import subprocess
import sys

import pytest

import velmora

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
# example -> (plot it writes or None, a line its table must print)
CASES = {
    "quickstart.py": (None, "rstar/re = 0.05; l in source radii"),
    "light_curve.py": ("light_curve.png", "t0 = 0.0 d, u0 = 0.02, tE = 20.0 d, rho = 0.05"),
    "flux_map.py": ("flux_map.png", "rstar/re = 0.05; l in source radii; belt"),
}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Runs an example as __main__ with `import matplotlib` failing, as on a machine without it.
# The script's folder goes first on sys.path, as when Python runs the script itself.
WITHOUT_MATPLOTLIB = "import os, runpy, sys; sys.modules['matplotlib'] = None; sys.argv = sys.argv[1:]; " \
                     "sys.path.insert(0, os.path.dirname(sys.argv[0])); runpy.run_path(sys.argv[0], run_name='__main__')"


def run(args, cwd):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(velmora.__file__), env.get("PYTHONPATH")]))
    env.pop("MPLBACKEND", None)
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, timeout=300, cwd=cwd, env=env)


def test_every_example_is_covered():
    assert sorted(p.name for p in EXAMPLES.glob("[!_]*.py")) == sorted(CASES)


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_runs_and_writes_its_plot(name, tmp_path):
    plot, heading = CASES[name]
    out = tmp_path / "plots"
    args = [str(EXAMPLES / name)] + (["--out", str(out)] if plot else [])
    proc = run(args, cwd=tmp_path)
    problems = []
    if proc.returncode != 0:
        problems.append(f"exit status {proc.returncode}\n{proc.stderr}")
    if heading not in proc.stdout:
        problems.append(f"no line {heading!r} in the output:\n{proc.stdout}")
    if "nan" in proc.stdout.lower().split():
        problems.append(f"NaN printed:\n{proc.stdout}")
    if plot:
        path = out / plot
        if not path.is_file():
            problems.append(f"{path} not written; files: {sorted(p.name for p in tmp_path.rglob('*'))}")
        elif not path.read_bytes().startswith(PNG_SIGNATURE) or path.stat().st_size < 10_000:
            problems.append(f"{path} is not a plausible PNG ({path.stat().st_size} bytes)")
        if f"wrote {path}" not in proc.stdout:
            problems.append("the output does not say where the plot went")
    assert not problems, f"{name}:\n" + "\n".join(problems)


@pytest.mark.parametrize("name", sorted(name for name, (plot, _) in CASES.items() if plot))
def test_example_without_matplotlib_prints_and_explains(name, tmp_path):
    plot, heading = CASES[name]
    out = tmp_path / "plots"
    proc = run(["-c", WITHOUT_MATPLOTLIB, str(EXAMPLES / name), "--out", str(out)], cwd=tmp_path)
    problems = []
    if proc.returncode != 0:
        problems.append(f"exit status {proc.returncode}\n{proc.stderr}")
    if heading not in proc.stdout:
        problems.append(f"no table in the output:\n{proc.stdout}")
    if "matplotlib is not installed" not in proc.stdout or "pip install" not in proc.stdout:
        problems.append(f"no hint how to get the plot:\n{proc.stdout}")
    if (out / plot).exists():
        problems.append(f"{out / plot} written without matplotlib")
    assert not problems, f"{name}:\n" + "\n".join(problems)
