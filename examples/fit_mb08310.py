"""A real event fitted end to end: MOA-2008-BLG-310, a lens crossing a limb-darkened source.

MOA-2008-BLG-310 (Janczak et al. 2010, ApJ 711, 731) peaked at a magnification of several hundred
while the lens crossed the face of the source. Its photometry from seven telescopes ships with
MulensModel (MulensModel.DATA_PATH, photometry_files/MB08310; read from there, never copied). This
example fits a point lens with a finite, limb-darkened source, (t0, u0, tE, rho), to all of it:

- model: u(t) = sqrt(u0^2 + ((t - t0)/tE)^2), magnification M_c(l = u/rho) of a source with the
  linear law I = 1 - c(1 - mu) of each data set's band, from integrated_law_heyrovsky_magnification
  with powers (0, 1) and weights (1 - c, c) (ring route; one call per band; see
  examples/limb_darkening.py), at every data point;
- fluxes: F = fs_k A + fb_k, the source and blend flux of each data set k solved linearly (weighted
  least squares) for every trial, so the optimiser sees only the four parameters;
- optimiser: scipy.optimize.least_squares on the residuals (F_obs - F)/sigma, from a start away
  from the published solution; once with finite-difference Jacobians and once with the analytic
  one, from integrated_law_heyrovsky_magnification_gradient (the magnification with its
  derivatives in u and rho, chained to t0, u0 and tE here).

Then MulensModel fits the same data with the same model (its finite_source_LD_Yoo04 method within
t0 ± 10 t*, the point-source formula outside, its Event and FitData solving the fluxes) with the
same optimiser and start. The table gives both best fits and chi^2 beside the published values, and
the time per model evaluation and per fit of each; the plot shows the peak, the data sets in colour,
the fitted model and the point-source model for contrast, with residuals.

Limb darkening (not fitted, the linear coefficient c by band; assumed values typical of the
solar-type bulge source, MulensModel's Gamma = 2c/(3 - c)): I 0.53, R 0.62, unfiltered 0.58, H 0.33.
The event has a planet (Janczak et al. 2010): a point lens leaves its small anomaly near the peak in
the residuals. Error bars are used as published (not rescaled), so chi^2/dof exceeds 1.

Needs NumPy, SciPy and MulensModel (its data), matplotlib for the plot:
python -m pip install numpy scipy MulensModel matplotlib
Usage: python examples/fit_mb08310.py [--out DIR] [--quick] [--no-mulensmodel-fit]
  --quick: at most 12 trials per fit (a check that it all runs, as the tests do)
"""
from __future__ import annotations

import argparse
import math
import os
import pathlib
import time
from typing import Any, Callable

import velmora

import _cli  # the shared command line (examples/_cli.py)

# Janczak et al. (2010), the values MulensModel's MB08310 example takes from them: t0 in HJD,
# tE and t* = rho tE in days.
PUBLISHED = {"t0": 2454656.39975, "u0": 0.00300, "tE": 11.14, "rho": 0.05487 / 11.14}
START = {"t0": 2454656.41, "u0": 0.004, "tE": 9.0, "rho": 0.007}
NAMES = ["t0", "u0", "tE", "rho"]
EPOCH = 2454656.0  # the fit's times are counted from here, so that a step in t0 is not lost to rounding
C_BY_BAND = {"I": 0.53, "R": 0.62, "unfiltered": 0.58, "H": 0.33}
T_WINDOW = 10.0  # MulensModel's finite-source method within t0 ± 10 t*
# velmora's finite source within FS_LIMIT source radii of the lens; beyond, the finite source changes
# the magnification by less than 1e-5 (about 1/(8 l^2)), and the point-source formula is used.
FS_LIMIT = 100.0


