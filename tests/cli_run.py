"""How the command-line tests run a command, and what some of them need."""

import importlib.util
import re

import pytest

from kestrova.cli import main


def needs(*modules):
    """Skips a test unless every module it imports is installed: the debug
    interpreter's environment, for one, has no build of scipy to offer."""
    absent = [m for m in modules if importlib.util.find_spec(m) is None]
    return pytest.mark.skipif(bool(absent), reason=f"needs {', '.join(modules)}")


COMPARE = ("particle", "scipy")
NEEDS_COMPARE = [needs(*COMPARE), pytest.mark.numpy]
NAMES = ["constants", "get", "search", "quarks", "ckm", "compare", "plot"]


def run(capsys, argv):
    try:
        status = main(argv)
    except SystemExit as exc:  # argparse's own exits
        status = exc.code
    out, err = capsys.readouterr()
    return status, out, err


def listed(sections):
    """(invocation, help) of each argument and command a --help lists; a help text
    too long for its line goes on at the help column, deeper than any invocation."""
    entries = []
    for section in sections:
        for line in section.splitlines()[1:]:
            if len(line) - len(line.lstrip()) >= 8:
                entries[-1][1].append(line.strip())
            elif line.strip() != "COMMAND":  # the commands' group, whose rows follow
                invocation, _, help = line.strip().partition("  ")
                entries.append((invocation, [help.strip()] if help.strip() else []))
    return [(invocation, " ".join(help)) for invocation, help in entries]


# Names the help texts spell one way wherever they use them.
SPELLED = [
    "CKM matrix",
    "JSON",
    "PDG",
    "CODATA",
    "MeV",
    "SVG",
    "PNG",
    "PDF",
    "Standard-Model",
    "Jarlskog",
    "Particle Data Group",
]


def well_written(text):
    """No shouting (three words in capitals), no slip of the shift key (two
    initial capitals), each sentence begun in capitals, each name as SPELLED."""
    assert not re.search(r"\b[A-Z]{2,}\b(\W+[A-Z]{2,}\b){2}", text), text
    assert not re.search(r"\b[A-Z]{2,}[a-z]|\. [a-z]", text), text
    for name in SPELLED:
        found = re.findall(rf"(?<![-.\w]){re.escape(name)}(?!\w)", text, re.IGNORECASE)
        assert set(found) <= {name}, text
