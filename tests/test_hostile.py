"""Hostile arguments at every entry point: the answer is the right value or the
exact exception of the call frame, never a crash and never another exception."""

import ctypes
import decimal
import fractions
import math
import operator
import os
import sys
import warnings
from dataclasses import dataclass
from importlib import metadata

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kestrova._norvel_core as core

Registry = core.PyFormulasRegistry
Quarks = core.PyQuarkRegistry
CKM = core.PyCKMMatrix

# Memory-checker runs set a small scale: every example there costs a hundredfold.
SCALE = float(os.environ.get("KESTROVA_STRESS_SCALE", "1"))


def examples(count):
    return max(10, int(count * SCALE))


hostile = settings(
    max_examples=examples(400),
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

# name -> (value, units, status) of the seed table.
SEED = {
    "b3": (24.0, "dimensionless", "Seed"),
    "chi_eff": (72.0, "dimensionless", "Seed"),
    "gamma_em": (0.5772156649015329, "dimensionless", "Seed"),
    "h0_central": (0.0, "km/s/Mpc", "Pending"),
    "jc_constant": (153.0, "count", "Seed"),
    "logic_closure": (288.0, "count", "Seed"),
    "m_tau_mev": (0.0, "MeV", "Pending"),
    "n_gen": (3.0, "count", "Seed"),
    "n_gen_sq": (0.0, "count", "Pending"),
    "phi": (1.618033988749895, "dimensionless", "Seed"),
    "roots_total": (288.0, "count", "Seed"),
    "sterile_check": (0.0, "count", "Pending"),
    "sterile_sector": (163.0, "count", "Seed"),
    "topo_gen_check": (0.0, "count", "Pending"),
    "v_higgs_mev": (0.0, "MeV", "Pending"),
    "visible_sector": (125.0, "count", "Seed"),
    "w0_central": (0.0, "dimensionless", "Pending"),
}
NAMES = sorted(SEED)
QUARKS = ["bottom", "charm", "down", "strange", "top", "up"]
VERSION = metadata.version("kestrova")
PANIC_TEXT = "py_get_constant: name must be non-empty"

REGISTRY = Registry()
MATRIX = CKM.from_topology()


# ---- expected outcomes ------------------------------------------------------


@dataclass(frozen=True)
class Raises:
    type: type
    args: tuple
    cause: tuple | None = None  # (type, args) of the expected __cause__


class Expected(Exception):
    """Carries a Raises out of the reference model."""

    def __init__(self, raises):
        super().__init__(raises)
        self.raises = raises


def type_error(message):
    return Expected(Raises(TypeError, (message,)))


def outcome(call):
    """The value of `call()`, or the Raises describing what it raised."""
    try:
        return call()
    except Expected as expected:
        return expected.raises
    except BaseException as exc:  # noqa: BLE001 - PanicException is a BaseException
        cause = exc.__cause__
        return Raises(type(exc), exc.args, None if cause is None else (type(cause), cause.args))


def assert_same(actual, expected):
    if isinstance(expected, Raises):
        assert isinstance(actual, Raises), f"returned {actual!r}, expected {expected}"
        assert actual.type is expected.type, f"{actual} instead of {expected}"
        assert args_equal(actual.args, expected.args), f"{actual.args!r} != {expected.args!r}"
        if expected.cause is not None:
            assert actual.cause is not None and actual.cause[0] is expected.cause[0]
            assert args_equal(actual.cause[1], expected.cause[1])
    elif isinstance(expected, float):
        assert type(actual) is float and same_float(actual, expected)
    else:
        assert type(actual) is type(expected) and actual == expected


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


def parse(display, params, args, kwargs):
    """The call frame's argument parser: the parameters filled, or Expected."""
    if len(args) > len(params):
        given = len(args)
        raise type_error(
            f"{display} takes {len(params)} positional arguments but {given} "
            f"{'was' if given == 1 else 'were'} given"
        )
    filled = dict(zip(params, args, strict=False))  # args may stop short
    for key, value in kwargs.items():
        try:
            text = str.__str__(key)
            text.encode("utf-8")
        except UnicodeEncodeError:
            text = None
        if text not in params:
            raise type_error(f"{display} got an unexpected keyword argument '{key!s}'")
        if text in filled:
            raise type_error(f"{display} got multiple values for argument '{text}'")
        filled[text] = value
    for name in params:
        if name not in filled:
            raise type_error(f"{display} missing 1 required positional argument: '{name}'")
    return filled


def name_text(obj):
    if not isinstance(obj, str):
        raise type_error(
            f"argument 'name': '{type(obj).__qualname__}' object cannot be converted to 'PyString'"
        )
    text = str.__str__(obj)
    try:
        text.encode("utf-8")
    except UnicodeEncodeError as exc:
        raise Expected(Raises(UnicodeEncodeError, exc.args)) from None
    return text


def not_found(text):
    return Expected(Raises(KeyError, (f"constant `{text}` not found in registry",)))


def model_get(args, kwargs):
    text = name_text(parse("PyFormulasRegistry.get()", ["name"], args, kwargs)["name"])
    if text not in SEED:
        raise not_found(text)
    return SEED[text][0]


def model_get_constant(args, kwargs, panic_type):
    text = name_text(parse("py_get_constant()", ["name"], args, kwargs)["name"])
    if text == "":
        raise Expected(Raises(panic_type, (PANIC_TEXT,)))
    if text not in SEED:
        raise not_found(text)
    value, units, status = SEED[text]
    return {"name": text, "status": status, "uncertainty": None, "units": units, "value": value}


_as_double = ctypes.pythonapi.PyFloat_AsDouble
_as_double.argtypes = [ctypes.py_object]
_as_double.restype = ctypes.c_double


def model_tol(obj):
    """The double is_unitary compares, or Expected: the interpreter's own float
    conversion, with a TypeError renamed for the argument."""
    if type(obj) is float:
        return obj
    try:
        return _as_double(obj)
    except BaseException as exc:  # noqa: BLE001 - every failure is part of the model
        cause = exc.__cause__
        cause = None if cause is None else (type(cause), cause.args)
        if type(exc) is TypeError:
            raise Expected(Raises(TypeError, (f"argument 'tol': {exc}",), cause)) from None
        raise Expected(Raises(type(exc), exc.args, cause)) from None


def model_is_unitary(args, kwargs):
    tol = model_tol(parse("PyCKMMatrix.is_unitary()", ["tol"], args, kwargs)["tol"])
    # Every row of the identity matrix has a norm of exactly 1.
    return tol >= 0.0


def descriptor_error(method, cls, receiver):
    return refusal([complex.conjugate, float.hex], receiver, (method, f"builtins.{cls.__name__}"))


# ---- hostile values ---------------------------------------------------------


class Hostile(BaseException):
    """Not an Exception: it must pass through the frame untouched."""


class TypeErrorSubclass(TypeError):
    """Not exactly TypeError: it must not be renamed."""


RAISED = [
    ValueError,
    TypeError,
    TypeErrorSubclass,
    ZeroDivisionError,
    OverflowError,
    RuntimeError,
    KeyError,
    Hostile,
]


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
    """An object whose __float__ or __index__ returns `payload` or raises it."""

    def method(self):
        if behaviour == "return":
            return payload
        if cause:
            raise payload("from hostile number") from ValueError("the root")
        raise payload("from hostile number")

    return type(f"Hostile{dunder.strip('_').title()}", (), {dunder: method})()


surrogates = st.text(st.characters(codec=None, exclude_categories=[]), max_size=8)
short_text = st.one_of(
    st.text(max_size=12), surrogates, st.sampled_from(["", "\x00", "b3\x00", "φ", "B3"])
)
long_text = st.builds(operator.mul, st.text(min_size=1, max_size=3), st.integers(1_000, 200_000))

floats = st.one_of(
    st.floats(),
    st.sampled_from(
        [
            0.0,
            -0.0,
            math.inf,
            -math.inf,
            math.nan,
            5e-324,
            -5e-324,
            2.2250738585072014e-308,
            -1.0,
            1.7976931348623157e308,
        ]
    ),
)
big_ints = st.builds(
    operator.mul,
    st.sampled_from([1, -1]),
    st.builds(operator.pow, st.just(2), st.integers(1024, 4000)),
)

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    big_ints,
    floats,
    st.complex_numbers(),
    st.binary(max_size=8),
    st.builds(bytearray, st.binary(max_size=8)),
    st.builds(memoryview, st.binary(max_size=8)),
    short_text,
    st.decimals(),
    st.fractions(),
    st.builds(FloatSubclass, floats),
    st.sampled_from(
        [
            Ellipsis,
            NotImplemented,
            object(),
            int,
            str,
            type,
            Registry,
            CKM,
            len,
            sys,
            math.sqrt,
            range(3),
            slice(1, 2),
            ValueError("x"),
            decimal.Decimal("sNaN"),
            fractions.Fraction(1, 3),
            REGISTRY,
            MATRIX,
            Quarks(),
            REGISTRY.get,
            core.py_get_constant,
        ]
    ),
)

