"""What the examples share: the point-source magnification they compare with, and the command line
of the plotting examples: print the table, then, with matplotlib, write the plot into the folder
given by --out (by default a folder in the system's temporary directory, so that running an
example leaves nothing in the source tree)."""
from __future__ import annotations

import argparse
import math
import pathlib
import tempfile
from typing import Any, Callable

DEFAULT_OUT = pathlib.Path(tempfile.gettempdir()) / "velmora-examples"


def point_lens(u: Any, sqrt: Callable[[Any], Any] = math.sqrt) -> Any:
    """The point-source magnification A(u) = (u^2 + 2)/(u sqrt(u^2 + 4)), u in Einstein radii: of a
    float, or with the matching sqrt of a NumPy array (np.sqrt) or an mpmath number (mp.sqrt)."""
    return (u * u + 2) / (u * sqrt(u * u + 4))


def add_out_option(parser: argparse.ArgumentParser, plot_name: str) -> None:
    parser.add_argument("--out", type=pathlib.Path, default=DEFAULT_OUT,
                        help=f"folder for {plot_name} (default: {DEFAULT_OUT})")


def have_matplotlib() -> bool:
    """True if matplotlib imports; otherwise says how to get it."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("\nmatplotlib is not installed, so no plot: python -m pip install matplotlib"
              " (from the source tree: python -m pip install '.[examples]')")
        return False
    return True


def main(doc: str | None, plot_name: str, print_table: Callable[[], None],
         plot: Callable[[pathlib.Path], pathlib.Path]) -> None:
    parser = argparse.ArgumentParser(description=doc.splitlines()[0] if doc else None)
    add_out_option(parser, plot_name)
    args = parser.parse_args()
    print_table()
    if not have_matplotlib():
        return
    args.out.mkdir(parents=True, exist_ok=True)
    print(f"\nwrote {plot(args.out)}")
