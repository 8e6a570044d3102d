"""The pure-Python operations of kestrova, and the reference for the native core.

The tables below are written out here rather than read from
``kestrova._norvel_core``: the native functions are checked against them, so
they must not share a source of truth. Importing this module loads nothing
native; its cost is mostly the ``typing`` module, which the runtime
``Datasheet`` and ``Quark`` types need.
"""

from __future__ import annotations

import math
from typing import Literal, NamedTuple, TypedDict

#: The provenance of a constant, as the datasheet's "status" shows it.
Status = Literal["Seed", "Cached", "Pending", "External"]


class Datasheet(TypedDict):
    """The datasheet of one constant, as ``Get`` and its native twin return it.

    Its keys come in this order. A pending constant has "value" 0.0; the
    expression the model holds for it instead is not part of the datasheet
    (``kestrova get NAME`` shows it).
    """

    name: str
    status: Status
    uncertainty: float | None
    units: str
    value: float | None


class Quark(NamedTuple):
    """One of the six quarks: its generation and its rung on the mass ladder."""

    #: 1, 2 or 3
    generation: int
    #: n, the golden-ratio steps below the top of the ladder
    phi_exponent: int
    #: 246220.0 / phi**n, in MeV
    mass_mev: float
    #: mass_mev / 246220.0, that is phi**-n
    vev_fraction: float


__all__ = [
    "CKM_JARLSKOG",
    "CKM_MAGNITUDES",
    "QUARKS",
    "Datasheet",
    "Get",
    "Quark",
    "Status",
    "expression",
    "list_constants",
    "list_quarks",
]

# name -> (value, units, status, expression). A pending constant carries its
# figure only as an expression the registry never evaluates: either the
# decimal text of a number or a derivation over other constants. Its value
# is 0.0, and the datasheet leaves the expression out.
_CONSTANTS: dict[str, tuple[float, str, Status, str | None]] = {
    "b3": (24.0, "dimensionless", "Seed", None),
    "chi_eff": (72.0, "dimensionless", "Seed", None),
    "n_gen": (3.0, "count", "Seed", None),
    "roots_total": (288.0, "count", "Seed", None),
    "visible_sector": (125.0, "count", "Seed", None),
    "sterile_sector": (163.0, "count", "Seed", None),
    "phi": (1.618033988749895, "dimensionless", "Seed", None),
    "gamma_em": (0.5772156649015329, "dimensionless", "Seed", None),
    "jc_constant": (153.0, "count", "Seed", None),
    "logic_closure": (288.0, "count", "Seed", None),
    "v_higgs_mev": (0.0, "MeV", "Pending", "246220"),
    "sterile_check": (0.0, "count", "Pending", "roots_total - visible_sector"),
    "n_gen_sq": (0.0, "count", "Pending", "n_gen * n_gen"),
    "h0_central": (0.0, "km/s/Mpc", "Pending", "70"),
    "w0_central": (0.0, "dimensionless", "Pending", "-1"),
    "m_tau_mev": (0.0, "MeV", "Pending", "1776.86"),
    "topo_gen_check": (0.0, "count", "Pending", "chi_eff / b3"),
}

#: The six Standard-Model quarks. ``mass_mev`` is 246220.0 / phi**phi_exponent
#: and ``vev_fraction`` is ``mass_mev / 246220.0``, both as the exact doubles
#: that double arithmetic gives; stored, not recomputed.
QUARKS: dict[str, Quark] = {
    "up": Quark(1, 12, 764.665760128228, 0.003105620015141857),
    "down": Quark(1, 11, 1237.2551899207474, 0.005024998740641489),
    "strange": Quark(2, 8, 5241.0970900186985, 0.02128623625220818),
    "charm": Quark(2, 5, 22201.643549995544, 0.09016994374947422),
    "bottom": Quark(3, 4, 35923.013870002665, 0.14589803375031543),
    "top": Quark(3, 0, 246220.0, 1.0),
}


#: The model's CKM matrix, row by row (u, c, t against d, s, b): the
#: identity, no mixing between generations; ``PyCKMMatrix.from_topology()``
#: builds the same one natively.
CKM_MAGNITUDES: tuple[tuple[float, float, float], ...] = (
    (1.0, 0.0, 0.0),
    (0.0, 1.0, 0.0),
    (0.0, 0.0, 1.0),
)
#: Its Jarlskog invariant, stored with it: no CP violation.
CKM_JARLSKOG = 0.0


def _utf8(name: str) -> bytes:
    return name.encode("utf-8")


