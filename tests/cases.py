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


class Name(str):
    pass


B3, PHI, MISSING, SURROGATE, SPARE = "b3", Name("phi"), "no such constant", "\ud800", object()


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


NEW, GET = DISPLAY["PyFormulasRegistry"], DISPLAY["PyFormulasRegistry.get"]
GET_CONSTANT, IS_UNITARY = DISPLAY["py_get_constant"], DISPLAY["PyCKMMatrix.is_unitary"]

# PyFormulasRegistry
add("registry new", lambda: Registry(), Registry)
add("registry new with argument", lambda: Registry(SPARE), type_error(too_many(NEW, 0, 1)))
add("registry new with two arguments", lambda: Registry(SPARE, B3), type_error(too_many(NEW, 0, 2)))
add("registry new with keyword", lambda: Registry(x=SPARE), type_error(unexpected(NEW, "x")))
add("get", lambda: REGISTRY.get(B3), 24.0, B3)
add("get by keyword", lambda: REGISTRY.get(name=B3), 24.0, B3)
add("get str subclass", lambda: REGISTRY.get(PHI), VALUES["phi"], PHI, Name)
add("get unbound", lambda: Registry.get(REGISTRY, B3), 24.0, B3)
add("get missing", lambda: REGISTRY.get(MISSING), Raises(KeyError, (not_found(MISSING),)), MISSING)
for name, expected in NAME_CASES:
    add(f"get {label(name)}", lambda name=name: REGISTRY.get(name), expected, name)
add("get no argument", lambda: REGISTRY.get(), type_error(missing(GET, "name")))
add("get two arguments", lambda: REGISTRY.get(B3, B3), type_error(too_many(GET, 1, 2)), B3)
add("get twice", lambda: REGISTRY.get(B3, name=B3), type_error(twice(GET, "name")), B3)
add("get bad keyword", lambda: REGISTRY.get(nam=B3), type_error(unexpected(GET, "nam")), B3)
# Keywords are taken in order: the first that fails is the one reported.
add(
    "get bad keyword first",
    lambda: REGISTRY.get(bad=1, name=B3),
    type_error(unexpected(GET, "bad")),
)
add("get twice, then bad", lambda: REGISTRY.get(B3, name=B3, bad=1), type_error(twice(GET, "name")))
add(
    "get non-utf8 keyword",
    lambda: REGISTRY.get(**{SURROGATE: B3}),
    type_error(unexpected(GET, SURROGATE)),
    SURROGATE,
    B3,
)
add(
    "get wrong receiver",
    lambda: Registry.get(MATRIX, B3),
    type_error(
        "descriptor 'get' for 'builtins.PyFormulasRegistry' objects doesn't apply "
        "to a 'builtins.PyCKMMatrix' object"
    ),
    B3,
)
add("len", lambda: len(REGISTRY), len(NAMES))
add(
    "len wrong receiver",
    lambda: Registry.__len__(QUARK_REGISTRY),
    type_error(
        "descriptor '__len__' requires a 'builtins.PyFormulasRegistry' object but "
        "received a 'builtins.PyQuarkRegistry'"
    ),
)
add("len of an int", lambda: Registry.__len__(5), length_error(Registry, 5))
add("version", lambda: Registry.version(), VERSION)
add("version on instance", lambda: REGISTRY.version(), VERSION)
add(
    "version with argument",
    lambda: Registry.version(SPARE),
    type_error(no_arguments(DISPLAY["PyFormulasRegistry.version"], 1)),
)

# module functions
for function, listing in (("py_list_constants", NAMES), ("py_list_quarks", QUARK_NAMES)):
    call = getattr(core, function)
    add(function, lambda call=call: call(), listing)
    add(
        f"{function} with argument",
        lambda call=call: call(SPARE),
        type_error(no_arguments(DISPLAY[function], 1)),
    )
add("get constant", lambda: core.py_get_constant(B3), datasheet(B3), B3)
add("get constant by keyword", lambda: core.py_get_constant(name=PHI), datasheet("phi"), PHI)
add(
    "get constant missing",
    lambda: core.py_get_constant(MISSING),
    Raises(KeyError, (not_found(MISSING),)),
    MISSING,
)
add("get constant empty", lambda: core.py_get_constant(""), Raises(Panic, (PANIC,)))
# The type comes first: a falsy name of another type is no empty name.
for name in (5, 0, None):
    add(
        f"get constant {name!r}",
        lambda name=name: core.py_get_constant(name),
        type_error(not_a_name(type(name).__name__)),
        name,
    )
