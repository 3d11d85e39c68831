"""Light curve of a single-lens event whose source crosses the lens.

Event: t0 = 0 d, u0 = 0.02, tE = 20 d, rho = 0.05 (source radius in Einstein radii). The lens
passes 0.4 source radii from the source centre, so it is inside the source for about 1.8 days.
The lens-source separation is u(t) = sqrt(u0^2 + ((t - t0)/tE)^2) Einstein radii; velmora takes
it in source radii, l = u/rho, with re = 1 and rstar = rho.

Prints a table of the point-source, uniform-disk and limb-darkened (linear law, coefficient 0.6)
magnifications and their ratio to the point source, and plots the light curves to light_curve.png
in the output folder. The plot needs matplotlib (`python -m pip install matplotlib`, or the
`examples` extra: `python -m pip install '.[examples]'`); without it only the table is printed.
Usage: python examples/light_curve.py [--out DIR]
"""
from __future__ import annotations

import math
import pathlib

import velmora

import _cli  # the shared command line (examples/_cli.py)

T0, U0, TE, RHO = 0.0, 0.02, 20.0, 0.05  # days, Einstein radii, days, Einstein radii
HALF_WIDTH = 3.0 * RHO * TE  # the plot spans t0 ± 3 source-radius crossing times


def separation(t: float) -> float:
    """Lens-source separation in Einstein radii."""
    return math.hypot(U0, (t - T0) / TE)


def print_table() -> None:
    times = [T0 + HALF_WIDTH * (k / 6.0 - 1.0) for k in range(13)]
    u = [separation(t) for t in times]
    l = [x / RHO for x in u]  # source radii
    uniform = velmora.witt_mao_magnification(l, 1.0, RHO)
    limb = velmora.integrated_heyrovsky_magnification(l, 1.0, RHO)
    print(f"t0 = {T0} d, u0 = {U0}, tE = {TE} d, rho = {RHO}; A = magnification")
    print(f"{'t [d]':>7} {'u':>7} {'l = u/rho':>9} {'A point':>9} {'A uniform':>9} {'A limb':>9}"
          f" {'uniform/point':>13} {'limb/point':>10}")
    for row in zip(times, u, l, uniform, limb):
        t, ui, li, a_uniform, a_limb = row
        a_point = _cli.point_lens(ui)
        print(f"{t:7.2f} {ui:7.4f} {li:9.3f} {a_point:9.4f} {a_uniform:9.4f} {a_limb:9.4f}"
              f" {a_uniform / a_point:13.4f} {a_limb / a_point:10.4f}")


def plot(folder: pathlib.Path) -> pathlib.Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np

    t = np.linspace(T0 - HALF_WIDTH, T0 + HALF_WIDTH, 1201)
    u = np.hypot(U0, (t - T0) / TE)
    point = _cli.point_lens(u, np.sqrt)
    # A NumPy array goes in as it is; the result is a list, np.asarray makes it an array.
    uniform = np.asarray(velmora.witt_mao_magnification(u / RHO, 1.0, RHO))
    limb = np.asarray(velmora.integrated_heyrovsky_magnification(u / RHO, 1.0, RHO))

    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(7.0, 6.0),
                                      gridspec_kw={"height_ratios": [3, 2]})
    top.plot(t, point, color="0.5", ls="--", label="point source")
    top.plot(t, uniform, color="tab:blue", label="uniform disk")
    top.plot(t, limb, color="tab:red", label="limb-darkened disk (linear, 0.6)")
    top.set_ylabel("magnification A")
    top.set_ylim(0.0, 1.1 * float(point.max()))
    top.legend(loc="upper right")
    top.set_title(f"single lens: t0 = {T0:g} d, u0 = {U0:g}, tE = {TE:g} d, rho = {RHO:g}")
    bottom.axhline(1.0, color="0.5", ls="--", lw=1)
    bottom.plot(t, uniform / point, color="tab:blue", label="uniform / point")
    bottom.plot(t, limb / point, color="tab:red", label="limb-darkened / point")
    edge = TE * math.sqrt(RHO * RHO - U0 * U0)  # the lens crosses the limb at t0 ± edge
    for x in (T0 - edge, T0 + edge):
        for ax in (top, bottom):
            ax.axvline(x, color="0.7", ls=":", lw=1)
    bottom.set_xlabel("t − t0 [days]   (dotted: the lens crosses the source's limb)")
    bottom.set_ylabel("ratio to point source")
    bottom.legend(loc="lower right")
    fig.tight_layout()
    path = folder / "light_curve.png"
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


if __name__ == "__main__":
    _cli.main(__doc__, "light_curve.png", print_table, plot)
