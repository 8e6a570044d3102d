"""How the command-line tests run a command, and what some of them need."""

import importlib.util

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