def load(np: Any) -> list[Any]:
    """The seven data sets as (name, band, times, flux, flux error); fluxes on the zero point 22."""
    import MulensModel  # type: ignore[import-untyped]

    folder = pathlib.Path(MulensModel.DATA_PATH) / "photometry_files" / "MB08310"
    sets = []
    for path in sorted(folder.glob("*.tbl")):
        band = name = None
        rows = []
        for line in path.read_text().splitlines():
            if line.startswith("\\TIME_SERIES_DATA_FILTER"):
                band = line.split("=")[1].strip().strip('"')
            elif line.startswith("\\TELESCOPE"):
                name = line.split("=")[1].strip().strip('"').split(" (")[0]
            elif line.strip() and not line.startswith(("\\", "|")):
                rows.append([float(x) for x in line.split()[:3]])
        t, mag, err = np.asarray(rows).T
        flux = 10.0 ** (-0.4 * (mag - 22.0))
        sets.append((f"{name} ({band})", band, t, flux, err * flux * math.log(10.0) / 2.5, path))
    return sets


class VelmoraModel:
    """Residuals of every data point for (t0, u0, tE, rho), fluxes solved per data set."""

    def __init__(self, np: Any, sets: list[Any]) -> None:
        self.np = np
        self.sets = sets
        self.times = np.concatenate([s[2] for s in sets]) - EPOCH
        self.c = np.concatenate([np.full(len(s[2]), C_BY_BAND[s[1]]) for s in sets])
        self.bounds = np.cumsum([0] + [len(s[2]) for s in sets])
        self.evaluations = 0
        self.gradients = 0
        self.seconds = 0.0
        self.limit = FS_LIMIT

    def magnification(self, p: Any, times: Any = None, c: Any = None) -> Any:
        np = self.np
        t0, u0, tE, rho = p
        t0 -= EPOCH
        times = self.times if times is None else times - EPOCH
        c = self.c if c is None else c
        start = time.perf_counter()
        u = np.hypot(u0, (times - t0) / tE)
        a = _cli.point_lens(u, np.sqrt)  # point source, far from the source
        near = u < self.limit * rho
        l, c = u[near] / rho, c[near]
        finite = np.empty_like(l)
        for value in np.unique(c):  # the linear law of each band: I = (1 - c) + c mu
            band = c == value
            finite[band] = velmora.integrated_law_heyrovsky_magnification(
                l[band], 1.0, rho, [0.0, 1.0], [1.0 - float(value), float(value)])
        a[near] = finite
        self.seconds += time.perf_counter() - start
        self.evaluations += 1
        return a

    def fluxes(self, a: Any) -> list[tuple[float, float]]:
        """(fs, fb) of each data set, weighted linear least squares."""
        np = self.np
        out = []
        for k, (_, _, _, flux, sigma, _) in enumerate(self.sets):
            ak = a[self.bounds[k]:self.bounds[k + 1]]
            design = np.column_stack([ak, np.ones_like(ak)]) / sigma[:, None]
            (fs, fb), *_ = np.linalg.lstsq(design, flux / sigma, rcond=None)
            out.append((fs, fb))
        return out

    def residuals(self, p: Any) -> Any:
        np = self.np
        a = self.magnification(p)
        parts = []
        for k, (fs, fb) in enumerate(self.fluxes(a)):
            flux, sigma = self.sets[k][3], self.sets[k][4]
            parts.append((flux - (fs * a[self.bounds[k]:self.bounds[k + 1]] + fb)) / sigma)
        return np.concatenate(parts)

    def jacobian(self, p: Any) -> Any:
        """d(residuals)/d(t0, u0, tE, rho), one row per data point.

        The magnification's derivatives come from the gradient function (dA/du at fixed rho, dA/drho
        at fixed u), chained through u = sqrt(u0^2 + tau^2), tau = (t - t0)/tE:
        du/dt0 = -tau/(u tE), du/du0 = u0/u, du/dtE = -tau^2/(u tE). The fluxes are solved for every
        trial (variable projection), so the residuals of data set k are P(F/sigma), P the projection
        off the columns A/sigma and 1/sigma; their Jacobian is taken as -P(fs dA/sigma), dropping the
        term of the projection's own change (Kaufman 1975, BIT 15, 49), which vanishes at a
        zero-residual optimum and leaves the steps' convergence intact.
        """
        np = self.np
        t0, u0, tE, rho = p
        t0 -= EPOCH
        start = time.perf_counter()
        tau = (self.times - t0) / tE
        u = np.hypot(u0, tau)
        a = _cli.point_lens(u, np.sqrt)
        da_du = -8.0 / (u * u * (u * u + 4.0) ** 1.5)  # the point source's dA/du
        da_drho = np.zeros_like(u)
        near = u < self.limit * rho
        l, c = u[near] / rho, self.c[near]
        finite = [np.empty_like(l) for _ in range(3)]
        for value in np.unique(c):
            band = c == value
            values = velmora.integrated_law_heyrovsky_magnification_gradient(
                l[band], 1.0, rho, [0.0, 1.0], [1.0 - float(value), float(value)])
            for out, got in zip(finite, values):
                out[band] = got
        a[near], da_du[near], da_drho[near] = finite
        self.seconds += time.perf_counter() - start
        self.gradients += 1
        d_a = np.column_stack([da_du * (-tau / (u * tE)), da_du * (u0 / u), da_du * (-tau * tau / (u * tE)), da_drho])
        rows = []
        for k, (fs, _) in enumerate(self.fluxes(a)):
            part = slice(self.bounds[k], self.bounds[k + 1])
            sigma = self.sets[k][4]
            design = np.column_stack([a[part], np.ones_like(a[part])]) / sigma[:, None]
            q, _ = np.linalg.qr(design)
            j = -fs * d_a[part] / sigma[:, None]
            rows.append(j - q @ (q.T @ j))
        return np.concatenate(rows)


