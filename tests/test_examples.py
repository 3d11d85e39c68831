"""The examples under examples/ run as a user runs them, each in its own interpreter, with the
velmora under test: they finish, print their table, and write their plot to the folder given by
--out; without matplotlib they still print the table and say how to get the plot. The fit of
MOA-2008-BLG-310 lands near the published solution and agrees with MulensModel's fit; the Dask
example runs on a LocalCluster of 2 worker processes and matches its serial run bit for bit. No
example leaves a file in the folder it runs from."""
import re
import sys

import pytest

from _support import ROOT, run_child

EXAMPLES = ROOT / "examples"
# example -> (plot it writes or None, a line its table must print, further arguments)
CASES = {
    "quickstart.py": (None, "rstar/re = 0.05; l in source radii", []),
    "light_curve.py": ("light_curve.png", "t0 = 0.0 d, u0 = 0.02, tE = 20.0 d, rho = 0.05", []),
    "astrometry.py": ("astrometry.png", "t0 = 0.0 d, u0 = 0.02, tE = 20.0 d, rho = 0.05; shift in Einstein radii", []),
    "flux_map.py": ("flux_map.png", "rstar/re = 0.05; l in source radii; belt", []),
    "limb_darkening.py": (None, "1. Common laws, directly as sums of powers of mu", ["--quick"]),
    "fit_mb08310.py": ("mb08310.png", "MOA-2008-BLG-310: 3482 points in 7 data sets", ["--quick"]),
    "dask_survey.py": (None, "LocalCluster of 2 worker processes",
                       ["--events", "40", "--workers", "2", "--batch", "4"]),
}
# Janczak et al. (2010): t0 - 2450000, u0, tE [d], t* = rho tE [d], and how far the point-lens fit
# (no planet, error bars not rescaled) may land from them.
PUBLISHED = {"t0": (4656.39975, 0.002), "u0": (0.00300, 0.15), "tE": (11.14, 0.1), "t*": (0.05487, 0.05)}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Runs an example as __main__ with `import matplotlib` failing, as on a machine without it.
# The script's folder goes first on sys.path, as when Python runs the script itself.
WITHOUT_MATPLOTLIB = "import os, runpy, sys; sys.modules['matplotlib'] = None; sys.argv = sys.argv[1:]; " \
                     "sys.path.insert(0, os.path.dirname(sys.argv[0])); runpy.run_path(sys.argv[0], run_name='__main__')"


def run(args, cwd):
    return run_child(None, 300, args=args, cwd=cwd, MPLBACKEND=None)


def mulensmodel_or_skip():
    """MulensModel and the data it ships; where it cannot be imported (on some Python version), skip."""
    try:
        import MulensModel  # noqa: F401
    except Exception as error:  # an old astropy under a new NumPy raises AttributeError, not ImportError
        pytest.skip(f"MulensModel does not import on Python {sys.version.split()[0]}: {error!r}")


def check_fit(stdout):
    """The velmora row lands near the published values, and MulensModel's chi^2 near velmora's."""
    problems = []
    rows = {m.group(1): [float(x) for x in m.group(2).split()]
            for m in re.finditer(r"^(velmora|MulensModel) +([-0-9. ]+)$", stdout, re.M)}
    if set(rows) != {"velmora", "MulensModel"}:
        return [f"no best-fit rows for velmora and MulensModel in:\n{stdout}"]
    exact = re.search(r"^velmora, analytic Jacobian:\n +([-0-9. ]+)$", stdout, re.M)
    if exact is None:
        return [f"no best-fit row for the analytic Jacobian in:\n{stdout}"]
    rows["velmora, analytic Jacobian"] = [float(x) for x in exact.group(1).split()]
    for label in ("velmora", "velmora, analytic Jacobian"):
        t0, u0, tE, rho, t_star, chi2 = rows[label][:6]
        for name, got in {"t0": t0, "u0": u0, "tE": tE, "t*": t_star}.items():
            want, tol = PUBLISHED[name]
            off = abs(got - want) if name == "t0" else abs(got / want - 1)
            if not off <= tol:
                problems.append(f"{label}: {name} = {got}, published {want}: off by {off:.3g} > {tol}")
    # Both fits minimise the same chi^2: the analytic Jacobian reaches the finite-difference fit's.
    chi2, exact_chi2 = rows["velmora"][5], rows["velmora, analytic Jacobian"][5]
    if not exact_chi2 <= chi2 * (1 + 2e-3):
        problems.append(f"chi^2 with the analytic Jacobian {exact_chi2} vs {chi2} with finite differences")
    their_chi2 = rows["MulensModel"][5]
    if not abs(chi2 / their_chi2 - 1) <= 2e-3:
        problems.append(f"chi^2 velmora {chi2} vs MulensModel {their_chi2}")
    return problems


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_runs_and_writes_its_plot(name, tmp_path):
    plot, heading, extra = CASES[name]
    if name == "fit_mb08310.py":
        mulensmodel_or_skip()
    out = tmp_path / "plots"
    work = tmp_path / "work"
    work.mkdir()
    args = [str(EXAMPLES / name), *extra] + (["--out", str(out)] if plot else [])
    proc = run(args, cwd=work)
    problems = []
    if name == "fit_mb08310.py":
        problems += check_fit(proc.stdout)
    if name == "dask_survey.py" and "results equal the serial run bit for bit: yes" not in proc.stdout:
        problems.append(f"the cluster's results differ from the serial run:\n{proc.stdout}")
    left = sorted(p.name for p in work.rglob("*"))
    if left:
        problems.append(f"files left in the folder it ran from: {left}")
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


# Every plotting example takes the matplotlib check and its hint from examples/_cli.py, so one of
# them run without matplotlib covers it (the fit cannot: MulensModel imports matplotlib).
@pytest.mark.parametrize("name", ["light_curve.py"])
def test_example_without_matplotlib_prints_and_explains(name, tmp_path):
    plot, heading, extra = CASES[name]
    out = tmp_path / "plots"
    proc = run(["-c", WITHOUT_MATPLOTLIB, str(EXAMPLES / name), *extra, "--out", str(out)], cwd=tmp_path)
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
