"""A source described by a brightness table: a limb-darkened star with a dark belt.

The table samples the linear limb-darkening law I(r) = 1 - 0.6(1 - sqrt(1 - r^2)) at 41 radii and
darkens it by 40% between r = 0.55 and 0.75 source radii (a ring of starspots), with linear ramps
over 0.05 on either side. velmora interpolates the table linearly between its knots, so the same
brightness J(r) goes to three functions:

- integrated_flux_map_heyrovsky_magnification: rings integrated over the radius (ring route);
- integrated_flux_map_witt_mao_magnification: concentric uniform disks (disk route);
- discrete_flux_map_heyrovsky_magnification: a plain weighted sum of rings. With 200 rings at the
  midpoints r_k of equal annuli and weights J(r_k)·2π r_k Δr normalised to sum 1, it is the
  midpoint rule for the same integral (least accurate with the lens close to one of the rings).

Prints a table and plots the profile, the magnification and the differences between the three
to flux_map.png in the output folder (needs matplotlib: `python -m pip install matplotlib`, or the
`examples` extra; without it only the table is printed). rstar/re = 0.05.
Usage: python examples/flux_map.py [--out DIR]
"""
from __future__ import annotations

import bisect
import math
import pathlib

import velmora

import _cli  # the shared command line (examples/_cli.py)

RE, RSTAR = 1.0, 0.05
KNOTS = [k / 40 for k in range(41)]
N_RINGS = 200


def law(r: float) -> float:
    return 1.0 - 0.6 * (1.0 - math.sqrt(1.0 - r * r))


def belt(r: float) -> float:
    """Fraction of the dark belt at radius r: 1 on [0.55, 0.75], ramps to 0 at 0.5 and 0.8."""
    return max(0.0, min(1.0, (r - 0.5) / 0.05, (0.8 - r) / 0.05))


BRIGHTNESS = [law(r) * (1.0 - 0.4 * belt(r)) for r in KNOTS]


def table_value(r: float) -> float:
    """The table's brightness at r, interpolated as velmora does (0 outside the knots)."""
    if r < KNOTS[0] or r > KNOTS[-1]:
        return 0.0
    i = min(bisect.bisect_right(KNOTS, r) - 1, len(KNOTS) - 2)
    w = (r - KNOTS[i]) / (KNOTS[i + 1] - KNOTS[i])
    return BRIGHTNESS[i] + w * (BRIGHTNESS[i + 1] - BRIGHTNESS[i])


def ring_weights() -> tuple[list[float], list[float]]:
    """Midpoint-rule rings and weights for (1/N) ∫ 2πr J(r) A_ring(l, r) dr."""
    dr = 1.0 / N_RINGS
    radii = [(k + 0.5) * dr for k in range(N_RINGS)]
    weights = [2.0 * math.pi * r * table_value(r) * dr for r in radii]
    total = sum(weights)
    return radii, [w / total for w in weights]


def magnifications(l: list[float]) -> dict[str, list[float]]:
    radii, weights = ring_weights()
    return {
        "law": velmora.integrated_heyrovsky_magnification(l, RE, RSTAR),
        "ring": velmora.integrated_flux_map_heyrovsky_magnification(l, RE, RSTAR, KNOTS, BRIGHTNESS),
        "disk": velmora.integrated_flux_map_witt_mao_magnification(l, RE, RSTAR, KNOTS, BRIGHTNESS),
        "sum": velmora.discrete_flux_map_heyrovsky_magnification(l, RE, RSTAR, radii, weights),
    }


def print_table() -> None:
    l = [0.0, 0.2, 0.4, 0.52, 0.65, 0.78, 0.9, 0.99, 1.01, 1.2, 1.6, 2.4]
    m = magnifications(l)
    print(f"rstar/re = {RSTAR / RE}; l in source radii; belt: 40% darker for 0.55 <= r <= 0.75")
    print(f"{'l':>5} {'plain law':>10} {'belted ring':>11} {'belted disk':>11} {'200-ring sum':>12}"
          f" {'belted/plain':>12} {'disk-ring':>9} {'sum-ring':>9}")
    for i, li in enumerate(l):
        ring = m["ring"][i]
        print(f"{li:5.2f} {m['law'][i]:10.4f} {ring:11.4f} {m['disk'][i]:11.4f} {m['sum'][i]:12.4f}"
              f" {ring / m['law'][i]:12.4f} {(m['disk'][i] - ring) / ring:9.1e} {(m['sum'][i] - ring) / ring:9.1e}")


def plot(folder: pathlib.Path) -> pathlib.Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np

    l = np.linspace(0.0, 2.0, 161) + 1e-3  # stays off the knots and the rings
    m = {name: np.asarray(values) for name, values in magnifications(l.tolist()).items()}
    r = np.linspace(0.0, 1.0, 501)

    fig, (profile, curve, diff) = plt.subplots(1, 3, figsize=(13.0, 4.0))
    profile.plot(r, [law(x) for x in r], color="0.5", ls="--", label="plain law")
    profile.plot(r, [table_value(x) for x in r], color="tab:purple", label="table (linear between knots)")
    profile.plot(KNOTS, BRIGHTNESS, ".", color="tab:purple")
    profile.set_xlabel("radius on the source r [source radii]")
    profile.set_ylabel("brightness")
    profile.set_ylim(0.0, 1.05)
    profile.legend(loc="lower left")
    profile.set_title("source profile")

    curve.plot(l, m["law"], color="0.5", ls="--", label="plain law")
    curve.plot(l, m["ring"], color="tab:purple", label="belted source")
    curve.set_xlabel("lens position l [source radii]")
    curve.set_ylabel("magnification")
    twin = curve.twinx()
    twin.plot(l, m["ring"] / m["law"], color="tab:green", lw=1, label="belted / plain (right axis)")
    twin.set_ylabel("belted / plain", color="tab:green")
    # one legend for both axes, drawn on the twin so that no curve is drawn over it
    handles = curve.get_legend_handles_labels()[0] + twin.get_legend_handles_labels()[0]
    twin.legend(handles, [h.get_label() for h in handles], loc="upper right", fontsize=8)
    curve.set_title(f"magnification, rstar/re = {RSTAR / RE:g}")

    tiny = 1e-17  # keeps exact agreement on the log scale
    diff.semilogy(l, np.abs(m["disk"] / m["ring"] - 1) + tiny, color="tab:blue", label="disk route")
    diff.semilogy(l, np.abs(m["sum"] / m["ring"] - 1) + tiny, color="tab:orange",
                  label=f"{N_RINGS}-ring sum (midpoint rule)")
    diff.set_xlabel("lens position l [source radii]")
    diff.set_ylabel("|relative difference| to the ring route")
    diff.set_ylim(1e-18, 1e2)  # room above the curves for the legend
    diff.legend(loc="upper right", fontsize=8)
    diff.set_title("routes compared")

    fig.tight_layout()
    path = folder / "flux_map.png"
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return path


if __name__ == "__main__":
    _cli.main(__doc__, "flux_map.png", print_table, plot)
