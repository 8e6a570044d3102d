"""Hypothesis strategies for hostile arguments: texts, numbers and objects whose methods
raise or lie, placed as each entry point's parameters or anywhere at all."""

import decimal
import fractions
import math
import operator
import sys

from cases import CKM, MATRIX, REGISTRY, Quarks, Registry
from data import (
    NAMES,
)
from hostile_values import (
    FloatSubclass,
    Hostile,
    PlainStrSubclass,
    StrSubclass,
    TypeErrorSubclass,
    numeric,
)
from hypothesis import strategies as st

import kestrova._norvel_core as core

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
