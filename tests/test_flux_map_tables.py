"""Flux-map tables read by bisection: the integrated flux maps give, bit for bit, the results that
the build before it (a linear scan of the knots per piece and per point) recorded on awkward
tables, and the table search picks the segment that the scan of the definition picks.

tests/data/flux_map_tables.json comes from scripts/record_flux_map_tables.py run with that
build; it holds the tables and lens positions too, as float.hex(). A deliberate change of the
quadrature changes these bits: re-record the file with the build that makes the change.
"""
import json
import math
import pathlib
import random

import numpy as np
import pytest

from _kernels import load

K = load()
import velmora
from test_numerics import MODES, check

RECORDED = json.loads((pathlib.Path(__file__).parent / "data" / "flux_map_tables.json").read_text())
LS = [float.fromhex(x) for x in RECORDED["l"]]
ROUTES = {"ring": velmora.integrated_flux_map_heyrovsky_magnification,
          "disk": velmora.integrated_flux_map_witt_mao_magnification}


def bits(v):
    """A double's exact value as text; every NaN alike, -0.0 apart from 0.0."""
    return "nan" if math.isnan(v) else float(v).hex()


@pytest.mark.parametrize("case", RECORDED["cases"], ids=[c["name"] for c in RECORDED["cases"]])
def test_integrated_flux_maps_match_recorded_build(case):
    bl = [float.fromhex(x) for x in case["bl"]]
    bf = [float.fromhex(x) for x in case["bf"]]
    bad = []
    for result in case["results"]:
        rho = float.fromhex(result["rho"])
        for route, fn in ROUTES.items():
            want = result[route]
            try:
                got = [bits(v) for v in fn(LS, 1.0, rho, bl, bf)]
            except Exception as error:  # noqa: BLE001 - compared with a recorded error
                got = f"{type(error).__name__}: {error}"
            if isinstance(want, str) or isinstance(got, str):
                if got != want:
                    bad.append((route, rho, got, want))
                continue
            for l, g, w in zip(LS, got, want):
                if g != ("nan" if w == "nan" else float.fromhex(w).hex()):
                    bad.append((route, rho, l, float.fromhex(g) if g != "nan" else g,
                                float.fromhex(w) if w != "nan" else w))
    check(bad, "results (route, rho, l, got, recorded)")


# ---------------------------------------------------------------- the search, from its definition
def scan_segment(xs, m, x):
    """Segment index by the scan: k leading entries of the whole of xs strictly below x (stop at
    the first that is not, NaN included), the segment ending there, capped at m - 2."""
    k = 0
    while k < len(xs) and x > xs[k]:
        k += 1
    return min(k - 1 if k >= 1 else 0, m - 2)


def scan_value(xs, ys, x, mode, fill):
    m = min(len(xs), len(ys))
    if m == 1:
        return ys[0]
    if m == 0:
        return 0.0
    j = scan_segment(xs, m, x)
    f = np.float64
    with np.errstate(all="ignore"):
        s = (f(ys[j + 1]) - f(ys[j])) / (f(xs[j + 1]) - f(xs[j]))
        u = float(s * f(x) + (f(ys[j]) - f(xs[j]) * s))
    if mode != "linear":
        if x < xs[0]:
            return ys[0] if mode == "clamp" else fill
        if x > xs[m - 1]:
            return ys[m - 1] if mode == "clamp" else fill
    return u


SPECIAL = [math.nan, math.inf, -math.inf, 0.0, -0.0, 0.5, 1.0, -1.0, 2.0]


def random_table(rng):
    """Knots in any order, with repeats, NaN and infinities, and columns of unequal lengths."""
    n = rng.randrange(0, 26)
    pool = [rng.choice(SPECIAL) for _ in range(3)] + [round(rng.uniform(-1.5, 2.5), 2) for _ in range(4)]
    xs = [rng.choice(pool) if rng.random() < 0.6 else rng.uniform(-2.0, 3.0) for _ in range(n)]
    if rng.random() < 0.3:
        xs.sort()  # sorting with NaN inside leaves them wherever the sort puts them
    ys = [rng.uniform(-5.0, 5.0) for _ in range(max(0, n + rng.randrange(-2, 3)))]
    points = SPECIAL + [rng.uniform(-3.0, 4.0) for _ in range(10)]
    for x in xs:
        points += [x, math.nextafter(x, -math.inf), math.nextafter(x, math.inf)]
    return xs, ys, points


