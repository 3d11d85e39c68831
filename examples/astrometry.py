"""Astrometric light curve of a single-lens event whose source crosses the lens.

Event: t0 = 0 d, u0 = 0.02, tE = 20 d, rho = 0.05, as in examples/light_curve.py. The lens is dark;
the centroid of the light of both images moves away from the source's position. velmora gives that
shift along the axis from the lens to the source centre (positive away from the lens), in Einstein
radii: u/(u^2 + 2) for a point source, witt_mao_centroid_shift for a uniform disk and
integrated_law_heyrovsky_centroid_shift for a limb-darkened one (linear law, coefficient 0.6, as
powers (0, 1) with weights (0.4, 0.6)). On the sky the shift is that length times the unit vector
from the lens to the source, (tau, u0)/u with tau = (t - t0)/tE along the lens's motion; the
centroid seen from the lens is u + shift along the same vector. Multiplied by the angular Einstein
radius it is the astrometric signal in the sky's units.

Prints a table of the shift and the magnification of the three sources, and plots the shift against
time, the centroid's track on the sky and the magnifications to astrometry.png in the output folder
(the plot needs matplotlib; without it only the table is printed).
Usage: python examples/astrometry.py [--out DIR]
"""
from __future__ import annotations

import math
import pathlib

import velmora

import _cli  # the shared command line (examples/_cli.py)

T0, U0, TE, RHO = 0.0, 0.02, 20.0, 0.05  # days, Einstein radii, days, Einstein radii
HALF_WIDTH = 3.0 * RHO * TE  # t0 ± 3 source-radius crossing times
LINEAR = ([0.0, 1.0], [0.4, 0.6])  # I = 1 - 0.6(1 - mu): powers of mu and their weights


def point_shift(u: float) -> float:
    """The centroid shift of a point source, u/(u^2 + 2) Einstein radii away from the lens."""
    return u / (u * u + 2.0)


def print_table() -> None:
    times = [T0 + HALF_WIDTH * (k / 6.0 - 1.0) for k in range(13)]
    u = [math.hypot(U0, (t - T0) / TE) for t in times]
    l = [x / RHO for x in u]  # source radii
    uniform = velmora.witt_mao_centroid_shift(l, 1.0, RHO)
    limb = velmora.integrated_law_heyrovsky_centroid_shift(l, 1.0, RHO, *LINEAR)
    a_uniform = velmora.witt_mao_magnification(l, 1.0, RHO)
    a_limb = velmora.integrated_law_heyrovsky_magnification(l, 1.0, RHO, *LINEAR)
    print(f"t0 = {T0} d, u0 = {U0}, tE = {TE} d, rho = {RHO}; shift in Einstein radii, away from the lens;"
          " A = magnification")
    print(f"{'t [d]':>7} {'u':>7} {'shift point':>11} {'uniform':>9} {'limb':>9} {'A point':>9} {'A uniform':>9}"
          f" {'A limb':>9}")
    for t, ui, su, sl, au, al in zip(times, u, uniform, limb, a_uniform, a_limb):
        print(f"{t:7.2f} {ui:7.4f} {point_shift(ui):11.5f} {su:9.5f} {sl:9.5f} {_cli.point_lens(ui):9.3f}"
              f" {au:9.3f} {al:9.3f}")


def plot(folder: pathlib.Path) -> pathlib.Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np

    t = np.linspace(T0 - HALF_WIDTH, T0 + HALF_WIDTH, 1201)
    tau = (t - T0) / TE
    u = np.hypot(U0, tau)
    l = u / RHO
    shifts = {
        "point source": (u / (u * u + 2.0), "0.5", "--"),
        "uniform disk": (np.asarray(velmora.witt_mao_centroid_shift(l, 1.0, RHO)), "tab:blue", "-"),
        "limb-darkened disk (linear, 0.6)": (
            np.asarray(velmora.integrated_law_heyrovsky_centroid_shift(l, 1.0, RHO, *LINEAR)), "tab:red", "-"),
    }
    magnifications = {
        "point source": _cli.point_lens(u, np.sqrt),
        "uniform disk": np.asarray(velmora.witt_mao_magnification(l, 1.0, RHO)),
        "limb-darkened disk (linear, 0.6)": np.asarray(
            velmora.integrated_law_heyrovsky_magnification(l, 1.0, RHO, *LINEAR)),
    }

    fig = plt.figure(figsize=(10.0, 6.5))
    grid = fig.add_gridspec(2, 2, width_ratios=[3, 2], height_ratios=[3, 2])
    along, track, light = fig.add_subplot(grid[0, 0]), fig.add_subplot(grid[:, 1]), fig.add_subplot(grid[1, 0])
    for name, (shift, colour, style) in shifts.items():
        along.plot(t, shift, color=colour, ls=style, label=name)
        # On the sky: the shift along the unit vector from the lens to the source, (tau, u0)/u.
        track.plot(shift * tau / u, shift * U0 / u, color=colour, ls=style, label=name)
        light.plot(t, magnifications[name], color=colour, ls=style, label=name)
    edge = TE * math.sqrt(RHO * RHO - U0 * U0)  # the lens crosses the limb at t0 ± edge
    for ax in (along, light):
        for x in (T0 - edge, T0 + edge):
            ax.axvline(x, color="0.7", ls=":", lw=1)
    along.set_ylabel("centroid shift [Einstein radii]")
    along.set_title(f"astrometric shift: t0 = {T0:g} d, u0 = {U0:g}, tE = {TE:g} d, rho = {RHO:g}")
    along.legend(loc="upper right", fontsize=8)
    light.set_ylabel("magnification A")
    light.set_xlabel("t − t0 [days]   (dotted: the lens crosses the source's limb)")
    track.set_xlabel("shift along the lens's motion [θE]")
    track.set_ylabel("shift across it [θE]")
    track.set_title("the centroid's track on the sky\n(axes not to scale)")
    track.locator_params(axis="x", nbins=5)
    track.axhline(0.0, color="0.8", lw=0.8)
    track.axvline(0.0, color="0.8", lw=0.8)
    fig.tight_layout()
    path = folder / "astrometry.png"
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


if __name__ == "__main__":
    _cli.main(__doc__, "astrometry.png", print_table, plot)
