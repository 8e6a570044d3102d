"""Hostile arguments at every entry point: the answer is the right value or the
exact exception of the call frame, never a crash and never another exception."""

import os
import warnings

import pytest
from cases import CKM, MATRIX, NO_ARGUMENTS, REGISTRY, Quarks, Registry
from data import (
    DISPLAY,
    NAMES,
    NO_CONSTRUCTOR,
    VALUES,
    datasheet,
    no_arguments,
    no_keywords,
    unexpected,
)
from hostile_values import (
    NAME_CASES,
    TOLERANCES,
    FloatSubclass,
    StrSubclass,
    float_returning,
)
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from outcomes import assert_same, descriptor_error, label, length_error, type_error
from reference_model import model_get, model_get_constant, model_is_unitary, outcome, parse
from strategies import anything, calls, keywords, names, receivers, tolerances

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
