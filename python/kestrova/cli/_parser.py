"""The parser of the command line: its arguments, their checks and which command each runs."""

from __future__ import annotations

import argparse
import ast
import difflib
import math
import sys
from collections.abc import Callable
from typing import Any, NoReturn

import kestrova
from kestrova.cli import _commands as run

_INVALID_COMMAND = "argument COMMAND: invalid choice: "
_SUGGEST: dict[str, Any] = {"suggest_on_error": True} if sys.version_info >= (3, 14) else {}
_PURE = "use the pure-Python twins of the native operations"
# A flag of a command: given before the command too, this default leaves that one in place.
_FLAG: dict[str, Any] = {"action": "store_true", "default": argparse.SUPPRESS}
_Run = Callable[[argparse.Namespace], list[str]]


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # A mistyped command names the nearest one, and the choices bare, on
        # every interpreter; argparse finds the nearest itself from 3.14.
        head, _, choices = message.rpartition(" (choose from ")
        if head.startswith(_INVALID_COMMAND):
            names = choices.rstrip(")").replace("'", "").split(", ")
            if sys.version_info < (3, 14):
                typed = ast.literal_eval(head.removeprefix(_INVALID_COMMAND))
                for near in difflib.get_close_matches(typed, names, 1):
                    head += f", maybe you meant {near!r}?"
            message = f"{head} (choose from {', '.join(names)})"
        super().error(message)


def _name(text: str) -> str:
    # Checked here so that neither twin sees a name it rejects by contract:
    # the native one would panic on the empty name.
    if not text:
        raise argparse.ArgumentTypeError("the name must be non-empty")
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise argparse.ArgumentTypeError(f"the name {text!r} is not valid UTF-8") from None
    return text


def _text(text: str) -> str:
    if not text.strip():
        raise argparse.ArgumentTypeError("the text must not be empty")
    return text


def _tol(text: str) -> float:
    try:
        tol = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid float value: {text!r}") from None
    # A NaN tolerance would answer "no" and a negative one could never pass:
    # neither is a question worth asking.
    if not (math.isfinite(tol) and tol >= 0.0):
        raise argparse.ArgumentTypeError(f"must be a finite number >= 0, not {text!r}")
    return tol


def _output(text: str) -> str:
    from kestrova.plot import FORMATS

    if text.rpartition(".")[2].lower() not in FORMATS or "." not in text:
        raise argparse.ArgumentTypeError(f"{text!r} must end in .svg, .png or .pdf")
    return text


def build_parser() -> argparse.ArgumentParser:
    """The parser of the command line; the documentation is generated from it.

    ``run`` gives the lines to print; ``no_json`` names what has no JSON form.
    """
    parser = _Parser(
        prog="kestrova",
        description="The figures of one physical model, set beside measured reference data: "
        "named constants, the quark mass ladder and the CKM matrix. Without a command, print an "
        "overview.",
        **_SUGGEST,
    )
    parser.add_argument("--pure", action="store_true", help=_PURE)
    parser.add_argument(
        "--json", action="store_true", help="print the command's output as one line of JSON"
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {kestrova.__version__}")
    parser.set_defaults(run=lambda a: run.overview(run.twins(a.pure)), no_json="the overview")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND")
    pure = _Parser(add_help=False)
    pure.add_argument("--pure", **_FLAG, help=_PURE)

    json_forms: list[tuple[argparse.ArgumentParser, str]] = []

    def command(name: str, runs: _Run, json: str | None, **texts: Any) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, parents=[pure], **texts)
        sub.set_defaults(run=runs, no_json=None if json else name)
        if json:
            json_forms.append((sub, json))
        return sub

    command(
        "constants",
        lambda a: run.constants(run.twins(a.pure), a.json),
        "a list of the datasheets, pending ones with their expression",
        help="the table of constants",
        description="Show every constant with its value, units and status. A pending constant's "
        "value is 0.0; the expression column gives the figure or derivation the model holds for "
        "it instead.",
    )
    command(
        "get",
        lambda a: run.get(run.twins(a.pure), a.name, a.json),
        "the datasheet, or the quark's or the matrix's record",
        help="one constant's datasheet, or a quark's or the CKM matrix's record",
        description="Show the datasheet of one constant: name, status, uncertainty, units and "
        "value, for a pending constant its expression, and a line saying what the constant is. "
        "A quark's name (bottom) shows the quark's record, and ckm the CKM matrix. An unknown "
        "name exits with status 1 and suggests what the search finds and the closest names. "
        "With --json a pending constant's expression follows the datasheet's keys.",
    ).add_argument(
        "name", type=_name, metavar="NAME", help="the exact name of a constant, a quark or ckm"
    )
    command(
        "search",
        lambda a: run.search(a.text, a.json),
        "the list of names",
        help="find constants, quarks and the CKM matrix by name, units or words",
        description="List the constants, quarks and the CKM matrix whose name, units, "
        "description or aliases hold every word of TEXT, ignoring case: an exact name first, "
        "then names starting with TEXT, then the rest. Only when nothing holds every word as "
        "typed do close spellings count (hubbel for hubble). Nothing found exits with status 1.",
    ).add_argument("text", type=_text, metavar="TEXT", help="a name or words, such as tau")
    command(
        "quarks",
        lambda a: run.quarks(run.twins(a.pure), a.json),
        "a list of the quark records",
        help="the six Standard-Model quarks",
        description="Show the six quarks with their generation, their golden-ratio exponent n "
        "and their mass in MeV, 246220 MeV / phi**n.",
    )
    command(
        "ckm",
        lambda a: run.ckm(a.tol, a.json),
        "the check and J",
        help="the CKM matrix check and J",
        description="Show whether each row of the CKM matrix is normalised within a tolerance, "
        "and its Jarlskog invariant J.",
    ).add_argument(
        "--tol",
        type=_tol,
        default=run.DEFAULT_TOL,
        help=f"tolerance of the row-normalisation test, a finite number >= 0 "
        f"(default {run.DEFAULT_TOL!r})",
    )
    command(
        "compare",
        lambda a: run.compare(a.json),
        "a list of the records",
        help="the model's figures beside the measured ones",
        description="Show the model's six quark masses, the tau mass and the Higgs vacuum "
        "expectation value beside the measured figures, with their uncertainties and the ratio "
        "model / measured, naming the edition of each source: the Particle Data Group's tables "
        "from the particle package, and CODATA's Fermi constant from scipy. Then the model's CKM "
        "matrix beside the measured magnitudes V_us, V_cb and V_ub and J of the PDG's global fit, "
        "which kestrova carries. Needs both packages: pip install 'kestrova[compare]'.",
    )
    sub = command(
        "plot",
        lambda a: run.plot(run.twins(a.pure), a.output, a.measured),
        None,
        help="draw the quark mass ladder to a file",
        description="Draw the quark mass ladder (log mass against the golden-ratio exponent, "
        "each quark labelled) to an SVG, PNG or PDF file. Needs matplotlib: pip install "
        "'kestrova[plot]'; --measured needs 'kestrova[compare]' too.",
    )
    sub.add_argument(
        "--measured",
        action="store_true",
        help="draw the measured masses (PDG), with their error bars, beside the ladder",
    )
    sub.add_argument(
        "-o",
        "--output",
        type=_output,
        required=True,
        metavar="FILE",
        help="the file to write; its suffix (.svg, .png, .pdf) picks the format",
    )
    for sub, what in json_forms:  # after each command's own arguments
        sub.add_argument("--json", **_FLAG, help=f"print {what} as one line of JSON")
    return parser
