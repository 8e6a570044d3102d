"""The README's examples run as written, so the documentation follows the code."""

import doctest
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"
FENCE = re.compile(r"^```(\w+)\n(.*?)^```$", re.S | re.M)


def blocks(kind):
    text = README.read_text(encoding="utf-8")
    return [
        (text.count("\n", 0, m.start()) + 2, m.group(2))
        for m in FENCE.finditer(text)
        if m.group(1) == kind
    ]


def sessions():
    """Each `$ command` of the console blocks with the output shown under it."""
    for line, body in blocks("console"):
        for chunk in re.split(r"^(?=\$ )", body, flags=re.M):
            if chunk:
                command, _, output = chunk.partition("\n")
                yield pytest.param(command.removeprefix("$ "), output, id=f"line {line}")
                line += chunk.count("\n")


def test_python_examples():
    assert blocks("pycon"), "no Python examples found"
    globs = {}
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    parser = doctest.DocTestParser()
    for line, body in blocks("pycon"):
        test = parser.get_doctest(body, globs, "README.md", str(README), line - 1)
        runner.run(test, clear_globs=False)
        globs = test.globs  # later blocks build on earlier ones
    assert runner.summarize(verbose=False).failed == 0


@pytest.mark.parametrize("command, output", list(sessions()))
def test_console_examples(command, output):
    argv = shlex.split(command)
    assert argv[0] == "kestrova"
    done = subprocess.run(
        [sys.executable, "-m", "kestrova", *argv[1:]],
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
    )
    assert done.stdout == output


def test_quick_start_installs_and_runs_the_overview():
    first = blocks("sh")[0][1].splitlines()[0]
    assert first.split("&&")[-1].strip() == "kestrova"
