"""The ``kestrova`` command line (also ``python -m kestrova``).

Every command reads its data through one set of twins: the native functions
by default, the pure-Python ones with ``--pure``. Where no pure twin exists
(the CKM matrix, and the quark figures beyond the names), both modes use the
same source, so the two modes print the same text. The expressions of
pending constants, which the native datasheet leaves out, come from the
package's own table in both modes, and so do the descriptions and the
search. ``compare`` reads the measured figures from the optional packages of
``kestrova[compare]``.
"""

from __future__ import annotations

import argparse
import difflib
import json
import math
import os
import sys
from collections.abc import Callable, Sequence
from typing import Any, NamedTuple

import kestrova
from kestrova import _about, _compare, _pure
from kestrova._pure import Datasheet

DEFAULT_TOL = 1e-12


class Failure(Exception):
    """A request that cannot be met; its text goes to standard error, exit status 1.

    ``output`` is printed first: a JSON answer stays JSON when it is empty.
    """

    def __init__(self, message: str, output: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.output = output


class Twins(NamedTuple):
    list_constants: Callable[[], list[str]]
    list_quarks: Callable[[], list[str]]
    get: Callable[[str], Datasheet]


def twins(pure: bool) -> Twins:
    """The native operations, or their pure-Python twins when ``pure``."""
    if pure:
        return Twins(_pure.list_constants, _pure.list_quarks, _pure.Get)
    from kestrova import _norvel_core as core

    return Twins(core.py_list_constants, core.py_list_quarks, core.py_get_constant)


def _show(value: object) -> str:
    return "-" if value is None else str(value)


def _table(header: Sequence[str], rows: Sequence[Sequence[str]], right: int = 0) -> list[str]:
    """Align columns; the ``right`` columns after the first are right-aligned."""
    everything = [header, *rows]
    widths = [max(len(row[i]) for row in everything) for i in range(len(header))]
    lines = []
    for row in everything:
        cells = [
            cell.rjust(w) if 0 < i <= right else cell.ljust(w)
            for i, (cell, w) in enumerate(zip(row, widths, strict=True))
        ]
        lines.append("  ".join(cells).rstrip())
    return lines


def _expression(name: str) -> str:
    # The native datasheet leaves a pending constant's expression out; the
    # package's own copy of the table holds it.
    return _pure.expression(name) or ""


def _sheets(t: Twins) -> list[Datasheet]:
    return [t.get(name) for name in t.list_constants()]


def constants_table(t: Twins) -> list[str]:
    rows = [
        (s["name"], _show(s["value"]), _expression(s["name"]), s["units"], s["status"])
        for s in _sheets(t)
    ]
    return _table(("name", "value", "expression", "units", "status"), rows, right=1)


def _quarks(t: Twins) -> list[dict[str, object]]:
    return [{"name": name, **_pure.QUARKS[name]._asdict()} for name in t.list_quarks()]


def quarks_table(t: Twins) -> list[str]:
    rows = []
    for name in t.list_quarks():
        q = _pure.QUARKS[name]
        rows.append((name, str(q.generation), str(q.phi_exponent), repr(q.mass_mev)))
    return _table(("name", "generation", "phi_exponent", "mass_mev"), rows, right=3)


def _ckm(tol: float) -> dict[str, object]:
    from kestrova._norvel_core import PyCKMMatrix

    matrix = PyCKMMatrix.from_topology()
    return {"tol": tol, "unitary": matrix.is_unitary(tol), "jarlskog": matrix.jarlskog()}


def ckm_check(tol: float) -> list[str]:
    check = _ckm(tol)
    return [
        f"unitary within {tol!r}: {'yes' if check['unitary'] else 'no'}",
        f"Jarlskog invariant J: {check['jarlskog']!r}",
    ]


def _json(value: object) -> list[str]:
    return [json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False)]


