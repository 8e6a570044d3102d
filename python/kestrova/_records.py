"""One immutable record per figure of the model, for notebooks and scripts.

A record gathers what the datasheet, the expressions, the quark table and the
descriptions hold about one name, and shows itself as text, HTML and LaTeX.
Its only source is the package's own data (``kestrova._pure``): building
one loads nothing native.
"""

from __future__ import annotations

import dataclasses
import math
from dataclasses import dataclass
from typing import Any, ClassVar, SupportsIndex, TypeVar, overload

from kestrova import _about, _display, _pure, _units
from kestrova._display import Figure, Table
from kestrova._evaluate import evaluate
from kestrova._pure import Status

__all__ = [
    "CKM",
    "Constant",
    "QuarkRecord",
    "Records",
    "ckm",
    "constant",
    "constants",
    "quark",
    "quarks",
]


class _Record(_display.Shown):
    """What a collection needs of its records: a name and a row under a header."""

    __slots__ = ()
    _HEADER: ClassVar[tuple[str, ...]]
    name: str

    def _row(self) -> tuple[_display.Cell, ...]:
        raise NotImplementedError

    def _table(self) -> Table:
        # One record on its own: a row per field, the description last.
        rows = list(zip(self._HEADER, self._row(), strict=True))
        return Table("", None, [*rows, ("description", getattr(self, "description", ""))])


def _uncertainty(value: float | None, units: str) -> _display.Cell:
    return "-" if value is None else Figure(value, units)


@dataclass(frozen=True, slots=True)
class Constant(_Record):
    """One constant of the model: its datasheet, expression and description.

    For a pending constant ``value`` is the model's figure, computed from its
    ``expression`` (``from_expression`` is then True), where the datasheet
    holds 0.0.
    """

    name: str
    value: float
    units: str
    #: None where the model gives none
    uncertainty: float | None
    status: Status
    #: what the model holds for a pending constant instead of its value, else None
    expression: str | None
    description: str
    #: True when ``value`` was computed from ``expression``
    from_expression: bool

    _HEADER: ClassVar = ("name", "value", "uncertainty", "status", "expression")

    def quantity(self, ureg: Any = None) -> Any:
        """The value in its units: an astropy ``Quantity``, or a pint one with ``ureg``.

        ``ureg`` is a ``pint.UnitRegistry``. "dimensionless" and "count" become
        dimensionless. Raises ``kestrova.MissingUnits`` (an ``ImportError``)
        without astropy or a registry: ``pip install 'kestrova[units]'``.
        """
        return _units.quantity(self.value, self.units, ureg)

    def _row(self) -> tuple[_display.Cell, ...]:
        return (
            self.name,
            Figure(self.value, self.units, self.from_expression),
            _uncertainty(self.uncertainty, self.units),
            self.status,
            self.expression or "-",
        )


@dataclass(frozen=True, slots=True)
class QuarkRecord(_Record):
    """One quark on the model's mass ladder: ``mass_mev`` is 246220 MeV / φ**phi_exponent."""

    name: str
    #: 1, 2 or 3
    generation: int
    #: n, the golden-ratio steps below the top of the ladder
    phi_exponent: int
    mass_mev: float
    #: mass_mev / 246220.0, that is φ**-n
    vev_fraction: float
    #: of ``mass_mev``: "MeV"
    units: str
    description: str

    _HEADER: ClassVar = ("name", "generation", "phi_exponent", "mass", "vev_fraction")

    def quantity(self, ureg: Any = None) -> Any:
        """The mass as an astropy ``Quantity``, or a pint one with ``ureg``; as for ``Constant``."""
        return _units.quantity(self.mass_mev, self.units, ureg)

    def _row(self) -> tuple[_display.Cell, ...]:
        return (
            self.name,
            str(self.generation),
            str(self.phi_exponent),
            Figure(self.mass_mev, self.units),
            repr(self.vev_fraction),
        )


