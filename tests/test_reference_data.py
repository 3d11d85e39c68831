"""The stored references: every file in tests/data/ written by scripts/make_references.py is
reproduced by its generator on a seeded sample of its rows, and the references' methods agree with
references that share nothing with them.

The sample's seed is the day (UTC) unless VELMORA_REFERENCE_SEED sets it, so that over time every
row is recomputed while any one run stays reproducible: a failure names its seed.
"""
import datetime
import json
import os
import random

import mpmath as mp
import pytest

from _references import (DATA, RECOMPUTE, load_data, radius_integral_mp, ring_average, ring_carlson,
                         ring_mp, stored_law)
from _support import assert_all_ok, rel_err

# mpmath alone: the same on every interpreter and build, so the extra interpreters and the
# sanitizer run (-m "not slow") leave it to the main run.
pytestmark = pytest.mark.slow

SEED = int(os.environ.get("VELMORA_REFERENCE_SEED") or datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d"))
# Rows recomputed per file and run: a few seconds of mpmath each.
SAMPLE = {"power_integrals.json": 3, "flux_map_integrals.json": 1, "many_knot_tables.json": 1,
          "peaked_powers.json": 1, "power_gradients.json": 1, "table_gradients.json": 1,
          "disk_centroid_shifts.json": 2, "centroid_power_integrals.json": 1, "flux_map_centroid_shifts.json": 1}
# The centroid files' rows with the lens within 0.1 of the limb (the radius integral graded toward it)
# or rho >= 1000 (a ring of width 2/rho about the lens) cost 30-60 s each in mpmath: the daily sample
# takes the others (the limb rows are recomputed when the file is
# written, and the functions' limb values are also tested against the uniform disk and for continuity).
SLOW_ROWS = {"centroid_power_integrals.json", "flux_map_centroid_shifts.json"}
GENERATED = sorted(p.name for p in DATA.glob("*.json") if json.loads(p.read_text()).get("generator", "").endswith(
    "make_references.py"))


def test_every_generated_file_is_sampled():
    assert GENERATED and sorted(SAMPLE) == GENERATED, f"files {GENERATED}, sampled {sorted(SAMPLE)}"


@pytest.mark.parametrize("name", GENERATED)
def test_stored_values_are_reproduced(name):
    data, tables, rows = load_data(name)
    candidates = [i for i, row in enumerate(rows) if not (name in SLOW_ROWS and (abs(row["l"] - 1) < 0.1 or row["rho"] >= 1e3))]
    picked = random.Random(f"{SEED}:{name}").sample(candidates, SAMPLE.get(name, 1))
    bad = []
    for i in picked:
        row = rows[i]
        with mp.workdps(30):
            again = RECOMPUTE[data["kind"]](row, tables)
            err = rel_err(again, row["value"])
        if not err <= data["tolerance"]:
            inputs = {k: v for k, v in row.items() if k != "value"}
            bad.append(f"row {i} {inputs}: stored {mp.nstr(row['value'], 20)}, recomputed {mp.nstr(again, 20)},"
                       f" rel err {err:.1e} (seed {SEED})")
    assert_all_ok(bad)


@pytest.mark.parametrize("l,r,rho", [(0.5, 0.3, 0.05), (0.9, 1.0, 1.0), (1.5, 0.7, 10.0), (0.5, 0.50001, 0.05)])
def test_ring_integrands_are_the_ring_average(l, r, rho):
    # The integrand of the radius integrals (Carlson's form) and the Legendre form both against
    # the plain mean of the point-lens magnification around the ring.
    want = ring_average(l, r, rho, dps=25)
    assert rel_err(ring_carlson(l, r, rho), want, dps=25) <= 1e-18
    with mp.workdps(40):
        eps = 1 / mp.mpf(rho)
    assert rel_err(ring_mp(l, r, eps), want, dps=25) <= 1e-18


@pytest.mark.parametrize("l,rho", [(0.5, 0.05), (1.5, 1.0)])
def test_law_reference_is_the_disk_average(l, rho):
    # The stored law against the law-weighted mean of the point-lens magnification over the disk,
    # as rings of the plain average (no elliptic integral), at 10 digits.
    with mp.workdps(10):
        law = lambda r: 1 - mp.mpf(0.6) * (1 - mp.sqrt(1 - r * r))
        # (nodes within 1e-9 of r = l round onto the lens at 10 digits, where the ring magnification
        # is infinite: they get no weight, which changes the integral by ~1e-8 relative)
        brute = mp.quad(lambda r: 2 * mp.pi * r * law(r) * ring_average(l, r, rho, dps=10) if abs(r - l) > 1e-9 else 0,
                        [0, l, 1] if l < 1 else [0, 1], maxdegree=4) / (mp.mpf(0.8) * mp.pi)
    assert rel_err(stored_law(l, rho), brute) <= 1e-7


def test_radius_integral_of_a_uniform_disk_is_the_closed_form():
    # J_0 = π·W: the quadrature of the references against the 60-digit closed form (measured: within
    # 7e-17, the quadrature's own error at 20 digits).
    from _references import disk_mp
    for l, rho in [(0.3, 0.05), (2.0, 10.0)]:
        assert rel_err(radius_integral_mp(l, rho, lambda r: 1) / mp.pi, disk_mp(l, rho)) <= 1e-15, (l, rho)


@pytest.mark.parametrize("l,rho", [(0.5, 0.05), (2.0, 1.0)])
def test_centroid_reference_is_the_disk_integral(l, rho):
    # The boundary integrals of the stored centroid shifts against the plain two-dimensional
    # integral of their definition over the disk, at 15 digits.
    from _references import disk_centroid_shift_2d, disk_centroid_shift_mp
    assert rel_err(disk_centroid_shift_mp(l, rho, dps=30), disk_centroid_shift_2d(l, rho, dps=15), dps=15) <= 1e-13


def _small_source_script():
    """The generator's functions (run as a module, not as a script: nothing is written) and the
    header it writes."""
    import pathlib
    import runpy
    import types
    path = pathlib.Path(__file__).resolve().parents[1] / "scripts" / "small_source_series.py"
    script = types.SimpleNamespace(**runpy.run_path(str(path), run_name="small_source_series"))
    return script, path.parents[1] / "src" / "models" / "small_source_series.hpp"


def test_small_source_header_is_its_script_output():
    script, header = _small_source_script()
    assert script.render() == header.read_text(), "src/models/small_source_series.hpp: run scripts/small_source_series.py"


@pytest.mark.parametrize("p,j,l", [(0, 0, 0.3), (1, 3, 0.0), (2, 10, 0.7), (8, 5, 1.0), (3, 0, 0.95), (7, 2, 0.5),
                                   (0, 4, 1.5), (1, 10, 2.5), (2, 1, 1.0000001), (3, 6, 3.0), (2, 0, 3.0)])
def test_small_source_forms_are_the_disk_integrals(p, j, l):
    # The script's exact forms of W_j(l) = ∫∫ μ^p |r − l|^(2j−1) d²r (inside the source for l ≤ 1,
    # outside it beyond) against the radius integral of the kernel's ring average in mpmath,
    # max(r, l)^(2j−1)·₂F₁(½ − j, ½ − j; 1; (min/max)²), split at r = l (a log singularity for j = 0).
    script, _ = _small_source_script()
    q = lambda c: mp.mpf(c.numerator) / c.denominator
    poly = lambda cs, m: sum(q(c) * m**i for i, c in enumerate(cs))
    with mp.workdps(30):
        lm = mp.mpf(l)
        m = lm * lm
        if l <= 1:
            form = script.polynomials(p)[j]
            if form[0] == "R":
                got = poly(form[1], m)
            else:
                got = poly(form[1], m) * mp.ellipe(m) + (poly(form[2], m) * (1 - m) * mp.ellipk(m) if l < 1 else 0)
        else:
            first, second, _ = script.outside_polynomials(p)[j]
            z = 1 / m
            if p % 2 == 0:
                got = (poly(first, m) * mp.ellipe(z) + poly(second, m) * m * (1 - z) * mp.ellipk(z)) / lm
            else:
                got = (poly(first, m) * lm * mp.asin(1 / lm) + poly(second, m) * mp.sqrt(1 - z)) / lm
        a = mp.mpf(j) - mp.mpf(1) / 2

        def ring(r):
            big, small = max(r, lm), min(r, lm)
            return big ** (2 * a) * mp.hyp2f1(-a, -a, 1, (small / big) ** 2)

        points = [0, lm, 1] if 0 < l < 1 else [0, 1]
        want = 2 * mp.pi * mp.quad(lambda r: r * (1 - r * r) ** (mp.mpf(p) / 2) * ring(r), points)
    assert rel_err(got, want, dps=30) <= 1e-15, (got, want)
