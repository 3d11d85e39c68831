"""The pages' numbers are what their scripts print now.

Every block of README.md and docs/*.md between a line `<!-- table: COMMAND -->` and a line
`<!-- end table -->` (a Markdown table, or a fenced block of plain output) is what COMMAND prints: each test runs one
command with the velmora under test and compares its output with the block line by line, so a
number goes stale the moment the code, a reference or a peer changes it. The commands are the
fast forms of the scripts (their --quick, or a script that takes seconds), chosen so that this file
stays a small part of the suite. Timing tables are not marked: they change from run to run.

A block of the peers' errors (benchmarks/validate.py) names the versions of MulensModel and
VBMicrolensing it was made with; with other versions installed only velmora's rows are compared
and the test says so in its skip reason.

Also checked: the README keeps its two commands word for word (CI runs them as written) and names
the licence; every page of docs/ is linked from the README; every relative link and image of the
pages points at a file of the tree.
"""
import difflib
import re
import shlex

import pytest

import _kernels
from _support import ROOT, run_child, scaled
from test_benchmarks import missing

# The pages hold one build's numbers, the same on every interpreter (the values are bit for bit the
# same): the extra interpreters and the sanitizer run (-m "not slow") leave this file to the main run.
pytestmark = pytest.mark.slow

PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
# A marker is a line of its own (a marker quoted inside a sentence is not one).
OPEN = re.compile(r"^<!-- table: ([^\n]+?) -->$", re.M)
BLOCK = re.compile(r"^<!-- table: ([^\n]+?) -->\n(.*?)\n?^<!-- end table -->$", re.S | re.M)
README_COMMANDS = ["python -m pip install . && python examples/quickstart.py",
                   "python -m pip install '.[test]' && python -m pytest"]
# What a block's script needs beyond velmora (a skip, with the reason, where it is missing).
NEEDS = {
    "benchmarks/validate.py": ["MulensModel", "VBMicrolensing", "mpmath"],
    "benchmarks/accuracy_linear_law.py": ["MulensModel", "VBMicrolensing", "mpmath"],
    "benchmarks/accuracy_integrated.py": ["mpmath", "_velmora_kernels"],
    "benchmarks/accuracy_kernels.py": ["mpmath", "numpy", "_velmora_kernels"],
    "benchmarks/accuracy_direct.py": ["mpmath", "numpy"],
    "benchmarks/tiny_sources.py": ["mpmath"],
}
PEERS = re.compile(r"peers: (.*?);")
# The longest runs first, so that worker processes (pytest-xdist) are not left waiting for one at the end.
FIRST = ["benchmarks/validate.py", "benchmarks/accuracy_integrated.py", "benchmarks/accuracy_linear_law.py"]


def blocks():
    """(page, command, the block's lines) for every marked block, fences taken off."""
    found = []
    for page in PAGES:
        for command, body in BLOCK.findall(page.read_text()):
            lines = body.strip("\n").splitlines()
            if lines and lines[0].startswith("```") and lines[-1].startswith("```"):
                lines = lines[1:-1]
            found.append((page.relative_to(ROOT).as_posix(), command, lines))

    def order(block):
        script = (shlex.split(block[1]) + [""])[1]
        return FIRST.index(script) if script in FIRST else len(FIRST)
    return sorted(found, key=order)


BLOCKS = blocks()


def test_every_table_marker_is_closed():
    opened = [(page.relative_to(ROOT).as_posix(), command)
              for page in PAGES for command in OPEN.findall(page.read_text())]
    closed = [(page, command) for page, command, _ in BLOCKS]
    assert opened and sorted(opened) == sorted(closed), (
        f"table markers without their end marker (or none at all): {sorted(set(opened) - set(closed))}")


@pytest.mark.parametrize("page,command,lines", BLOCKS, ids=[f"{p}: {c}" for p, c, _ in BLOCKS])
def test_block_is_what_its_command_prints(page, command, lines, tmp_path):
    words = shlex.split(command)
    assert words[0] == "python" and (ROOT / words[1]).is_file(), f"{page}: not a script of the tree: {command!r}"
    absent = [name for name in NEEDS.get(words[1], []) if missing(name)]
    if absent:
        pytest.skip(f"{words[1]} needs {', '.join(absent)}")
    # The kernel test extension as this session built it, not rebuilt by each script.
    env = {"VELMORA_KERNELS": _kernels._state["folder"]} if "folder" in _kernels._state else {}
    proc = run_child(None, scaled(300, 1800), args=[ROOT / words[1], *words[2:]], cwd=tmp_path, **env)
    assert proc.returncode == 0, f"{command}: exit status {proc.returncode}\n{proc.stderr[-3000:]}"
    printed = proc.stdout.strip("\n").splitlines()
    wanted = [line.rstrip() for line in lines]
    printed = [line.rstrip() for line in printed]
    documented, installed = (PEERS.search("\n".join(text)) for text in (wanted, printed))
    peers_differ = documented and installed and documented.group(1) != installed.group(1)
    if peers_differ:  # compare velmora's rows only
        wanted = [line for line in wanted if line.startswith("| velmora")]
        printed = [line for line in printed if line.startswith("| velmora")]
    diff = list(difflib.unified_diff(wanted, printed, f"{page} (documented)", f"{command} (printed now)", lineterm="",
                                     n=0))
    assert not diff, f"{page}: the block of `{command}` is stale; every changed line:\n" + "\n".join(diff)
    if peers_differ:
        pytest.skip(f"velmora's rows match; the peers' rows were not compared: {page} has {documented.group(1)},"
                    f" this environment {installed.group(1)}")


def test_readme_keeps_its_commands_and_licence():
    text = (ROOT / "README.md").read_text()
    lines = [line.strip() for line in text.splitlines()]
    problems = [f"command not on a line of its own: {c}" for c in README_COMMANDS if c not in lines]
    if "[LICENSE](LICENSE)" not in text:
        problems.append("no link to LICENSE")
    assert not problems, "README.md:\n" + "\n".join(problems)


LINK = re.compile(r"\]\(([^)\s]+)\)")


def test_links_point_at_files():
    bad = []
    for page in PAGES:
        for target in LINK.findall(page.read_text()):
            if re.match(r"[a-z]+:", target) or target.startswith("#"):
                continue  # a web address or an anchor of the page itself
            path = (page.parent / target.split("#")[0]).resolve()
            if not path.exists():
                bad.append(f"{page.relative_to(ROOT)}: {target}")
    assert not bad, "links to missing files:\n" + "\n".join(bad)


def test_every_docs_page_is_linked_from_the_readme():
    text = (ROOT / "README.md").read_text()
    unlinked = [p.name for p in PAGES[1:] if f"](docs/{p.name}" not in text]
    assert not unlinked, f"docs pages the README does not link: {unlinked}"