class MulensModelFit:
    """The same model and data in MulensModel: Event and FitData solve the fluxes."""

    def __init__(self, np: Any, sets: list[Any]) -> None:
        import MulensModel as mm

        self.np = np
        self.mm = mm
        data = [mm.MulensData(file_name=str(s[5]), comments=["\\", "|"], bandpass=s[1], phot_fmt="mag")
                for s in sets]
        self.model = mm.Model({"t_0": START["t0"], "u_0": START["u0"], "t_E": START["tE"], "rho": START["rho"]})
        for band, c in C_BY_BAND.items():
            self.model.set_limb_coeff_gamma(band, 2 * c / (3 - c))
        self.event = mm.Event(datasets=data, model=self.model)
        self.evaluations = 0
        self.seconds = 0.0

    def set(self, p: Any) -> None:
        t0, u0, tE, rho = p
        params = self.model.parameters
        params.t_0, params.u_0, params.t_E, params.rho = t0, u0, tE, rho
        t_star = rho * tE
        self.model.set_magnification_methods(
            [t0 - T_WINDOW * t_star, "finite_source_LD_Yoo04", t0 + T_WINDOW * t_star])

    def residuals(self, p: Any) -> Any:
        start = time.perf_counter()
        self.set(p)
        self.event.fit_fluxes()
        out = []
        for fit in self.event.fits:
            res, err = fit.get_residuals(phot_fmt="flux")
            out.append(res / err)
        self.seconds += time.perf_counter() - start
        self.evaluations += 1
        return self.np.concatenate(out)

    def chi2(self, p: Any) -> float:
        self.set(p)
        return float(self.event.get_chi2())