anything = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=3),
        st.tuples(inner),
        st.dictionaries(short_text, inner, max_size=3),
        st.frozensets(st.integers(), max_size=3),
        st.builds(set, st.lists(st.integers(), max_size=3)),
        st.builds(
            numeric,
            st.sampled_from(["__float__", "__index__"]),
            st.just("return"),
            inner,
            st.just(False),
        ),
    ),
    max_leaves=4,
)

hostile_numbers = st.one_of(
    st.builds(
        numeric,
        st.sampled_from(["__float__", "__index__"]),
        st.just("return"),
        st.one_of(floats, st.integers(), big_ints, st.builds(FloatSubclass, floats), anything),
        st.just(False),
    ),
    st.builds(
        numeric,
        st.sampled_from(["__float__", "__index__"]),
        st.just("raise"),
        st.sampled_from(RAISED),
        st.booleans(),
    ),
)

names = st.one_of(
    st.sampled_from(NAMES),
    st.builds(StrSubclass, st.sampled_from([*NAMES, "", "nope"])),
    st.builds(PlainStrSubclass, short_text),
    st.builds(operator.add, st.sampled_from(NAMES), st.sampled_from(["\x00", " ", "\ud800", "é"])),
    short_text,
    long_text,
    anything,
)
tolerances = st.one_of(floats, st.integers(), big_ints, st.booleans(), hostile_numbers, anything)