@dataclass(frozen=True, slots=True)
class CKM(_display.Shown):
    """The model's quark-mixing matrix: ``|V_ij|`` for ``rows`` against ``columns``, and J."""

    #: 3 × 3, row by row: ``|V_ud| |V_us| |V_ub|``, then the c and t rows
    magnitudes: tuple[tuple[float, ...], ...]
    #: the up-type quarks, "u", "c", "t"
    rows: tuple[str, ...]
    #: the down-type quarks, "d", "s", "b"
    columns: tuple[str, ...]
    #: the Jarlskog invariant, dimensionless
    jarlskog: float
    description: str

    def magnitude(self, row: str, column: str) -> float:
        """``|V_ij|`` for the quarks ``row`` ("u", "c", "t") and ``column`` ("d", "s", "b")."""
        return self.magnitudes[self.rows.index(row)][self.columns.index(column)]

    def to_dataframe(self) -> Any:
        """The magnitudes as a pandas DataFrame indexed by ``rows``; ``kestrova[dataframe]``."""
        pandas = _display.pandas()
        return pandas.DataFrame(list(self.magnitudes), index=self.rows, columns=self.columns)

    def _table(self) -> Table:
        rows: list[tuple[_display.Cell, ...]] = [
            (row, *(Figure(m, "") for m in line))
            for row, line in zip(self.rows, self.magnitudes, strict=True)
        ]
        footer = [f"Jarlskog invariant J = {self.jarlskog!r} (dimensionless)"]
        return Table("The model's CKM matrix, |V_ij|", ("", *self.columns), rows, footer)


R = TypeVar("R", bound=_Record)


class Records(_display.Shown, tuple[R, ...]):
    """An immutable sequence of records, indexed by position or by name."""

    __slots__ = ()

    @overload
    def __getitem__(self, key: SupportsIndex) -> R: ...
    @overload
    def __getitem__(self, key: slice) -> tuple[R, ...]: ...
    @overload
    def __getitem__(self, key: str) -> R: ...
    def __getitem__(self, key: SupportsIndex | slice | str) -> R | tuple[R, ...]:
        if isinstance(key, str):
            for record in self:
                if record.name == key:
                    return record
            raise KeyError(key)
        return super().__getitem__(key)

    def to_dataframe(self) -> Any:
        """The records as a pandas DataFrame indexed by name; needs ``kestrova[dataframe]``."""
        return _display.dataframe([dataclasses.asdict(r) for r in self])  # type: ignore[call-overload]

    def _table(self) -> Table:
        header = type(self[0])._HEADER if self else ("name",)
        return Table("", header, [r._row() for r in self])


def _value(name: str, seen: tuple[str, ...] = ()) -> float:
    # A pending constant's figure is its expression's, which may name others.
    if name in seen:
        raise ValueError(f"the expression of {seen[0]} comes back to {name}")
    text = _pure.expression(name)
    if text is not None:
        return evaluate(text, lambda other: _value(other, (*seen, name)))
    value = _pure.Get(name)["value"]
    return math.nan if value is None else value


def constant(name: str) -> Constant:
    """Return the record of the constant ``name``.

    Raises ``KeyError`` for an unknown name and ``TypeError`` or
    ``ValueError`` for what is no name, like ``kestrova.Get``.
    """
    sheet = _pure.Get(name)
    expression = _pure.expression(sheet["name"])
    value = _value(sheet["name"])
    return Constant(
        name=sheet["name"],
        value=value,
        units=sheet["units"],
        uncertainty=sheet["uncertainty"],
        status=sheet["status"],
        expression=expression,
        description=_about.describe(sheet["name"]),
        from_expression=expression is not None,
    )


def constants() -> Records[Constant]:
    """Return the record of every constant, in the order of ``list_constants()``."""
    return Records(constant(name) for name in _pure.list_constants())


def quark(name: str) -> QuarkRecord:
    """Return the record of the quark ``name``; ``KeyError`` for a name that is no quark."""
    try:
        q = _pure.QUARKS[name]
    except KeyError:
        known = ", ".join(_pure.list_quarks())
        raise KeyError(f"quark `{name}` not found; the quarks are {known}") from None
    return QuarkRecord(name, *q, units="MeV", description=_about.describe(name))


def quarks() -> Records[QuarkRecord]:
    """Return the record of each of the six quarks, in the order of ``list_quarks()``."""
    return Records(quark(name) for name in _pure.list_quarks())


def ckm() -> CKM:
    """Return the model's CKM matrix: the identity, with Jarlskog invariant 0."""
    return CKM(
        magnitudes=_pure.CKM_MAGNITUDES,
        rows=("u", "c", "t"),
        columns=("d", "s", "b"),
        jarlskog=_pure.CKM_JARLSKOG,
        description=_about.describe(_about.CKM),
    )