def fit(residuals: Callable[[Any], Any], max_trials: int | None,
        jacobian: Callable[[Any], Any] | None = None) -> tuple[Any, float, int]:
    """The best fit, the seconds it took and its residual evaluations; finite-difference Jacobians
    unless `jacobian` gives them."""
    import numpy as np
    from scipy.optimize import least_squares  # type: ignore[import-untyped]

    offset = np.array([EPOCH, 0.0, 0.0, 0.0])  # t0 counted from EPOCH: finite-difference steps relative to it
    x0 = np.array([START[n] for n in NAMES]) - offset
    jac: Any = "2-point" if jacobian is None else (lambda x: jacobian(x + offset))
    start = time.perf_counter()
    result = least_squares(lambda x: residuals(x + offset), x0, jac=jac, method="trf", x_scale="jac",
                           diff_step=1e-6, max_nfev=max_trials, xtol=1e-10, ftol=1e-10)
    return result.x + offset, time.perf_counter() - start, int(result.nfev)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    _cli.add_out_option(parser, "mb08310.png")
    parser.add_argument("--quick", action="store_true", help="at most 12 trials per fit")
    parser.add_argument("--no-mulensmodel-fit", action="store_true", help="fit with velmora only")
    args = parser.parse_args()
    try:
        import MulensModel  # noqa: F401
        import numpy as np
        import scipy  # type: ignore[import-untyped] # noqa: F401
    except ImportError as error:
        raise SystemExit(f"{error.name} is not installed: python -m pip install numpy scipy MulensModel")

    sets = load(np)
    n_points = sum(len(s[2]) for s in sets)
    print(f"MOA-2008-BLG-310: {n_points} points in {len(sets)} data sets from {MulensModel.DATA_PATH}")
    for name, band, t, *_ in sets:
        print(f"  {name:28} {len(t):5} points, linear limb darkening c = {C_BY_BAND[band]}")
    max_trials = 12 if args.quick else None

    ours = VelmoraModel(np, sets)
    best, seconds, _ = fit(ours.residuals, max_trials)
    rows = [("velmora", best, 0.0, ours.seconds / ours.evaluations, seconds, ours.evaluations)]
    chi2 = float(np.sum(ours.residuals(best) ** 2))
    rows[0] = rows[0][:2] + (chi2,) + rows[0][3:]
    exact = VelmoraModel(np, sets)
    exact_best, exact_seconds, _ = fit(exact.residuals, max_trials, exact.jacobian)
    exact_residuals, exact_gradients = exact.evaluations, exact.gradients
    exact_calls = exact_residuals + exact_gradients
    exact_row = ("velmora, analytic Jacobian", exact_best, float(np.sum(exact.residuals(exact_best) ** 2)),
                 exact.seconds / exact_calls, exact_seconds, exact_calls)
    n_finite = int(np.sum(np.hypot(best[1], (ours.times + EPOCH - best[0]) / best[2]) < FS_LIMIT * best[3]))
    chi2_published = float(np.sum(ours.residuals(np.array([PUBLISHED[n] for n in NAMES])) ** 2))

    theirs = None
    if not args.no_mulensmodel_fit:
        theirs = MulensModelFit(np, sets)
        their_best, their_seconds, _ = fit(theirs.residuals, max_trials)
        row = ("MulensModel", their_best, 0.0, theirs.seconds / theirs.evaluations, their_seconds, theirs.evaluations)
        rows.append(row[:2] + (theirs.chi2(their_best),) + row[3:])

    dof = n_points - 4 - 2 * len(sets)
    print(f"\nbest fits ({'--quick: at most 12 trials, not converged; ' if args.quick else ''}"
          f"chi^2 for {dof} degrees of freedom, error bars as published)")
    print(f"{'':14} {'t0 - 2450000':>13} {'u0':>9} {'tE [d]':>8} {'rho':>9} {'t* [d]':>8} {'chi^2':>9}"
          f" {'ms/eval':>8} {'fit [s]':>8} {'evals':>6}")
    pub = [PUBLISHED[n] for n in NAMES]
    print(f"{'published':14} {pub[0] - 2450000:13.5f} {pub[1]:9.5f} {pub[2]:8.3f} {pub[3]:9.6f}"
          f" {pub[3] * pub[2]:8.5f} {chi2_published:9.1f}   (chi^2 of velmora's model at the published values)")
    for label, p, c2, per, sec, n in rows:
        print(f"{label:14} {p[0] - 2450000:13.5f} {p[1]:9.5f} {p[2]:8.3f} {p[3]:9.6f} {p[3] * p[2]:8.5f}"
              f" {c2:9.1f} {1e3 * per:8.1f} {sec:8.1f} {n:6}")
    label, p, c2, per, sec, n = exact_row
    print(f"{label}:\n{'':14} {p[0] - 2450000:13.5f} {p[1]:9.5f} {p[2]:8.3f} {p[3]:9.6f} {p[3] * p[2]:8.5f}"
          f" {c2:9.1f} {1e3 * per:8.1f} {sec:8.1f} {n:6}")
    print(f"  the analytic Jacobian: {exact_residuals} residual and {exact_gradients} gradient evaluations"
          f" ({exact_calls} calls in all) against {rows[0][5]} residual evaluations with finite"
          f" differences; largest parameter difference between the two fits {_largest_difference(np, best, exact_best):.1e}"
          " (relative; t0 absolute in days)")
    if theirs is not None:
        p = rows[0][1]
        print(f"MulensModel's chi^2 at velmora's best fit: {theirs.chi2(p):.1f}")
    print(f"ms/eval: the magnification of all {n_points} points (with its gradient, for the analytic Jacobian's"
          f" gradient calls), {n_finite} of them with the finite source"
          f" (within {FS_LIMIT:g} source radii; MulensModel: within t0 ± {T_WINDOW:g} t*, its flux fit included);"
          " evals: model evaluations in the fit, finite-difference Jacobians included")
    window = VelmoraModel(np, sets)
    window.limit = T_WINDOW
    for _ in range(5):
        window.magnification(best)
    print(f"velmora with MulensModel's window (finite source within {T_WINDOW:g} source radii):"
          f" {1e3 * window.seconds / window.evaluations:.1f} ms/eval")

    if _cli.have_matplotlib():
        args.out.mkdir(parents=True, exist_ok=True)
        print(f"\nwrote {plot(np, ours, rows[0][1], args.out)}")


