"""The text and JSON forms the command line prints."""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence

from kestrova import _about, _compare, _pure


def _show(value: object) -> str:
    return "-" if value is None else str(value)


def table(header: Sequence[str], rows: Sequence[Sequence[str]], right: int = 0) -> list[str]:
    """Align columns; the ``right`` columns after the first are right-aligned."""
    everything = [header, *rows]
    widths = [max(len(row[i]) for row in everything) for i in range(len(header))]
    return [
        "  ".join(
            cell.rjust(w) if 0 < i <= right else cell.ljust(w)
            for i, (cell, w) in enumerate(zip(row, widths, strict=True))
        ).rstrip()
        for row in everything
    ]


def json_line(value: object) -> list[str]:
    return [json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False)]


def sheet_json(sheet: _pure.Datasheet) -> str:
    # The datasheet's own text, and after its keys the expression a pending
    # constant holds instead of its value 0.0.
    text = _pure.datasheet_json(sheet)
    expression = _pure.expression(sheet["name"])
    if expression is None:
        return text
    return f"{text[:-1]},{_pure._string('expression')}:{_pure._string(expression)}}}"


def sheet_lines(sheet: _pure.Datasheet) -> list[str]:
    rows = [(key, _show(value)) for key, value in sheet.items()]
    expression = _pure.expression(sheet["name"])
    if expression is not None:
        rows.append(("expression", expression))
    rows.append(("description", _about.describe(sheet["name"])))
    return [f"{key:<12} {value}" for key, value in rows]


def record_lines(record: Mapping[str, object]) -> list[str]:
    """A quark's fields, as ``sheet_lines`` shows a datasheet's, then what it is."""
    rows = [(key, _show(value)) for key, value in record.items()]
    rows.append(("description", _about.describe(str(record["name"]))))
    return [f"{key:<12} {value}" for key, value in rows]


def constants_table(sheets: Sequence[_pure.Datasheet]) -> list[str]:
    # The native datasheet leaves a pending constant's expression out; the
    # package's own copy of the table holds it.
    rows = [
        (s["name"], _show(s["value"]), _pure.expression(s["name"]) or "", s["units"], s["status"])
        for s in sheets
    ]
    return table(("name", "value", "expression", "units", "status"), rows, right=1)


def quarks_table(quarks: Sequence[Mapping[str, object]]) -> list[str]:
    rows = [
        (str(q["name"]), str(q["generation"]), str(q["phi_exponent"]), repr(q["mass_mev"]))
        for q in quarks
    ]
    return table(("name", "generation", "phi_exponent", "mass_mev"), rows, right=3)


def ckm_lines(check: Mapping[str, object]) -> list[str]:
    return [
        f"unitary within {check['tol']!r}: {'yes' if check['unitary'] else 'no'}",
        f"Jarlskog invariant J: {check['jarlskog']!r}",
    ]


def compare_table(records: Sequence[_compare.Comparison]) -> list[str]:
    masses = [r for r in records if r["units"] == "MeV"]
    ckm = [r for r in records if r["units"] != "MeV"]
    rows = [
        (
            r["name"],
            f"{r['model']:.8g}",
            f"{r['measured']:.8g}",
            _compare.uncertainty(r),
            r["units"],
            f"{r['ratio']:#.4g}",
            r["scheme"] or "-",
            r["scale"] or "-",
            f"{r['source']} {r['edition']}",
        )
        for r in masses
    ]
    header = ("name", "model", "measured", "uncertainty", "units", "ratio")
    packages = " and ".join(dict.fromkeys(r["package"] for r in masses))
    lines = [
        *table((*header, "scheme", "scale", "source"), rows, right=2),
        "",
        f"ratio: model / measured; measured figures from {packages}.",
        "v = (√2 G_F)^-1/2 from CODATA's Fermi constant G_F.",
        "scheme, scale: - where the data names none; the user guide gives PDG's conventions.",
    ]
    if ckm:
        # The model's matrix is the identity: a ratio to its zeros says nothing.
        matrix = [
            (
                r["name"],
                f"{r['model']!r}",
                f"{r['measured']:.8g}",
                _compare.uncertainty(r),
                f"{r['source']} {r['edition']}",
            )
            for r in ckm
        ]
        carried = " and ".join(dict.fromkeys(r["package"] for r in ckm))
        lines += [
            "",
            "The CKM matrix (dimensionless):",
            *table(("name", "model", "measured", "uncertainty", "source"), matrix, right=2),
            "",
            f"measured: the PDG's global fit, as {carried} carries it.",
        ]
    return lines
