"""One table, three faces: plain text, HTML and LaTeX for notebooks.

Every record and collection of records describes itself as a ``Table`` and
the functions here draw it. A ``Figure`` cell carries a value with its units,
so that each face can set them its own way and mark a figure that the model
computed from an expression.
"""

from __future__ import annotations

import html
import re
from collections.abc import Mapping, Sequence
from typing import Any, NamedTuple

__all__ = [
    "MODEL_NOTE",
    "Figure",
    "MissingPandas",
    "Shown",
    "Table",
    "dataframe",
    "html_table",
    "latex",
    "text",
]

#: The note under a table that marks a figure read from an expression.
MODEL_NOTE = "* the model's figure, computed from its expression"


class Figure(NamedTuple):
    """A value with its units; ``model`` marks a figure computed from an expression."""

    value: float
    units: str
    model: bool = False
    #: how the value is written in text; repr() when empty
    shown: str = ""


Cell = str | Figure


class Table(NamedTuple):
    """What a record or collection shows: rows under an optional header, then notes."""

    caption: str
    header: Sequence[str] | None
    rows: Sequence[Sequence[Cell]]
    footer: Sequence[str] = ()

    def notes(self) -> list[str]:
        marked = any(isinstance(c, Figure) and c.model for row in self.rows for c in row)
        return [*self.footer, *([MODEL_NOTE] if marked else [])]


class Shown:
    """The three faces of anything that describes itself as a ``Table``."""

    __slots__ = ()

    def _table(self) -> Table:
        raise NotImplementedError

    def __str__(self) -> str:
        return text(self._table())

    def _repr_html_(self) -> str:
        return html_table(self._table())

    def _repr_latex_(self) -> str:
        return latex(self._table())


class MissingPandas(ImportError):
    """A DataFrame needs pandas, which is an optional extra of the package."""


def pandas() -> Any:
    # pandas is an optional extra: the package type-checks and imports without it.
    try:
        import pandas  # type: ignore[import-not-found,import-untyped,unused-ignore]
    except ImportError:
        raise MissingPandas("a DataFrame needs pandas: pip install 'kestrova[dataframe]'") from None
    return pandas


def dataframe(records: Sequence[Mapping[str, Any]]) -> Any:
    """A pandas DataFrame of ``records``, indexed by their "name"."""
    frame = pandas().DataFrame(list(records))
    return frame.set_index("name") if records else frame


def _number(cell: Figure) -> str:
    return cell.shown or repr(cell.value)


def _plain(cell: Cell) -> str:
    if isinstance(cell, str):
        return cell
    mark = "*" if cell.model else ""
    return f"{_number(cell)} {cell.units}".rstrip() + mark


def text(table: Table) -> str:
    """The table as aligned plain text, its caption above and its notes below."""
    everything = [list(map(_plain, row)) for row in table.rows]
    if table.header is not None:
        everything.insert(0, list(table.header))
    widths = [max(len(row[i]) for row in everything) for i in range(len(everything[0]))]
    lines = [table.caption] if table.caption else []
    for row in everything:
        lines.append("  ".join(c.ljust(w) for c, w in zip(row, widths, strict=True)).rstrip())
    return "\n".join([*lines, *table.notes()])


def _html_cell(cell: Cell, tag: str) -> str:
    if isinstance(cell, str):
        return f"<{tag}>{html.escape(cell)}</{tag}>"
    mark = "<sup>*</sup>" if cell.model else ""
    return (
        f'<{tag} style="text-align: right">'
        f"{html.escape(f'{_number(cell)} {cell.units}'.rstrip())}{mark}</{tag}>"
    )


def html_table(table: Table) -> str:
    """The table as one HTML ``<table>`` element, the notes in its footer."""
    parts = ["<table>"]
    if table.caption:
        parts.append(f"<caption>{html.escape(table.caption)}</caption>")
    if table.header is not None:
        parts.append(
            "<thead><tr>" + "".join(_html_cell(h, "th") for h in table.header) + "</tr></thead>"
        )
    parts.append("<tbody>")
    for row in table.rows:
        tag = "th" if table.header is None else "td"
        first, *rest = row
        parts.append(
            "<tr>" + _html_cell(first, tag) + "".join(_html_cell(c, "td") for c in rest) + "</tr>"
        )
    parts.append("</tbody>")
    width = len(table.rows[0]) if table.rows else 1
    notes = "".join(f'<tr><td colspan="{width}">{html.escape(n)}</td></tr>' for n in table.notes())
    if notes:
        parts.append(f"<tfoot>{notes}</tfoot>")
    parts.append("</table>")
    return "".join(parts)


_TEX_SPECIAL = re.compile(r"([\\{}_^#$%&~])")
_TEX_NAMED = {"\\": r"\backslash{}", "^": r"\hat{}", "~": r"\sim{}"}


def _tex_text(text: str) -> str:
    escaped = _TEX_SPECIAL.sub(lambda m: _TEX_NAMED.get(m.group(), "\\" + m.group()), text)
    return rf"\text{{{escaped}}}"


def _tex_number(shown: str) -> str:
    mantissa, e, exponent = shown.partition("e")
    return rf"{mantissa}\times 10^{{{int(exponent)}}}" if e else shown


def _tex_cell(cell: Cell) -> str:
    if isinstance(cell, str):
        return _tex_text(cell) if cell else ""
    mark = "^{*}" if cell.model else ""
    units = rf"\ {_tex_text(cell.units)}" if cell.units else ""
    return _tex_number(_number(cell)) + units + mark


def latex(table: Table) -> str:
    """The table as a LaTeX ``array`` in display math, for MathJax; caption and notes as text."""
    rows = [list(map(_tex_cell, row)) for row in table.rows]
    columns = len(rows[0]) if rows else 1
    body = []
    if table.header is not None:
        body.append(" & ".join(map(_tex_text, table.header)) + r" \\ \hline")
    body.extend(" & ".join(row) + r" \\" for row in rows)
    array = rf"\begin{{array}}{{{'l' * columns}}}" + "\n" + "\n".join(body) + "\n" + r"\end{array}"
    # The caption and notes stand outside the mathematics, where a
    # notebook's MathJax leaves text as it is.
    return "\n".join(filter(None, [table.caption, f"$${array}$$", *table.notes()]))
