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

import pytest
from cases import CKM, MATRIX, NAME_CASES, NO_ARGUMENTS, REGISTRY, TOLERANCES, Quarks, Registry
from data import (
    DISPLAY,
    NAMES,
    NO_CONSTRUCTOR,
    PANIC,
    VALUES,
    datasheet,
    missing,
    no_arguments,
    no_keywords,
    not_a_name,
    not_found,
    too_many,
    twice,
    unexpected,
)
from hostile_values import (
    FloatSubclass,
    Hostile,
    PlainStrSubclass,
    StrSubclass,
    TypeErrorSubclass,
    float_returning,
    numeric,
)
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from outcomes import Raises, assert_same, descriptor_error, label, length_error, type_error
from outcomes import outcome as run

import kestrova._norvel_core as core

# Memory-checker runs set a small scale: every example there costs a hundredfold.
SCALE = float(os.environ.get("KESTROVA_STRESS_SCALE", "1"))


def examples(count):
    return max(10, int(count * SCALE))


hostile = settings(
    max_examples=examples(400),
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

# ---- the reference model ----------------------------------------------------


class Expected(Exception):
    """Carries a Raises out of the reference model."""

    def __init__(self, raises):
        super().__init__(raises)
        self.raises = raises


def refuse(message):
    return Expected(type_error(message))


def outcome(call):
    """The value of `call()`, or the Raises describing what it raised."""
    result = run(call)
    return result.args[0] if isinstance(result, Raises) and result.type is Expected else result


def parse(display, params, args, kwargs):
    """The call frame's argument parser: the parameters filled, or Expected."""
    if len(args) > len(params):
        raise refuse(too_many(display, len(params), len(args)))
    filled = dict(zip(params, args, strict=False))  # args may stop short
    for key, value in kwargs.items():
        try:
            text = str.__str__(key)
            text.encode("utf-8")
        except UnicodeEncodeError:
            text = None
        if text not in params:
            raise refuse(unexpected(display, f"{key!s}"))
        if text in filled:
            raise refuse(twice(display, text))
        filled[text] = value
    for name in params:
        if name not in filled:
            raise refuse(missing(display, name))
    return filled


def name_text(obj):
    if not isinstance(obj, str):
        raise refuse(not_a_name(type(obj).__qualname__))
    text = str.__str__(obj)
    try:
        text.encode("utf-8")
    except UnicodeEncodeError as exc:
        raise Expected(Raises(UnicodeEncodeError, exc.args)) from None
    return text


def known(text):
    if text not in VALUES:
        raise Expected(Raises(KeyError, (not_found(text),)))
    return text


def model_get(args, kwargs):
    return VALUES[
        known(name_text(parse(DISPLAY["PyFormulasRegistry.get"], ["name"], args, kwargs)["name"]))
    ]


def model_get_constant(args, kwargs, panic_type):
    text = name_text(parse(DISPLAY["py_get_constant"], ["name"], args, kwargs)["name"])
    if text == "":
        raise Expected(Raises(panic_type, (PANIC,)))
    return datasheet(known(text))


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
    tol = model_tol(parse(DISPLAY["PyCKMMatrix.is_unitary"], ["tol"], args, kwargs)["tol"])
    # Every row of the identity matrix has a norm of exactly 1.
    return tol >= 0.0


# ---- hostile values ---------------------------------------------------------

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
    for cls, length in [(Registry, len(NAMES)), (Quarks, 0)]:
        display = DISPLAY[cls.__name__]
        expected = outcome(lambda display=display: parse(display, [], args, kwargs))
        actual = outcome(lambda cls=cls: cls(*args, **kwargs))
        if expected == {}:
            assert type(actual) is cls and len(actual) == length
        else:
            assert_same(actual, expected)
    assert_same(outcome(lambda: CKM(*args, **kwargs)), type_error(NO_CONSTRUCTOR))


@hostile
@given(
    st.sampled_from(NO_ARGUMENTS),
    st.lists(anything, max_size=3).map(tuple),
    st.dictionaries(keywords, anything, max_size=2),
)
def test_entries_without_arguments(entry, args, kwargs):
    _, path, call, result = entry
    actual = outcome(lambda: call(*args, **kwargs))
    if kwargs:
        assert_same(actual, type_error(no_keywords(DISPLAY[path])))
    elif args:
        assert_same(actual, type_error(no_arguments(DISPLAY[path], len(args))))
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
@given(st.sampled_from([(Registry, len(NAMES)), (Quarks, 0)]), anything)
def test_length_slot(entry, receiver):
    cls, length = entry
    expected = length if type(receiver) is cls else length_error(cls, receiver)
    assert_same(outcome(lambda: cls.__len__(receiver)), expected)


# ---- the cases the properties must never miss, each with its exact answer ----


@pytest.mark.parametrize("tol, expected", TOLERANCES, ids=label)
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


@pytest.mark.parametrize("name, expected", NAME_CASES, ids=label)
def test_names(name, expected):
    assert_same(outcome(lambda: REGISTRY.get(name)), expected)
    assert_same(outcome(lambda: REGISTRY.get(name=name)), expected)


def test_str_subclass_name_reaches_the_datasheet_by_its_contents():
    assert_same(core.py_get_constant(StrSubclass("phi")), datasheet("phi"))


def test_str_subclass_keywords_match_by_contents_and_report_by_str():
    assert REGISTRY.get(**{StrSubclass("name"): "b3"}) == VALUES["b3"]
    with pytest.raises(TypeError) as info:
        REGISTRY.get(**{StrSubclass("nope"): "b3"})
    assert info.value.args == (unexpected(DISPLAY["PyFormulasRegistry.get"], "lie"),)