def _sheet_json(sheet: Datasheet) -> str:
    # The datasheet's own text, and after its keys the expression a pending
    # constant holds instead of its value 0.0.
    text = _pure.datasheet_json(sheet)
    expression = _pure.expression(sheet["name"])
    if expression is None:
        return text
    return f"{text[:-1]},{_pure._string('expression')}:{_pure._string(expression)}}}"


def _constants(args: argparse.Namespace, t: Twins) -> list[str]:
    if args.json:
        # The same compact text as `get --json`, one datasheet after another.
        return ["[" + ",".join(map(_sheet_json, _sheets(t))) + "]"]
    return constants_table(t)


def _quarks_command(args: argparse.Namespace, t: Twins) -> list[str]:
    return _json(_quarks(t)) if args.json else quarks_table(t)


def _ckm_command(args: argparse.Namespace, t: Twins) -> list[str]:
    return _json(_ckm(args.tol)) if args.json else ckm_check(args.tol)


def _plot(args: argparse.Namespace, t: Twins) -> list[str]:
    from kestrova import plot

    try:
        rungs = plot.save_ladder(args.output, t.list_quarks(), measured=args.measured)
    except (plot.MissingMatplotlib, _compare.MissingMeasurements) as exc:
        raise Failure(str(exc)) from None
    except OSError as exc:
        raise Failure(f"cannot write {args.output!r}: {exc.strerror or exc}") from None
    return [f"wrote {args.output} ({len(rungs)} quarks)"]


def _search(args: argparse.Namespace, t: Twins) -> list[str]:
    found = _about.search(args.text)
    if not found:
        raise Failure(f"no constant matches {args.text!r}", _json(found) if args.json else ())
    if args.json:
        return _json(found)
    return _table(("name", "description"), [(n, _about.describe(n)) for n in found])


def _uncertainty(r: _compare.Comparison) -> str:
    up, down = r["uncertainty_upper"], r["uncertainty_lower"]
    if up is None or down is None:
        return "-"
    return f"± {up:.3g}" if up == down else f"+{up:.3g} -{down:.3g}"


def compare_table(records: Sequence[_compare.Comparison]) -> list[str]:
    rows = [
        (
            r["name"],
            f"{r['model']:.8g}",
            f"{r['measured']:.8g}",
            _uncertainty(r),
            r["units"],
            f"{r['ratio']:#.4g}",
            r["scheme"] or "-",
            r["scale"] or "-",
            f"{r['source']} {r['edition']}",
        )
        for r in records
    ]
    header = ("name", "model", "measured", "uncertainty", "units", "ratio")
    packages = " and ".join(dict.fromkeys(r["package"] for r in records))
    return [
        *_table((*header, "scheme", "scale", "source"), rows, right=2),
        "",
        f"ratio: model / measured; measured figures from {packages}.",
        "v = (√2 G_F)^-1/2 from CODATA's Fermi constant G_F.",
        "scheme, scale: - where the data names none; the user guide gives PDG's conventions.",
    ]


def _compare_command(args: argparse.Namespace, t: Twins) -> list[str]:
    try:
        records = kestrova.compare()
    except _compare.MissingMeasurements as exc:
        raise Failure(str(exc)) from None
    return _json(records) if args.json else compare_table(records)


def suggestions(name: str, known: Sequence[str]) -> list[str]:
    """The names in ``known`` closest to ``name``, at most three.

    A name that differs only in case or surrounding spaces is the answer on
    its own; otherwise the nearest spellings, closest first.
    """
    folded = name.strip().casefold()
    same = [k for k in known if k.casefold() == folded]
    if same:
        return same
    lower = {k.casefold(): k for k in known}
    return [lower[k] for k in difflib.get_close_matches(folded, list(lower), n=3, cutoff=0.6)]