def list_constants() -> list[str]:
    """Return the names of all known constants, sorted byte-wise.

    Every call returns a new list. ``kestrova._norvel_core.py_list_constants``
    is the native twin.
    """
    # Code-point order of str is the byte order of its UTF-8 form: no key needed.
    return sorted(_CONSTANTS)


def list_quarks() -> list[str]:
    """Return the names of the six Standard-Model quarks, sorted byte-wise.

    Every call returns a new list. ``kestrova._norvel_core.py_list_quarks`` is
    the native twin.
    """
    return sorted(QUARKS, key=_utf8)


def Get(name: str) -> Datasheet:
    """Return the datasheet of the constant ``name``.

    The datasheet is a new ``dict`` with the keys "name", "status",
    "uncertainty", "units" and "value", in that order; names match exactly,
    case-sensitive and untrimmed. ``kestrova._norvel_core.py_get_constant`` is
    the native twin and returns an equal dictionary.

    Raises ``KeyError`` with the registry's not-found text for an unknown
    name, ``TypeError`` for a name that is not a ``str`` and
    ``UnicodeEncodeError`` for one that is not valid UTF-8 (lone surrogates),
    like the native twin.

    The empty name breaks the function's precondition. Here that is an
    ordinary ``ValueError``; the native twin panics instead, raising
    ``PanicException``, which derives from ``BaseException`` and so escapes
    ``except Exception``.
    """
    if not isinstance(name, str):
        raise TypeError(
            f"argument 'name': '{type(name).__qualname__}' object cannot be converted to 'PyString'"
        )
    # A str subclass may override __eq__, __hash__ or __str__; the native
    # twin sees only the characters, so look them up as a plain str.
    key = str.__str__(name)
    _utf8(key)  # lone surrogates fail here, before the empty check, as natively
    if not key:
        raise ValueError("Get: name must be non-empty")
    value, units, status, _ = _row(key)
    return {
        "name": key,
        "status": status,
        "uncertainty": None,
        "units": units,
        "value": value if math.isfinite(value) else None,
    }


def expression(name: str) -> str | None:
    """Return the expression a pending constant holds instead of its value.

    That is the decimal text of the model's figure ("246220" for
    ``v_higgs_mev``) or a derivation over other constants ("n_gen * n_gen"
    for ``n_gen_sq``), which nothing evaluates. Seed constants have none:
    the result is ``None``. Raises ``KeyError`` like ``Get`` for an unknown
    name.
    """
    return _row(name)[3]


def _row(name: str) -> tuple[float, str, Status, str | None]:
    try:
        return _CONSTANTS[name]
    except KeyError:
        raise KeyError(f"constant `{name}` not found in registry") from None


def datasheet_json(sheet: Datasheet) -> str:
    """Write a datasheet as the compact JSON text the native core parses.

    Keys in byte-wise order, no whitespace, non-ASCII characters unescaped,
    non-finite numbers as null, and every number with a point or an exponent
    so that it reads back as a float.
    """
    members = sorted(sheet.items(), key=lambda item: _utf8(item[0]))
    return "{" + ",".join(f"{_string(k)}:{_value(v)}" for k, v in members) + "}"


def _string(text: str) -> str:
    out = ['"']
    for ch in text:
        if ch == '"' or ch == "\\":
            out.append("\\" + ch)
        elif ch in _SHORT_ESCAPES:
            out.append(_SHORT_ESCAPES[ch])
        elif ch < " ":
            out.append(f"\\u{ord(ch):04x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


_SHORT_ESCAPES = {"\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f", "\r": "\\r"}


def _value(value: object) -> str:
    if value is None:
        return "null"
    if isinstance(value, str):
        return _string(value)
    if isinstance(value, float):
        return _number(value)
    raise TypeError(f"a datasheet holds no {type(value).__name__}")


def _number(x: float) -> str:
    if not math.isfinite(x):
        return "null"
    if x == 0.0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    if x < 0:
        return "-" + _number(-x)
    # repr() gives the shortest digits that read back as x; only the layout
    # differs from the text the native core writes.
    mantissa, _, exponent = repr(x).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    stripped = digits.lstrip("0")
    e = len(whole) - 1 - (len(digits) - len(stripped)) + int(exponent or 0)
    digits = stripped.rstrip("0")
    if -5 <= e <= -1:
        return "0." + "0" * (-e - 1) + digits
    if 0 <= e <= 15:
        if len(digits) > e + 1:
            return digits[: e + 1] + "." + digits[e + 1 :]
        return digits + "0" * (e + 1 - len(digits)) + ".0"
    tail = "." + digits[1:] if len(digits) > 1 else ""
    return f"{digits[0]}{tail}e{'+' if e > 0 else '-'}{abs(e)}"
