"""The command line the plotting examples share: print the table, then, with matplotlib, write the
plot into the folder given by --out."""
from __future__ import annotations

import argparse
import pathlib
from typing import Callable


def main(doc: str | None, plot_name: str, print_table: Callable[[], None],
         plot: Callable[[pathlib.Path], pathlib.Path]) -> None:
    parser = argparse.ArgumentParser(description=doc.splitlines()[0] if doc else None)
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("."),
                        help=f"folder for {plot_name} (default: the current folder)")
    args = parser.parse_args()
    print_table()
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("\nmatplotlib is not installed, so no plot: python -m pip install matplotlib"
              " (from the source tree: python -m pip install '.[examples]')")
        return
    args.out.mkdir(parents=True, exist_ok=True)
    print(f"\nwrote {plot(args.out)}")
