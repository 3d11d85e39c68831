"""Records the integrated flux-map results on a fixed set of awkward tables, so that a rewrite of
how the table is searched can be checked bit for bit against the build that recorded them.

    python scripts/record_flux_map_tables.py [OUT]   (default tests/data/flux_map_tables.json)

Run it with the build to record from importable as `velmora`. Every double is stored as
float.hex(), tables included, so the file replays exactly whatever generates it.
"""
import json
import math
import pathlib
import random
import sys

import velmora

NAN = math.nan
RHOS = (0.05, 1.0)
# Lens positions: the centre, inside, on knots that many tables share, the limb, outside.
# NaN last: it falls through every test of the split points.
LS = [0.0, 0.05, 0.25, 0.3, 0.5, 0.7, 0.99, 1.0, 1.2, 3.0, 25.0, NAN]


def law(r):
    return 1 - 0.6 * (1 - math.sqrt(1 - r * r)) if 0 <= r <= 1 else 0.3


def tables():
    rng = random.Random(16)
    even = [k / 20 for k in range(21)]
    yield "ordered, 21 even knots", even, [law(r) for r in even]
    uneven = sorted(rng.uniform(0, 1) for _ in range(40))
    yield "ordered, 40 random knots", uneven, [rng.uniform(0, 2) for _ in uneven]
    wide = [k / 999 for k in range(1000)]
    yield "ordered, 1000 knots", wide, [law(r) + 0.01 * math.sin(40 * r) for r in wide]
    shuffled = even[:]
    rng.shuffle(shuffled)
    yield "unordered, 21 knots shuffled", shuffled, [law(r) for r in shuffled]
    yield "unordered, descending (empty range)", even[::-1], [law(r) for r in even]
    yield "unordered, zigzag", [0.0, 0.6, 0.2, 0.8, 0.4, 1.0], [1.0, 0.5, 0.9, 0.3, 0.7, 0.2]
    swap = [0.0, 0.2, 0.5, 0.4, 0.6, 1.0]
    yield "unordered, one swapped pair", swap, [1.0, 0.9, 0.7, 0.8, 0.6, 0.5]
    messy = [rng.choice([0.1, 0.3, 0.5, 0.7, 0.9]) + rng.choice([0.0, 0.0, 1e-3]) for _ in range(60)]
    yield "unordered, 60 knots with repeats", messy, [rng.uniform(0, 1) for _ in messy]
    many = [-0.2] + [rng.uniform(-0.2, 1.2) for _ in range(298)] + [1.2]
    yield "unordered, 300 knots, some outside", many, [rng.uniform(0, 1) for _ in many]
    yield "repeated knot (a jump)", [0.0, 0.3, 0.3, 0.6, 1.0], [1.0, 0.9, 0.5, 0.4, 0.2]
    yield "repeated knots, three at 0.5", [0.0, 0.5, 0.5, 0.5, 1.0], [1.0, 0.8, 0.6, 0.4, 0.2]
    yield "repeated end knots", [0.0, 0.0, 0.5, 1.0, 1.0], [2.0, 1.0, 0.8, 0.6, 0.1]
    yield "knots outside [0, 1]", [-0.5, 0.2, 0.7, 1.5], [0.2, 1.0, 0.6, 0.1]
    yield "table ending inside the disk", [0.1, 0.4, 0.8], [1.0, 0.7, 0.3]
    yield "table wholly outside the disk", [1.5, 2.0], [1.0, 1.0]
    yield "NaN knot inside", [0.0, 0.4, NAN, 0.8, 1.0], [1.0, 0.9, 0.8, 0.7, 0.6]
    yield "NaN first knot", [NAN, 0.3, 0.6, 1.0], [1.0, 0.9, 0.8, 0.7]
    yield "NaN last knot", [0.0, 0.5, NAN], [1.0, 0.6, 0.3]
    yield "one knot", [0.5], [2.0]
    yield "two knots, uniform", [0.0, 1.0], [1.0, 1.0]
    yield "empty", [], []


def outcome(fn, l, rho, bl, bf):
    try:
        return [v.hex() for v in fn(l, 1.0, rho, bl, bf)]
    except Exception as error:  # noqa: BLE001 - a raised error is recorded as the result
        return f"{type(error).__name__}: {error}"


def main():
    default = pathlib.Path(__file__).resolve().parents[1] / "tests" / "data" / "flux_map_tables.json"
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else default
    cases = []
    for name, bl, bf in tables():
        results = [{"rho": rho.hex(),
                    "ring": outcome(velmora.integrated_flux_map_heyrovsky_magnification, LS, rho, bl, bf),
                    "disk": outcome(velmora.integrated_flux_map_witt_mao_magnification, LS, rho, bl, bf)}
                   for rho in RHOS]
        cases.append({"name": name, "bl": [x.hex() for x in bl], "bf": [x.hex() for x in bf], "results": results})
    out.write_text(json.dumps({"l": [x.hex() for x in LS], "cases": cases}) + "\n")
    print(f"{len(cases)} cases written to {out}")


if __name__ == "__main__":
    main()