def _largest_difference(np: Any, a: Any, b: Any) -> float:
    """The largest difference of two parameter vectors: t0 in days, the others relative."""
    return float(max(abs(a[0] - b[0]), *(abs(x / y - 1) for x, y in zip(a[1:], b[1:]))))


def plot(np: Any, model: VelmoraModel, p: Any, folder: pathlib.Path) -> pathlib.Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t0, u0, tE, rho = p
    a = model.magnification(p)
    fluxes = model.fluxes(a)
    window = 0.35  # days around t0
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8.0, 6.5), gridspec_kw={"height_ratios": [3, 1.3]})
    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    for k, (name, band, t, flux, sigma, _) in enumerate(model.sets):
        fs, fb = fluxes[k]
        near = np.abs(t - t0) < window
        if not near.any():
            continue
        ak = a[model.bounds[k]:model.bounds[k + 1]][near]
        colour = colours[k % len(colours)]
        top.errorbar(t[near] - t0, (flux[near] - fb) / fs, sigma[near] / fs, fmt=".", ms=3, lw=0.6,
                     color=colour, label=name)
        bottom.errorbar(t[near] - t0, (flux[near] - fb - fs * ak) / fs, sigma[near] / fs, fmt=".", ms=3,
                        lw=0.6, color=colour)
    tt = np.linspace(t0 - window, t0 + window, 2001)
    u = np.hypot(u0, (tt - t0) / tE)
    c = np.full_like(tt, C_BY_BAND["I"])
    top.plot(tt - t0, model.magnification(p, tt, c), color="k", lw=1.2, label="fit: limb-darkened source (I)")
    top.plot(tt - t0, _cli.point_lens(u, np.sqrt), color="0.5", ls="--", lw=1,
             label="point source, same t0, u0, tE")
    top.set_ylim(0, 1.15 * float(np.max(model.magnification(p, tt, c))))
    top.set_ylabel("magnification (F - fb)/fs")
    top.set_title(f"MOA-2008-BLG-310: t0 = {t0 - 2450000:.5f}, u0 = {u0:.5f}, tE = {tE:.2f} d, rho = {rho:.5f}")
    top.legend(fontsize=7, loc="upper right")
    bottom.axhline(0, color="k", lw=0.8)
    bottom.set_ylabel("residual (magnification)")
    bottom.set_xlabel("t - t0 [days]")
    fig.tight_layout()
    path = folder / "mb08310.png"
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


if __name__ == "__main__":
    main()