add(
    "get constant surrogate", lambda: core.py_get_constant(SURROGATE), surrogate_error(SURROGATE, 0)
)
add(
    "get constant no argument",
    lambda: core.py_get_constant(),
    type_error(missing(GET_CONSTANT, "name")),
)
add(
    "get constant bad keyword",
    lambda: core.py_get_constant(x=B3),
    type_error(unexpected(GET_CONSTANT, "x")),
    B3,
)
add(
    "get constant two arguments",
    lambda: core.py_get_constant(B3, B3),
    type_error(too_many(GET_CONSTANT, 1, 2)),
    B3,
)
add(
    "get constant three arguments",
    lambda: core.py_get_constant(B3, B3, B3),
    type_error(too_many(GET_CONSTANT, 1, 3)),
    B3,
)
add(
    "get constant twice",
    lambda: core.py_get_constant(B3, name=B3),
    type_error(twice(GET_CONSTANT, "name")),
    B3,
)
for loads, expected in [
    (loads_returning, LOADS_RESULT),
    (loads_raising, Raises(ValueError, ("refused",))),
    (loads_raising_type_error, type_error("not prefixed")),
    (loads_panicking, Raises(Panic, (PANIC,))),
    (loads_calling_back, datasheet(B3)),
]:
    add(
        f"get constant, json.{loads.__name__}",
        replaced(json.__dict__, "loads", loads, lambda: core.py_get_constant(B3)),
        expected,
        B3,
        loads,
        LOADS_RESULT,
        json,
    )
add(
    "get constant, json unimportable",
    replaced(sys.modules, "json", None, lambda: core.py_get_constant(B3)),
    Raises(ModuleNotFoundError, ("import of json halted; None in sys.modules",)),
    B3,
)
# The name is looked up before json is imported.
add(
    "get constant missing, json unimportable",
    replaced(sys.modules, "json", None, lambda: core.py_get_constant(MISSING)),
    Raises(KeyError, (not_found(MISSING),)),
    MISSING,
)

# PyQuarkRegistry
NEW = DISPLAY["PyQuarkRegistry"]
add("quarks new", lambda: Quarks(), Quarks)
add("quarks new with argument", lambda: Quarks(SPARE), type_error(too_many(NEW, 0, 1)))
add("quarks new with keyword", lambda: Quarks(x=SPARE), type_error(unexpected(NEW, "x")))
add("quarks len", lambda: len(QUARK_REGISTRY), 0)
add("quarks len wrong receiver", lambda: Quarks.__len__(REGISTRY), length_error(Quarks, REGISTRY))

# PyCKMMatrix
add("ckm new", lambda: CKM(), type_error(NO_CONSTRUCTOR))
add("ckm new with arguments", lambda: CKM(SPARE, x=SPARE), type_error(NO_CONSTRUCTOR))
add("from topology", lambda: CKM.from_topology(), CKM)
add("from topology on instance", lambda: MATRIX.from_topology(), CKM)
add(
    "from topology with argument",
    lambda: CKM.from_topology(SPARE),
    type_error(no_arguments(DISPLAY["PyCKMMatrix.from_topology"], 1)),
)
add("jarlskog", lambda: MATRIX.jarlskog(), 0.0)
add(
    "jarlskog wrong receiver",
    lambda: CKM.jarlskog(REGISTRY),
    type_error(
        "descriptor 'jarlskog' for 'builtins.PyCKMMatrix' objects doesn't apply "
        "to a 'builtins.PyFormulasRegistry' object"
    ),
)
add("jarlskog of an int", lambda: CKM.jarlskog(5), descriptor_error("jarlskog", CKM, 5))
add(
    "jarlskog with argument",
    lambda: MATRIX.jarlskog(SPARE),
    type_error(no_arguments(DISPLAY["PyCKMMatrix.jarlskog"], 1)),
)
for tol, expected in TOLERANCES:
    watched = [tol, type(tol)] if type(tol).__module__ == __name__ else [tol]
    add(f"is unitary {label(tol)}", lambda tol=tol: MATRIX.is_unitary(tol), expected, *watched)
add("is unitary by keyword", lambda: MATRIX.is_unitary(tol=0.0), True)
add("is unitary missing", lambda: MATRIX.is_unitary(), type_error(missing(IS_UNITARY, "tol")))
add(
    "is unitary twice",
    lambda: MATRIX.is_unitary(0.5, tol=0.5),
    type_error(twice(IS_UNITARY, "tol")),
)
add(
    "is unitary two arguments",
    lambda: MATRIX.is_unitary(0.5, 0.5),
    type_error(too_many(IS_UNITARY, 1, 2)),
)
add(
    "is unitary bad keyword",
    lambda: MATRIX.is_unitary(tolerance=0.5),
    type_error(unexpected(IS_UNITARY, "tolerance")),
)
add(
    "is unitary wrong receiver",
    lambda: CKM.is_unitary(QUARK_REGISTRY, 0.5),
    type_error(
        "descriptor 'is_unitary' for 'builtins.PyCKMMatrix' objects doesn't "
        "apply to a 'builtins.PyQuarkRegistry' object"
    ),
)