keywords = st.one_of(
    st.sampled_from(["name", "tol", "nam", "x", "\udc80", "name\x00", "名前"]),
    st.builds(PlainStrSubclass, st.sampled_from(["name", "tol", "\udc80"])),
    st.builds(
        type("LoudKey", (str,), {"__str__": lambda self: "loud"}), st.sampled_from(["name", "zz"])
    ),
    surrogates,
)


def calls(values, parameter):
    """(args, kwargs): mostly one well-placed argument, sometimes anything at all."""
    positional = st.tuples(st.tuples(values), st.just({}))
    keyword = st.tuples(st.just(()), st.fixed_dictionaries({parameter: values}))
    wild = st.tuples(
        st.lists(values, max_size=3).map(tuple), st.dictionaries(keywords, values, max_size=3)
    )
    return st.one_of(positional, positional, keyword, wild)


def receivers(instance):
    return st.one_of(st.just(instance), anything)


# ---- properties -------------------------------------------------------------


@hostile
@given(calls(names, "name"))
def test_get(call):
    args, kwargs = call
    assert_same(
        outcome(lambda: REGISTRY.get(*args, **kwargs)), outcome(lambda: model_get(args, kwargs))
    )


@hostile
@given(receivers(REGISTRY), calls(names, "name"))
def test_unbound_get(receiver, call):
    args, kwargs = call
    expected = (
        outcome(lambda: model_get(args, kwargs))
        if type(receiver) is Registry
        else descriptor_error("get", Registry, receiver)
    )
    assert_same(outcome(lambda: Registry.get(receiver, *args, **kwargs)), expected)


@hostile
@given(calls(names, "name"))
def test_get_constant(panic_exception, call):
    args, kwargs = call
    assert_same(
        outcome(lambda: core.py_get_constant(*args, **kwargs)),
        outcome(lambda: model_get_constant(args, kwargs, panic_exception)),
    )


@hostile
@given(calls(tolerances, "tol"))
def test_is_unitary(call):
    args, kwargs = call
    with warnings.catch_warnings():
        # A __float__ returning a float subclass warns; as an error it must pass through.
        warnings.simplefilter("error", DeprecationWarning)
        expected = outcome(lambda: model_is_unitary(args, kwargs))
        actual = outcome(lambda: MATRIX.is_unitary(*args, **kwargs))
    assert_same(actual, expected)


