"""Every entry point called down every path it has, each call with its outcome.
test_call_frame checks the outcomes, test_leaks repeats each call watching the
interpreter's counts, and tests/drivers/boundary.py fails allocations under
each; test_hostile's properties draw on the same hostile values."""

import decimal
import fractions
import functools
import json
import math
import sys
from dataclasses import dataclass, field
from importlib import metadata

from data import (
    DISPLAY,
    NAMES,
    NO_CONSTRUCTOR,
    PANIC,
    QUARK_NAMES,
    VALUES,
    datasheet,
    missing,
    no_arguments,
    not_a_name,
    not_found,
    too_many,
    twice,
    unexpected,
)

import kestrova._norvel_core as core

Registry = core.PyFormulasRegistry
Quarks = core.PyQuarkRegistry
CKM = core.PyCKMMatrix
REGISTRY = Registry()
QUARK_REGISTRY = Quarks()
MATRIX = CKM.from_topology()
VERSION = metadata.version("kestrova")


B3, MISSING, SURROGATE, SPARE = "b3", "no such constant", "\ud800", object()


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


# ---- hostile values -------------------------------------------------------------


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


# ---- json.loads, which the interpreter lets anyone replace ----------------------

LOADS_RESULT = ["a", "list", 1.5]


def loads_returning(text):
    return LOADS_RESULT


def loads_raising(text):
    raise ValueError("refused")


def loads_raising_type_error(text):
    raise TypeError("not prefixed")


def loads_panicking(text):
    core.py_get_constant("")


def loads_calling_back(text):
    REGISTRY.get(B3)
    core.py_list_quarks()
    try:
        REGISTRY.get(MISSING)
    except KeyError:
        pass
    return json.JSONDecoder().decode(text)


def replaced(mapping, key, value, call):
    """`call` with mapping[key] set to `value` for its duration."""

    def swapped():
        saved, mapping[key] = mapping[key], value
        try:
            return call()
        finally:
            mapping[key] = saved

    return swapped


# ---- the table --------------------------------------------------------------------


@dataclass(frozen=True)
class Case:
    call: object
    expected: object  # as assert_same takes it
    watched: list = field(default_factory=list)  # objects whose references must not leak


CASES = {}


def add(name, call, expected, *watched):
    assert name not in CASES, name
    CASES[name] = Case(call, expected, list(watched))


def calling(function, *args, **kwargs):
    return lambda: function(*args, **kwargs)


# name, entry point, bound callable, result
NO_ARGUMENTS = [
    ("py_list_constants", "py_list_constants", core.py_list_constants, NAMES),
    ("py_list_quarks", "py_list_quarks", core.py_list_quarks, QUARK_NAMES),
    ("version", "PyFormulasRegistry.version", Registry.version, VERSION),
    ("version on instance", "PyFormulasRegistry.version", REGISTRY.version, VERSION),
    ("jarlskog", "PyCKMMatrix.jarlskog", MATRIX.jarlskog, 0.0),
    ("from topology", "PyCKMMatrix.from_topology", CKM.from_topology, CKM),
    ("from topology on instance", "PyCKMMatrix.from_topology", MATRIX.from_topology, CKM),
]
for name, path, function, result in NO_ARGUMENTS:
    add(name, function, result)
    add(
        f"{name} with argument",
        calling(function, SPARE),
        type_error(no_arguments(DISPLAY[path], 1)),
    )

for cls, instance, length in ((Registry, REGISTRY, len(NAMES)), (Quarks, QUARK_REGISTRY, 0)):
    display, other = DISPLAY[cls.__name__], QUARK_REGISTRY if cls is Registry else REGISTRY
    add(f"{cls.__name__}()", cls, cls)
    add(f"{cls.__name__}(x)", calling(cls, SPARE), type_error(too_many(display, 0, 1)))
    add(f"{cls.__name__}(x, x)", calling(cls, SPARE, B3), type_error(too_many(display, 0, 2)))
    add(f"{cls.__name__}(x=)", calling(cls, x=SPARE), type_error(unexpected(display, "x")))
    add(f"len {cls.__name__}", calling(len, instance), length)
    for receiver in (other, 5):
        add(
            f"len {cls.__name__} of {label(receiver)}",
            calling(cls.__len__, receiver),
            length_error(cls, receiver),
        )
