"""A model of the call frame in Python: what each entry point answers an argument,
exactly, so that the properties can check every answer the native module gives."""

import ctypes

from data import (
    DISPLAY,
    PANIC,
    VALUES,
    datasheet,
    missing,
    not_a_name,
    not_found,
    too_many,
    twice,
    unexpected,
)
from outcomes import Raises, type_error
from outcomes import outcome as run


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
