"""Every entry point called down every path it has, each call with its outcome.
test_call_frame checks the outcomes, test_leaks repeats each call watching the
interpreter's counts, and tests/drivers/boundary.py fails allocations under
each; test_hostile's properties draw on the same hostile values (hostile_values.py)."""

import json
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
from hostile_values import (
    NAME_CASES,
    PHI,
    TOLERANCES,
    PlainStrSubclass,
    surrogate_error,
)
from outcomes import (
    Panic,
    Raises,
    descriptor_error,
    label,
    length_error,
    type_error,
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
