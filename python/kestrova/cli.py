"""The ``kestrova`` command line (also ``python -m kestrova``).

Every command reads its data through one set of twins: the native functions
by default, the pure-Python ones with ``--pure``. Where no pure twin exists
(the CKM matrix, and the quark figures beyond the names), both modes use the
same source, so the two modes print the same text.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import TYPE_CHECKING, Callable, NamedTuple

import kestrova
from kestrova import _pure

if TYPE_CHECKING:
    from collections.abc import Sequence

    from kestrova._pure import Datasheet

DEFAULT_TOL = 1e-12


class Failure(Exception):
    """A request that cannot be met; its text goes to standard error, exit status 1."""


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
            for i, (cell, w) in enumerate(zip(row, widths))
        ]
        lines.append("  ".join(cells).rstrip())
    return lines


def constants_table(t: Twins) -> list[str]:
    sheets = [t.get(name) for name in t.list_constants()]
    rows = [(s["name"], _show(s["value"]), s["units"], s["status"]) for s in sheets]
    return _table(("name", "value", "units", "status"), rows, right=1)


def quarks_table(t: Twins) -> list[str]:
    rows = []
    for name in t.list_quarks():
        q = _pure.QUARKS[name]
        rows.append((name, str(q.generation), str(q.phi_exponent), repr(q.mass_mev)))
    return _table(("name", "generation", "phi_exponent", "mass_mev"), rows, right=3)


def ckm_check(tol: float) -> list[str]:
    from kestrova._norvel_core import PyCKMMatrix

    matrix = PyCKMMatrix.from_topology()
    return [
        f"unitary within {tol!r}: {'yes' if matrix.is_unitary(tol) else 'no'}",
        f"Jarlskog invariant J: {matrix.jarlskog()!r}",
    ]


def _overview(args: argparse.Namespace, t: Twins) -> list[str]:
    return [
        f"kestrova {kestrova.__version__}: physical reference data with a fast native core",
        "",
        "Constants:",
        *constants_table(t),
        "",
        "Quarks: " + ", ".join(t.list_quarks()),
        "",
        "CKM matrix:",
        *ckm_check(DEFAULT_TOL),
        "",
        "Commands: constants, get NAME [--json], quarks, ckm [--tol TOL]; see kestrova --help.",
    ]


def _get(args: argparse.Namespace, t: Twins) -> list[str]:
    try:
        sheet = t.get(args.name)
    except KeyError as exc:
        raise Failure(exc.args[0]) from None
    if args.json:
        return [_pure.datasheet_json(sheet)]
    rows = [(key, _show(value)) for key, value in sheet.items()]
    return [f"{key:<12} {value}" for key, value in rows]


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


def _add_pure(parser: argparse.ArgumentParser, default: object) -> None:
    parser.add_argument(
        "--pure",
        action="store_true",
        default=default,
        help="use the pure-Python twins of the native operations",
    )


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="kestrova",
        description="Physical reference data: named constants, quarks and the CKM matrix. "
        "Without a command, print an overview.",
    )
    _add_pure(parser, False)
    parser.add_argument("--version", action="version", version=f"%(prog)s {kestrova.__version__}")
    parser.set_defaults(run=_overview)
    commands = parser.add_subparsers(title="commands", metavar="COMMAND")
    # Each command takes --pure too, without overriding one given before it.
    pure = argparse.ArgumentParser(add_help=False)
    _add_pure(pure, argparse.SUPPRESS)

    sub = commands.add_parser("constants", parents=[pure], help="the table of constants")
    sub.set_defaults(run=lambda args, t: constants_table(t))

    sub = commands.add_parser("get", parents=[pure], help="one constant's datasheet")
    sub.add_argument("name", type=_name, metavar="NAME", help="the constant's exact name")
    sub.add_argument("--json", action="store_true", help="print the datasheet as compact JSON")
    sub.set_defaults(run=_get)

    sub = commands.add_parser("quarks", parents=[pure], help="the six Standard-Model quarks")
    sub.set_defaults(run=lambda args, t: quarks_table(t))

    sub = commands.add_parser("ckm", parents=[pure], help="the CKM matrix check and J")
    sub.add_argument(
        "--tol",
        type=float,
        default=DEFAULT_TOL,
        help=f"tolerance of the row-normalisation test (default {DEFAULT_TOL!r})",
    )
    sub.set_defaults(run=lambda args, t: ckm_check(args.tol))
    return parser


def _error(message: str) -> None:
    print(f"kestrova: {message}", file=sys.stderr)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default ``sys.argv[1:]``); return the exit status."""
    args = _parser().parse_args(argv)
    try:
        lines = args.run(args, twins(args.pure))
        print("\n".join(lines))
        sys.stdout.flush()
    except Failure as exc:
        _error(str(exc))
        return 1
    except BrokenPipeError:
        # The reader went away; keep the interpreter from complaining at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except KeyboardInterrupt:
        return 130
    return 0