@hostile
@given(receivers(MATRIX), calls(tolerances, "tol"))
def test_unbound_is_unitary(receiver, call):
    args, kwargs = call
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        expected = (
            outcome(lambda: model_is_unitary(args, kwargs))
            if type(receiver) is CKM
            else descriptor_error("is_unitary", CKM, receiver)
        )
        actual = outcome(lambda: CKM.is_unitary(receiver, *args, **kwargs))
    assert_same(actual, expected)


@hostile
@given(st.lists(anything, max_size=3).map(tuple), st.dictionaries(keywords, anything, max_size=3))
def test_constructors(args, kwargs):
    for cls, display in [
        (Registry, "PyFormulasRegistry.__new__()"),
        (Quarks, "PyQuarkRegistry.__new__()"),
    ]:
        expected = outcome(lambda display=display: parse(display, [], args, kwargs))
        actual = outcome(lambda cls=cls: cls(*args, **kwargs))
        if expected == {}:
            assert type(actual) is cls and len(actual) == (17 if cls is Registry else 0)
        else:
            assert_same(actual, expected)
    assert_same(
        outcome(lambda: CKM(*args, **kwargs)),
        Raises(TypeError, ("No constructor defined for PyCKMMatrix",)),
    )


NO_ARGUMENTS = [
    (
        "kestrova._norvel_core.py_list_constants()",
        lambda *a, **k: core.py_list_constants(*a, **k),
        NAMES,
    ),
    (
        "kestrova._norvel_core.py_list_quarks()",
        lambda *a, **k: core.py_list_quarks(*a, **k),
        QUARKS,
    ),
    ("PyFormulasRegistry.version()", lambda *a, **k: Registry.version(*a, **k), VERSION),
    ("PyFormulasRegistry.version()", lambda *a, **k: REGISTRY.version(*a, **k), VERSION),
    ("PyCKMMatrix.jarlskog()", lambda *a, **k: MATRIX.jarlskog(*a, **k), 0.0),
    ("PyCKMMatrix.from_topology()", lambda *a, **k: CKM.from_topology(*a, **k), CKM),
    ("PyCKMMatrix.from_topology()", lambda *a, **k: MATRIX.from_topology(*a, **k), CKM),
]


@hostile
@given(
    st.sampled_from(NO_ARGUMENTS),
    st.lists(anything, max_size=3).map(tuple),
    st.dictionaries(keywords, anything, max_size=2),
)
def test_entries_without_arguments(entry, args, kwargs):
    display, call, result = entry
    actual = outcome(lambda: call(*args, **kwargs))
    if kwargs:
        assert_same(actual, Raises(TypeError, (f"{display} takes no keyword arguments",)))
    elif args:
        assert_same(
            actual, Raises(TypeError, (f"{display} takes no arguments ({len(args)} given)",))
        )
    elif result is CKM:
        assert type(actual) is CKM and actual is not MATRIX and actual.jarlskog() == 0.0
    else:
        assert_same(actual, result)


@hostile
@given(receivers(MATRIX))
def test_unbound_jarlskog(receiver):
    expected = 0.0 if type(receiver) is CKM else descriptor_error("jarlskog", CKM, receiver)
    assert_same(outcome(lambda: CKM.jarlskog(receiver)), expected)


@hostile
@given(st.sampled_from([(Registry, 17), (Quarks, 0)]), anything)
def test_length_slot(entry, receiver):
    cls, length = entry
    if type(receiver) is cls:
        expected = length
    else:
        expected = refusal(
            [str.__len__, bytes.__len__], receiver, ("__len__", f"builtins.{cls.__name__}")
        )
    assert_same(outcome(lambda: cls.__len__(receiver)), expected)


# ---- the cases the properties must never miss, each with its exact answer ----


def label(value):
    text = repr(value)
    return type(value).__name__ if " at 0x" in text else text[:40]


def float_returning(value):
    return numeric("__float__", "return", value, False)


def index_returning(value):
    return numeric("__index__", "return", value, False)


def converted(value):
    """What the interpreter says converting `value` as a built-in taking a float
    does; the call frame names the argument of a TypeError."""
    raises = outcome(lambda: math.isfinite(value))
    if raises.type is TypeError:
        return Raises(TypeError, (f"argument 'tol': {raises.args[0]}",))
    return raises