add("PyCKMMatrix()", CKM, type_error(NO_CONSTRUCTOR))
add("PyCKMMatrix(x, x=)", calling(CKM, SPARE, x=SPARE), type_error(NO_CONSTRUCTOR))
for receiver in (REGISTRY, 5):
    add(
        f"jarlskog of {label(receiver)}",
        calling(CKM.jarlskog, receiver),
        descriptor_error("jarlskog", CKM, receiver),
    )

# The argument parser, at each entry point that takes an argument. Keywords are
# taken in order: the first that fails is the one reported. A keyword only
# starting or ending like the parameter is another keyword.
for function, path, param, good, result, other in [
    (REGISTRY.get, "PyFormulasRegistry.get", "name", B3, VALUES[B3], MATRIX),
    (core.py_get_constant, "py_get_constant", "name", B3, datasheet(B3), None),
    (MATRIX.is_unitary, "PyCKMMatrix.is_unitary", "tol", 0.5, True, QUARK_REGISTRY),
]:
    display, name = DISPLAY[path], path.rpartition(".")[2]
    for shown, args, kwargs, expected in [
        ("x", (good,), {}, result),
        (f"{param}=x", (), {param: good}, result),
        ("", (), {}, type_error(missing(display, param))),
        ("x, x", (good, good), {}, type_error(too_many(display, 1, 2))),
        ("x, x, x", (good, good, good), {}, type_error(too_many(display, 1, 3))),
        (f"x, {param}=x", (good,), {param: good}, type_error(twice(display, param))),
        *[
            (f"{key}=x", (), {key: good}, type_error(unexpected(display, key)))
            for key in (param[:-1], param + "s", SURROGATE)
        ],
        (f"bad=1, {param}=x", (), {"bad": 1, param: good}, type_error(unexpected(display, "bad"))),
        (
            f"x, {param}=x, bad=1",
            (good,),
            {param: good, "bad": 1},
            type_error(twice(display, param)),
        ),
    ]:
        add(f"{name}({ascii(shown)[1:-1]})", calling(function, *args, **kwargs), expected, good)
    if other is not None:
        method, receiver = getattr(type(function.__self__), name), function.__self__
        add(f"{name} unbound", calling(method, receiver, good), result, good)
        refused = descriptor_error(name, type(receiver), other)
        add(f"{name} of {label(other)}", calling(method, other, good), refused, good)

add("get(str subclass)", lambda: REGISTRY.get(PHI), VALUES["phi"], PHI, PlainStrSubclass)
add("get(missing)", lambda: REGISTRY.get(MISSING), Raises(KeyError, (not_found(MISSING),)), MISSING)
for name, expected in NAME_CASES:
    add(f"get {label(name)}", lambda name=name: REGISTRY.get(name), expected, name)
for tol, expected in TOLERANCES:
    watched = [tol, type(tol)] if type(tol).__module__ == __name__ else [tol]
    add(f"is_unitary {label(tol)}", lambda tol=tol: MATRIX.is_unitary(tol), expected, *watched)

# The type comes first: a falsy name of another type is no empty name.
for name, expected in [
    (PHI, datasheet("phi")),
    (MISSING, Raises(KeyError, (not_found(MISSING),))),
    ("", Raises(Panic, (PANIC,))),
    (SURROGATE, surrogate_error(SURROGATE, 0)),
    *[(name, type_error(not_a_name(type(name).__name__))) for name in (5, 0, None)],
]:
    add(f"py_get_constant {label(name)}", calling(core.py_get_constant, name), expected, name)
get_b3 = calling(core.py_get_constant, B3)
for loads, expected in [
    (loads_returning, LOADS_RESULT),
    (loads_raising, Raises(ValueError, ("refused",))),
    (loads_raising_type_error, type_error("not prefixed")),
    (loads_panicking, Raises(Panic, (PANIC,))),
    (loads_calling_back, datasheet(B3)),
]:
    with_loads = replaced(json.__dict__, "loads", loads, get_b3)
    add(
        f"py_get_constant, json.{loads.__name__}",
        with_loads,
        expected,
        B3,
        loads,
        LOADS_RESULT,
        json,
    )
# The name is looked up before json is imported.
for name, expected in [
    (B3, Raises(ModuleNotFoundError, ("import of json halted; None in sys.modules",))),
    (MISSING, Raises(KeyError, (not_found(MISSING),))),
]:
    without_json = replaced(sys.modules, "json", None, calling(core.py_get_constant, name))
    add(f"py_get_constant {name!r}, json unimportable", without_json, expected, name)
