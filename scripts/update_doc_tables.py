"""Rewrites the marked tables of README.md and docs/*.md with what their commands print now.

A block between a line `<!-- table: COMMAND -->` and a line `<!-- end table -->` holds the output of COMMAND
(`python SCRIPT ARGS`, the script's path from the top of the tree); a block that was a fenced code
block stays one. tests/test_docs.py runs the same commands and fails when a block differs, so run
this after a change that moves a documented number, and read the diff before committing it.

    python scripts/update_doc_tables.py [PAGE ...]   (default: every page; needs what the scripts need:
                                                      the test extras and the peers)
"""
import pathlib
import re
import shlex
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
BLOCK = re.compile(r"^(<!-- table: ([^\n]+?) -->\n)(.*?)(\n?^<!-- end table -->$)", re.S | re.M)  # markers: lines of their own


def output(command):
    words = shlex.split(command)
    if words[0] != "python":
        raise SystemExit(f"not a python command: {command!r}")
    proc = subprocess.run([sys.executable, str(ROOT / words[1]), *words[2:]], capture_output=True, text=True,
                          cwd=ROOT)
    if proc.returncode != 0:
        raise SystemExit(f"{command} failed ({proc.returncode}):\n{proc.stderr[-3000:]}")
    return "\n".join(line.rstrip() for line in proc.stdout.strip("\n").splitlines())


def update(page):
    text = page.read_text()

    def fill(match):
        head, command, body, tail = match.groups()
        fenced = body.lstrip("\n").startswith("```")
        new = output(command)
        print(f"{page.relative_to(ROOT)}: {command}", flush=True)
        return head + (f"```\n{new}\n```" if fenced else new) + "\n<!-- end table -->"

    page.write_text(BLOCK.sub(fill, text))


def main():
    pages = [pathlib.Path(p).resolve() for p in sys.argv[1:]] or [ROOT / "README.md",
                                                                  *sorted((ROOT / "docs").glob("*.md"))]
    for page in pages:
        update(page)


if __name__ == "__main__":
    main()