@pytest.mark.parametrize(
    "tol, expected",
    [
        (math.nan, False),
        (math.inf, True),
        (-math.inf, False),
        (-0.0, True),
        (5e-324, True),
        (-5e-324, False),
        (True, True),
        (False, True),
        (-1, False),
        (10**308, True),
        (FloatSubclass(-1.0), False),
        (float_returning(-0.0), True),
        (float_returning(math.nan), False),
        (float_returning(-1.0), False),  # the -1.0 of a failed conversion, but without an error
        (index_returning(-(10**300)), False),
        (decimal.Decimal("1e-400"), True),
        (fractions.Fraction(-1, 3), False),
        *[
            (value, converted(value))
            for value in [
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
        (
            numeric("__float__", "raise", ValueError, False),
            Raises(ValueError, ("from hostile number",)),
        ),
        (
            numeric("__float__", "raise", TypeErrorSubclass, False),
            Raises(TypeErrorSubclass, ("from hostile number",)),
        ),
        (numeric("__index__", "raise", Hostile, False), Raises(Hostile, ("from hostile number",))),
        (
            numeric("__float__", "raise", TypeError, True),
            Raises(
                TypeError, ("argument 'tol': from hostile number",), (ValueError, ("the root",))
            ),
        ),
    ],
    ids=label,
)
def test_tolerances(tol, expected):
    assert_same(outcome(lambda: MATRIX.is_unitary(tol)), expected)
    assert_same(outcome(lambda: MATRIX.is_unitary(tol=tol)), expected)


def test_float_subclass_returned_by_dunder_float_warns_and_is_used():
    with pytest.warns(DeprecationWarning):
        assert MATRIX.is_unitary(float_returning(FloatSubclass(-1.0))) is False
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            MATRIX.is_unitary(float_returning(FloatSubclass(1.0)))


@pytest.mark.parametrize(
    "name, expected",
    [
        ("b3\x00", Raises(KeyError, ("constant `b3\x00` not found in registry",))),
        ("\x00", Raises(KeyError, ("constant `\x00` not found in registry",))),
        ("φ", Raises(KeyError, ("constant `φ` not found in registry",))),
        ("b3" * 500_000, Raises(KeyError, (f"constant `{'b3' * 500_000}` not found in registry",))),
        ("\ud800", Raises(UnicodeEncodeError, ("utf-8", "\ud800", 0, 1, "surrogates not allowed"))),
        (
            "phi\udfff",
            Raises(UnicodeEncodeError, ("utf-8", "phi\udfff", 3, 4, "surrogates not allowed")),
        ),
        (StrSubclass("phi"), 1.618033988749895),
        (StrSubclass(""), Raises(KeyError, ("constant `` not found in registry",))),
        (
            b"b3",
            Raises(
                TypeError, ("argument 'name': 'bytes' object cannot be converted to 'PyString'",)
            ),
        ),
        (
            StrSubclass,
            Raises(
                TypeError, ("argument 'name': 'type' object cannot be converted to 'PyString'",)
            ),
        ),
        (
            numeric("__index__", "return", 1, False),
            Raises(
                TypeError,
                ("argument 'name': 'HostileIndex' object cannot be converted to 'PyString'",),
            ),
        ),
    ],
    ids=label,
)
def test_names(name, expected):
    assert_same(outcome(lambda: REGISTRY.get(name)), expected)
    assert_same(outcome(lambda: REGISTRY.get(name=name)), expected)


def test_str_subclass_name_reaches_the_datasheet_by_its_contents():
    assert core.py_get_constant(StrSubclass("phi")) == {
        "name": "phi",
        "status": "Seed",
        "uncertainty": None,
        "units": "dimensionless",
        "value": 1.618033988749895,
    }


def test_str_subclass_keywords_match_by_contents_and_report_by_str():
    assert REGISTRY.get(**{StrSubclass("name"): "b3"}) == 24.0
    with pytest.raises(TypeError) as info:
        REGISTRY.get(**{StrSubclass("nope"): "b3"})
    assert info.value.args == ("PyFormulasRegistry.get() got an unexpected keyword argument 'lie'",)