def _overview(args: argparse.Namespace, t: Twins) -> list[str]:
    return [
        f"kestrova {kestrova.__version__}: the figures of one physical model, not measured values",
        "",
        "Constants:",
        *constants_table(t),
        "",
        "Quarks: " + ", ".join(t.list_quarks()),
        "",
        "CKM matrix:",
        *ckm_check(DEFAULT_TOL),
        "",
        (
            "Commands: constants, get NAME, search TEXT, quarks, ckm [--tol TOL], compare,"
            " plot -o FILE; each takes --json (but plot); see kestrova --help."
        ),
    ]


def _get(args: argparse.Namespace, t: Twins) -> list[str]:
    try:
        sheet = t.get(args.name)
    except KeyError as exc:
        near = _near(args.name, t.list_constants())
        hint = f"\ndid you mean {_or(near)}?" if near else ""
        raise Failure(exc.args[0] + hint) from None
    if args.json:
        return [_sheet_json(sheet)]
    rows = [(key, _show(value)) for key, value in sheet.items()]
    expression = _pure.expression(sheet["name"])
    if expression is not None:
        rows.append(("expression", expression))
    rows.append(("description", _about.describe(sheet["name"])))
    return [f"{key:<12} {value}" for key, value in rows]


def _near(name: str, known: Sequence[str]) -> list[str]:
    # A name that differs only in case or spaces is the answer on its own;
    # otherwise what the search finds, then the close spellings, at most five.
    spelled = suggestions(name, known)
    if spelled and spelled[0].casefold() == name.strip().casefold():
        return spelled
    try:
        found = _about.search(name)
    except ValueError:  # nothing but white space
        found = []
    return list(dict.fromkeys([*found, *spelled]))[:5]


def _or(names: Sequence[str]) -> str:
    return names[0] if len(names) == 1 else f"{', '.join(names[:-1])} or {names[-1]}"


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


def _add_json(parser: argparse.ArgumentParser, what: str) -> None:
    # Given before the command too: this default leaves that one in place.
    parser.add_argument(
        "--json",
        action="store_true",
        default=argparse.SUPPRESS,
        help=f"print {what} as one line of JSON",
    )


class _Parser(argparse.ArgumentParser):
    def _check_value(self, action: argparse.Action, value: Any) -> None:
        # The text argparse prints from 3.14 with suggest_on_error, the
        # nearest choice named, on every interpreter.
        choices = action.choices
        if choices is None or value in choices:
            return
        names = [str(c) for c in choices]
        message = f"invalid choice: {str(value)!r}"
        near = difflib.get_close_matches(str(value), names, 1) if isinstance(value, str) else []
        if near:
            message += f", maybe you meant {near[0]!r}?"
        raise argparse.ArgumentError(action, f"{message} (choose from {', '.join(names)})")


def _add_pure(parser: argparse.ArgumentParser, default: object) -> None:
    parser.add_argument(
        "--pure",
        action="store_true",
        default=default,
        help="use the pure-Python twins of the native operations",
    )


