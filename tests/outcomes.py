"""What a call did, and how two outcomes compare: the call table and the tests that
run it judge every call by these."""

import functools
import math
from dataclasses import dataclass

import kestrova._norvel_core as core


class Panic(BaseException):
    """Stands for PanicException, whose class only a panic hands out: the fault
    driver wants a process that has raised none."""


@functools.cache
def panic_class():
    try:
        core.py_get_constant("")
    except BaseException as exc:  # noqa: BLE001 - the class is what we are after
        return type(exc)
    raise AssertionError("the empty name did not panic")


@dataclass(frozen=True)
class Raises:
    type: type
    args: tuple
    cause: tuple | None = None  # (type, args) of the expected __cause__

    @property
    def cls(self):
        return panic_class() if self.type is Panic else self.type


def type_error(message):
    return Raises(TypeError, (message,))


def outcome(call):
    """The value of `call()`, or the Raises describing what it raised."""
    try:
        return call()
    except BaseException as exc:  # noqa: BLE001 - PanicException is a BaseException
        cause = exc.__cause__
        return Raises(type(exc), exc.args, None if cause is None else (type(cause), cause.args))


def assert_same(actual, expected):
    """`expected` is a Raises, a type the value must have exactly, or the value:
    floats bit for bit, dictionaries key by key in order."""
    if isinstance(expected, Raises):
        assert isinstance(actual, Raises), f"returned {actual!r}, expected {expected}"
        assert actual.type is expected.cls, f"{actual} instead of {expected}"
        assert args_equal(actual.args, expected.args), f"{actual.args!r} != {expected.args!r}"
        if expected.cause is not None:
            assert actual.cause is not None and actual.cause[0] is expected.cause[0]
            assert args_equal(actual.cause[1], expected.cause[1])
    elif isinstance(expected, type):
        assert type(actual) is expected, f"{actual!r} is no {expected.__name__}"
    elif isinstance(expected, dict):
        assert type(actual) is dict and list(actual) == list(expected), actual
        for key, value in expected.items():
            assert_same(actual[key], value)
    elif isinstance(expected, float):
        assert type(actual) is float and same_float(actual, expected), f"{actual!r}"
    else:
        assert type(actual) is type(expected) and actual == expected, f"{actual!r}"


def args_equal(left, right):
    # Strings are compared as their exact contents: a str subclass may lie in __eq__.
    if len(left) != len(right):
        return False
    for a, b in zip(left, right, strict=True):
        if isinstance(a, str) and isinstance(b, str):
            if str.__str__(a) != str.__str__(b):
                return False
        elif isinstance(a, float) and isinstance(b, float):
            if not same_float(a, b):
                return False
        elif not (a is b or a == b):
            return False
    return True


def same_float(a, b):
    return a.hex() == b.hex() or (math.isnan(a) and math.isnan(b))


def refusal(probes, receiver, renames):
    """What the interpreter says when one of the built-in descriptors `probes`
    refuses `receiver`, with the probe's names swapped for ours: the wording and
    the way the receiver's type is named are whatever the running version uses."""
    probe = next(p for p in probes if not issubclass(type(receiver), p.__objclass__))
    try:
        probe(receiver)
    except TypeError as exc:
        text = str(exc)
    else:
        raise AssertionError(f"{probe} accepted {receiver!r}")
    for theirs, ours in zip((probe.__name__, probe.__objclass__.__name__), renames, strict=True):
        text = text.replace(f"'{theirs}'", f"'{ours}'", 1)
    return Raises(TypeError, (text,))


def descriptor_error(method, cls, receiver):
    return refusal([complex.conjugate, float.hex], receiver, (method, f"builtins.{cls.__name__}"))


def length_error(cls, receiver):
    return refusal([str.__len__, bytes.__len__], receiver, ("__len__", f"builtins.{cls.__name__}"))


def label(value):
    text = repr(value)
    if " at 0x" in text:
        return type(value).__name__
    if isinstance(value, (str, float)) and type(value) not in (str, float):
        text = f"{type(value).__name__}({text})"
    return text if len(text) <= 40 else f"{text[:30]}...({len(text)} characters)"