@pytest.mark.parametrize("seed", range(4))
def test_table_search_is_the_scan(seed):
    rng = random.Random(seed)
    bad = []
    for _ in range(400):
        xs, ys, points = random_table(rng)
        m = min(len(xs), len(ys))
        for mode in MODES:
            values, indices = K.table_interp(xs, ys, points, mode, -3.0)
            for x, got, index in zip(points, values, indices):
                want = scan_value(xs, ys, x, mode, -3.0)
                want_index = scan_segment(xs, m, x) if m >= 2 else None
                scanned = K.interp(xs, ys, x, mode, -3.0)
                if index != want_index or bits(got) != bits(want) or bits(scanned) != bits(want):
                    bad.append((xs, ys, x, mode, index, want_index, got, scanned, want))
    check(bad, "points (xs, ys, x, mode, index, scan index, table value, interp value, scan value)")


@pytest.mark.parametrize("xs, ys, cases", [
    # more xs than ys: the search runs over all of xs, the index is capped at m - 2 = 1
    ([0.0, 1.0, 2.0, 3.0, 4.0], [0.0, 10.0, 40.0], {2.5: 1, 3.5: 1, 9.0: 1, 0.5: 0, -1.0: 0}),
    # a NaN stops the search where it stands: nothing after it counts
    ([0.0, math.nan, 0.5, 1.0], [1.0, 2.0, 3.0, 4.0], {0.7: 0, 2.0: 0, -1.0: 0, 0.0: 0}),
    ([0.0, 0.5, 1.0, math.nan], [1.0, 2.0, 3.0, 4.0], {0.7: 1, 2.0: 2, math.inf: 2, math.nan: 0}),
    # descending knots: the search stops at the first unless the point is above them all
    ([3.0, 2.0, 1.0, 0.0], [1.0, 2.0, 3.0, 4.0], {0.5: 0, 2.5: 0, 3.0: 0, 3.5: 2}),
    # 1.5 stops at 2.0, although 1.0 after it is below
    ([0.0, 2.0, 1.0, 3.0], [1.0, 2.0, 3.0, 4.0], {0.5: 0, 1.5: 0, 2.0: 0, 2.5: 2, 9.0: 2}),
    # an infinite knot stops every finite point, and +inf itself
    ([0.0, math.inf, 1.0], [1.0, 2.0, 3.0], {0.5: 0, 5.0: 0, math.inf: 0}),
    ([0.0, 0.0, 0.0], [1.0, 2.0, 3.0], {0.0: 0, 1e-300: 1, -0.0: 0}),
])
def test_table_search_edge_cases(xs, ys, cases):
    _, indices = K.table_interp(xs, ys, list(cases), "linear")
    bad = [(x, got, want) for (x, want), got in zip(cases.items(), indices) if got != want]
    check(bad, "segment indices (x, got, want)")


def test_profile_lookup_in_a_large_shuffled_table():
    # A 10^5-knot table in random order with a few NaN, at 2000 points: bisection against
    # numpy's vectorised form of the scan (the first index where x > xs fails).
    rng = np.random.default_rng(16)
    xs = rng.uniform(0.0, 1.0, 100_000)
    xs[rng.integers(0, len(xs), 5)] = np.nan
    ys = rng.uniform(0.0, 1.0, len(xs))
    points = np.concatenate([rng.uniform(-0.1, 1.1, 2000), xs[:50]])
    _, indices = K.table_interp(xs.tolist(), ys.tolist(), points.tolist(), "fill")
    bad = []
    for x, got in zip(points, indices):
        stops = np.flatnonzero(~(x > xs))
        k = int(stops[0]) if len(stops) else len(xs)
        want = min(max(k - 1, 0), len(xs) - 2)
        if got != want:
            bad.append((float(x), got, want))
    check(bad, "segment indices (x, got, want)")