def build_parser() -> argparse.ArgumentParser:
    """The parser of the command line; the documentation is generated from it."""
    parser = _Parser(
        prog="kestrova",
        description="Physical reference data of one model: named constants, the quark mass "
        "ladder and the CKM matrix. Without a command, print an overview.",
    )
    _add_pure(parser, False)
    parser.add_argument(
        "--json", action="store_true", help="print the command's output as one line of JSON"
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {kestrova.__version__}")
    parser.set_defaults(run=_overview)
    commands = parser.add_subparsers(title="commands", metavar="COMMAND")
    # Each command takes --pure too, without overriding one given before it.
    pure = _Parser(add_help=False)
    _add_pure(pure, argparse.SUPPRESS)

    def command(name: str, summary: str, description: str) -> argparse.ArgumentParser:
        return commands.add_parser(name, parents=[pure], help=summary, description=description)

    sub = command(
        "constants",
        "the table of constants",
        "Show every constant with its value, units and status. A pending constant's "
        "value is 0.0; the expression column gives the figure or derivation the model "
        "holds for it instead.",
    )
    _add_json(sub, "a list of the datasheets, pending ones with their expression")
    sub.set_defaults(run=_constants)

    sub = command(
        "get",
        "one constant's datasheet",
        "Show the datasheet of one constant: name, status, uncertainty, units and value, "
        "for a pending constant its expression, and a line saying what the constant is. "
        "An unknown name exits with status 1 and suggests what the search finds and the "
        "closest names. With --json a pending constant's expression follows the "
        "datasheet's keys.",
    )
    sub.add_argument("name", type=_name, metavar="NAME", help="the constant's exact name")
    _add_json(sub, "the datasheet")
    sub.set_defaults(run=_get)

    sub = command(
        "search",
        "find constants by name, units or words",
        "List the constants whose name, units, description or aliases hold every word of "
        "TEXT, ignoring case: an exact name first, then names starting with TEXT, then "
        "the rest. Nothing found exits with status 1.",
    )
    sub.add_argument("text", type=_text, metavar="TEXT", help="a name or words, such as tau")
    _add_json(sub, "the list of names")
    sub.set_defaults(run=_search)

    sub = command(
        "quarks",
        "the six Standard-Model quarks",
        "Show the six quarks with their generation, their golden-ratio exponent n and "
        "their mass in MeV, 246220 MeV / phi**n.",
    )
    _add_json(sub, "a list of the quark records")
    sub.set_defaults(run=_quarks_command)

    sub = command(
        "ckm",
        "the CKM matrix check and J",
        "Show whether each row of the CKM matrix is normalised within a tolerance, "
        "and its Jarlskog invariant J.",
    )
    sub.add_argument(
        "--tol",
        type=_tol,
        default=DEFAULT_TOL,
        help=f"tolerance of the row-normalisation test, a finite number >= 0 "
        f"(default {DEFAULT_TOL!r})",
    )
    _add_json(sub, "the check and J")
    sub.set_defaults(run=_ckm_command)

    sub = command(
        "compare",
        "the model's masses beside the measured ones",
        "Show the model's six quark masses, the tau mass and the Higgs vacuum expectation "
        "value beside the measured figures, with their uncertainties and the ratio model / "
        "measured, naming the edition of each source: the Particle Data Group's tables "
        "from the particle package, and CODATA's Fermi constant from scipy. Needs both: "
        "pip install 'kestrova[compare]'.",
    )
    _add_json(sub, "a list of the records")
    sub.set_defaults(run=_compare_command)

    sub = command(
        "plot",
        "draw the quark mass ladder to a file",
        "Draw the quark mass ladder (log mass against the golden-ratio exponent, each "
        "quark labelled) to an SVG, PNG or PDF file. Needs matplotlib: "
        "pip install 'kestrova[plot]'; --measured needs 'kestrova[compare]' too.",
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
    sub.set_defaults(run=_plot)
    return parser


def _error(message: str) -> None:
    print(f"kestrova: {message}", file=sys.stderr)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default ``sys.argv[1:]``); return the exit status."""
    try:
        parser = build_parser()
        try:
            args = parser.parse_args(argv)
        except SystemExit:
            # --help exits from inside argparse, which ignores a failed write
            # and leaves the text in the buffer for the flush at exit.
            sys.stdout.flush()
            raise
        if args.json and args.run in (_overview, _plot):
            parser.error(
                f"argument --json: {'plot' if args.run is _plot else 'the overview'}"
                " has no JSON form"
            )
        lines = args.run(args, twins(args.pure))
        print("\n".join(lines))
        sys.stdout.flush()
    except Failure as exc:
        if exc.output:
            print("\n".join(exc.output))
        for line in str(exc).splitlines():
            _error(line)
        return 1
    except BrokenPipeError:
        # The reader has all it wanted (`kestrova | head`): not a failure. The
        # unwritten rest goes nowhere, so the flush at exit cannot complain.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except KeyboardInterrupt:
        return 130
    return 0
