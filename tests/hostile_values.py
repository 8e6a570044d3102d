"""Hostile values: numbers and strings whose Python methods raise, lie or return
the wrong type, which the entry points must read directly or refuse cleanly."""

import math

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
