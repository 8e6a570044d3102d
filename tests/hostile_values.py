"""Hostile values: numbers and strings whose Python methods raise, lie or return
the wrong type, which the entry points must read directly or refuse cleanly."""

import decimal
import fractions
import math

from data import VALUES, not_a_name, not_found
from outcomes import Raises, label, outcome, type_error


class Hostile(BaseException):
    """Not an Exception: it must pass through the frame untouched."""


class TypeErrorSubclass(TypeError):
    """Not exactly TypeError: it must not be renamed."""


class FloatSubclass(float):
    def __float__(self):
        raise AssertionError("a float subclass is read directly")


class StrSubclass(str):
    """Lies about everything a C function could ask it through Python."""

    def __eq__(self, other):
        return False

    def __hash__(self):
        return 0

    def __str__(self):
        return "lie"

    def __len__(self):
        return 0

    def encode(self, *args, **kwargs):
        raise AssertionError("the text is read directly")


class PlainStrSubclass(str):
    pass


PHI = PlainStrSubclass("phi")


def numeric(dunder, behaviour, payload, cause):
    """An object whose __float__ or __index__ returns `payload` or raises it
    (a fresh exception each time: a reused one grows its traceback)."""

    def method(self):
        if behaviour == "return":
            return payload
        if cause:
            raise payload("from hostile number") from ValueError("the root")
        raise payload("from hostile number")

    shown = label(payload) if behaviour == "return" else payload.__name__
    text = f"<{dunder} {behaviour}s {shown}{' with a cause' if cause else ''}>"
    name = f"Hostile{dunder.strip('_').title()}"
    return type(name, (), {dunder: method, "__repr__": lambda self: text})()


def float_returning(value):
    return numeric("__float__", "return", value, False)


def index_returning(value):
    return numeric("__index__", "return", value, False)


def converted(value):
    """What the interpreter says converting `value` as a built-in taking a float
    does; the call frame names the argument of a TypeError."""
    raises = outcome(lambda: math.isfinite(value))
    if raises.type is TypeError:
        return type_error(f"argument 'tol': {raises.args[0]}")
    return raises


def hostile(error):
    return Raises(error, ("from hostile number",))


# is_unitary of the identity matrix: every row's norm is exactly 1.
TOLERANCES = [
    *[(tol, True) for tol in (0.5, 0.0, -0.0, 1e-9, math.inf, 5e-324, 0, 5, True, False)],
    *[(tol, False) for tol in (-1e-12, -math.inf, math.nan, -5e-324, -1)],
    (10**308, True),
    (FloatSubclass(-1.0), False),
    (fractions.Fraction(1, 3), True),
    (fractions.Fraction(-1, 3), False),
    (decimal.Decimal("-0.5"), False),
    (decimal.Decimal("1e-400"), True),
    (float_returning(0.25), True),
    (float_returning(-0.0), True),
    (float_returning(math.nan), False),
    (float_returning(-1.0), False),  # the -1.0 of a failed conversion, but without an error
    (index_returning(7), True),
    (index_returning(-(10**300)), False),
    *[
        (tol, converted(tol))
        for tol in [
            10**400,
            -(10**400),
            index_returning(10**400),
            decimal.Decimal("sNaN"),
            "0.5",
            None,
            1j,
            float_returning("0.5"),
            float_returning(1),
            index_returning(0.5),
        ]
    ],
    (numeric("__float__", "raise", ValueError, False), hostile(ValueError)),
    (numeric("__float__", "raise", ZeroDivisionError, False), hostile(ZeroDivisionError)),
    (numeric("__float__", "raise", TypeErrorSubclass, False), hostile(TypeErrorSubclass)),
    (numeric("__float__", "raise", Hostile, False), hostile(Hostile)),
    (numeric("__index__", "raise", Hostile, False), hostile(Hostile)),
    (
        numeric("__float__", "raise", TypeError, True),
        Raises(TypeError, ("argument 'tol': from hostile number",), (ValueError, ("the root",))),
    ),
]


def surrogate_error(text, start):
    return Raises(UnicodeEncodeError, ("utf-8", text, start, start + 1, "surrogates not allowed"))


# PyFormulasRegistry.get's name argument.
NAME_CASES = [
    *[
        (name, Raises(KeyError, (not_found(name),)))
        for name in ("b3\x00", "\x00", "φ", "", "x" * 100_000)
    ],
    ("\ud800", surrogate_error("\ud800", 0)),
    ("phi\udfff", surrogate_error("phi\udfff", 3)),
    (StrSubclass("phi"), VALUES["phi"]),
    (StrSubclass(""), Raises(KeyError, (not_found(""),))),
    *[(name, type_error(not_a_name(type(name).__name__))) for name in (5, b"b3", None)],
    (StrSubclass, type_error(not_a_name("type"))),
    (index_returning(1), type_error(not_a_name("HostileIndex"))),
]
