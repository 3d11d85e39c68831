"""A lens crossing a source star: uniform vs limb-darkened magnification.

The lens passes through the centre of a source of radius rstar = 0.05 Einstein radii. For each
lens position l (in source radii) the table shows the point-source magnification, the uniform
disk, and the limb-darkened disk (linear law, coefficient 0.6) computed by both integration
routes, plus a flux-map source that is dark beyond r = 0.7.

Sequences in, lists out: `l` may be any sequence of numbers, a NumPy array too, and the results are
lists of floats (with NumPy: `np.asarray(velmora.witt_mao_magnification(np.linspace(0, 4, 9), RE, RSTAR))`).
Usage: python examples/quickstart.py
"""
import math

import velmora

from _cli import point_lens  # A(u) of a point source (examples/_cli.py)

RE, RSTAR = 1.0, 0.05
positions = [0.0, 0.25, 0.5, 0.75, 0.9, 1.0, 1.1, 1.5, 2.0, 4.0]


uniform = velmora.witt_mao_magnification(positions, RE, RSTAR)
ring_route = velmora.integrated_heyrovsky_magnification(positions, RE, RSTAR)
disk_route = velmora.integrated_witt_mao_magnification(positions, RE, RSTAR)
radii = [0.0, 0.35, 0.7]
fluxes = [1.0, 0.9, 0.5]
spot = velmora.integrated_flux_map_heyrovsky_magnification(positions, RE, RSTAR, radii, fluxes)

print(f"rstar/re = {RSTAR / RE}; l in source radii")
print(f"{'l':>5} {'point':>10} {'uniform':>10} {'limb (ring)':>12} {'limb (disk)':>12} {'r<0.7 map':>10}")
for row in zip(positions, uniform, ring_route, disk_route, spot):
    l, a_uni, a_ring, a_disk, a_map = row
    a_point = point_lens(l * RSTAR / RE) if l > 0 else math.inf  # infinite with the lens on the source centre
    print(f"{l:5.2f} {a_point:10.4f} {a_uni:10.4f} {a_ring:12.4f} {a_disk:12.4f} {a_map:10.4f}")

print()
print("ring magnification A(l = 0.5, r) for rings across the source:")
for r in [0.1, 0.3, 0.49, 0.51, 0.7, 1.0]:
    print(f"  r = {r:4.2f}: {velmora.heyrovsky_magnification(0.5, r, RE, RSTAR):10.4f}")
