"""What each command does, given only what it uses; each returns the lines to print."""

from __future__ import annotations

import difflib
from collections.abc import Callable, Sequence
from typing import NamedTuple

import kestrova
from kestrova import _about, _compare, _pure
from kestrova.cli import _format

DEFAULT_TOL = 1e-12


class Failure(Exception):
    """A request not met: ``output`` is printed, then the text to standard error; status 1."""

    def __init__(self, message: str, output: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.output = output


class Twins(NamedTuple):
    list_constants: Callable[[], list[str]]
    list_quarks: Callable[[], list[str]]
    get: Callable[[str], _pure.Datasheet]


def twins(pure: bool) -> Twins:
    """The native operations, or their pure-Python twins when ``pure``."""
    if pure:
        return Twins(_pure.list_constants, _pure.list_quarks, _pure.Get)
    from kestrova import _norvel_core as core

    return Twins(core.py_list_constants, core.py_list_quarks, core.py_get_constant)


def overview(t: Twins) -> list[str]:
    return [
        f"kestrova {kestrova.__version__}: the figures of one physical model, not measured values",
        "",
        "Constants:",
        *constants(t, as_json=False),
        "",
        "Quarks: " + ", ".join(t.list_quarks()),
        "",
        "CKM matrix:",
        *ckm(DEFAULT_TOL, as_json=False),
        "",
        (
            "Commands: constants, get NAME, search TEXT, quarks, ckm [--tol TOL], compare,"
            " plot -o FILE; each takes --json (but plot); see kestrova --help."
        ),
    ]


def constants(t: Twins, as_json: bool) -> list[str]:
    sheets = [t.get(name) for name in t.list_constants()]
    if as_json:
        # The same compact text as `get --json`, one datasheet after another.
        return ["[" + ",".join(map(_format.sheet_json, sheets)) + "]"]
    return _format.constants_table(sheets)


def get(t: Twins, name: str, as_json: bool) -> list[str]:
    try:
        sheet = t.get(name)
    except KeyError as exc:
        # What the search finds beside the constants, shown rather than missed.
        if name in t.list_quarks():
            record = _quark(name)
            return _format.json_line(record) if as_json else _format.record_lines(record)
        if name == _about.CKM:
            return _ckm_record(as_json)
        near = _near(name, t.list_constants())
        hint = f"\ndid you mean {_or(near)}?" if near else ""
        raise Failure(exc.args[0] + hint) from None
    return [_format.sheet_json(sheet)] if as_json else _format.sheet_lines(sheet)


def search(text: str, as_json: bool) -> list[str]:
    found = _about.search(text)
    if not found:
        raise Failure(f"no constant matches {text!r}", _format.json_line(found) if as_json else ())
    if as_json:
        return _format.json_line(found)
    return _format.table(("name", "description"), [(n, _about.describe(n)) for n in found])


def _quark(name: str) -> dict[str, object]:
    return {"name": name, **_pure.QUARKS[name]._asdict()}


def _ckm_record(as_json: bool) -> list[str]:
    matrix = kestrova.ckm()
    if as_json:
        fields = ("rows", "columns", "magnitudes", "jarlskog")
        return _format.json_line({"name": _about.CKM, **{f: getattr(matrix, f) for f in fields}})
    return [*str(matrix).splitlines(), f"{'description':<12} {matrix.description}"]


def quarks(t: Twins, as_json: bool) -> list[str]:
    records = [_quark(name) for name in t.list_quarks()]
    return _format.json_line(records) if as_json else _format.quarks_table(records)


def ckm(tol: float, as_json: bool) -> list[str]:
    from kestrova._norvel_core import PyCKMMatrix

    matrix = PyCKMMatrix.from_topology()
    check = {"tol": tol, "unitary": matrix.is_unitary(tol), "jarlskog": matrix.jarlskog()}
    return _format.json_line(check) if as_json else _format.ckm_lines(check)


def compare(as_json: bool) -> list[str]:
    try:
        records = kestrova.compare()
    except _compare.MissingMeasurements as exc:
        raise Failure(str(exc)) from None
    return _format.json_line(records) if as_json else _format.compare_table(records)


def plot(t: Twins, output: str, measured: bool) -> list[str]:
    from kestrova import plot

    try:
        rungs = plot.save_ladder(output, t.list_quarks(), measured=measured)
    except (plot.MissingMatplotlib, _compare.MissingMeasurements) as exc:
        raise Failure(str(exc)) from None
    except OSError as exc:
        raise Failure(f"cannot write {output!r}: {exc.strerror or exc}") from None
    return [f"wrote {output} ({len(rungs)} quarks)"]


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
