"""No entry point leaks: thousands of calls down every path, success and
failure, leave the interpreter's block count, the reference counts of the
classes and of every object handed in or out, and the C heap where they were."""

import ctypes
import gc
import importlib
import json
import math
import os
import sys
from dataclasses import dataclass, field

import pytest

import kestrova._norvel_core as core

# The interpreter's own wording, as a built-in taking a float says it.
with pytest.raises(TypeError) as _refusal:
    math.isfinite("x")
NOT_REAL = str(_refusal.value)

Registry = core.PyFormulasRegistry
Quarks = core.PyQuarkRegistry
CKM = core.PyCKMMatrix

# Memory-checker runs set a small scale; they find leaks by other means.
SCALE = float(os.environ.get("KESTROVA_STRESS_SCALE", "1"))
CALLS = max(50, int(10_000 * SCALE))
WARM_UP = 200

# A leak of one block or one reference per call shows as CALLS; what is left
# within these margins is the interpreter's own caches and free lists settling.
BLOCK_SLACK = 50
REFERENCE_SLACK = 10
HEAP_SLACK = 64 * 1024  # bytes: a 32-byte chunk, malloc's smallest, per call is five times this


class Hostile(BaseException):
    pass


class TypeErrorSubclass(TypeError):
    pass


class Name(str):
    pass


class FloatLike:
    def __init__(self, result):
        self.result = result

    def __float__(self):
        if isinstance(
            self.result, type
        ):  # a fresh exception each time: a reused one grows its traceback
            raise self.result("boom")
        return self.result


class IndexLike:
    def __index__(self):
        return 7


def raises_with_cause():
    class TypeErrorWithCause:
        def __float__(self):
            raise TypeError("inner") from ValueError("root")

    return TypeErrorWithCause()


def _heap_in_use():
    """Bytes malloc has handed out and not taken back, where glibc tells."""
    if sys.platform != "linux":
        return None
    libc = ctypes.CDLL(None)  # the symbols the process already has, libc's among them
    if not hasattr(libc, "mallinfo2"):
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [
            (f, ctypes.c_size_t)
            for f in (
                "arena",
                "ordblks",
                "smblks",
                "hblks",
                "hblkhd",
                "usmblks",
                "fsmblks",
                "uordblks",
                "fordblks",
                "keepcost",
            )
        ]

    libc.mallinfo2.restype = MallInfo2

    def in_use():
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd

    return in_use


# Under the memory checkers the interpreter allocates with their malloc, which
# glibc does not account for; they watch the C heap themselves.
heap_in_use = _heap_in_use() if sys.getallocatedblocks() > 0 else None


@dataclass
class Case:
    call: object
    raises: type | None = None
    message: str | None = None
    watched: list = field(default_factory=list)


def panic_type():
    try:
        core.py_get_constant("")
    except BaseException as exc:  # noqa: BLE001
        return type(exc)
    raise AssertionError("the empty name did not panic")


PANIC = panic_type()
REGISTRY = Registry()
QUARKS = Quarks()
MATRIX = CKM.from_topology()
B3 = "b3"
PHI = Name("phi")
MISSING = "no such constant"
SURROGATE = "\ud800"
LONG = "x" * 100_000
NUMBER = 5
SPARE = object()
FLOAT_LIKE = FloatLike(0.25)
INDEX_LIKE = IndexLike()
HUGE = 10**400
RAISING = FloatLike(ZeroDivisionError)
RAISING_SUBCLASS = FloatLike(TypeErrorSubclass)
RAISING_BASE = FloatLike(Hostile)
WRONG_TYPE = FloatLike("0.5")
# The interpreter's own wording, which 3.15 changed.
with pytest.raises(TypeError) as _refusal:
    float(WRONG_TYPE)
NOT_FLOAT = str(_refusal.value)
WITH_CAUSE = raises_with_cause()
ALWAYS = [
    Registry,
    Quarks,
    CKM,
    PANIC,
    type(core.py_get_constant),
    REGISTRY,
    QUARKS,
    MATRIX,
    True,
    False,
    None,
    KeyError,
    TypeError,
]


def not_found(name):
    return f"constant `{name}` not found in registry"


CASES = {
    # PyFormulasRegistry
    "registry new": Case(lambda: Registry()),
    "registry new with argument": Case(
        lambda: Registry(SPARE),
        TypeError,
        "PyFormulasRegistry.__new__() takes 0 positional arguments but 1 was given",
    ),
    "registry new with keyword": Case(
        lambda: Registry(x=SPARE),
        TypeError,
        "PyFormulasRegistry.__new__() got an unexpected keyword argument 'x'",
    ),
    "get": Case(lambda: REGISTRY.get(B3), watched=[B3]),
    "get by keyword": Case(lambda: REGISTRY.get(name=B3), watched=[B3]),
    "get str subclass": Case(lambda: REGISTRY.get(PHI), watched=[PHI, Name]),
    "get unbound": Case(lambda: Registry.get(REGISTRY, B3), watched=[B3]),
    "get missing": Case(lambda: REGISTRY.get(MISSING), KeyError, not_found(MISSING), [MISSING]),
    "get long missing": Case(lambda: REGISTRY.get(LONG), KeyError, not_found(LONG), [LONG]),
    "get empty": Case(lambda: REGISTRY.get(""), KeyError, not_found("")),
    "get no argument": Case(
        lambda: REGISTRY.get(),
        TypeError,
        "PyFormulasRegistry.get() missing 1 required positional argument: 'name'",
    ),
    "get two arguments": Case(
        lambda: REGISTRY.get(B3, B3),
        TypeError,
        "PyFormulasRegistry.get() takes 1 positional arguments but 2 were given",
        [B3],
    ),
    "get twice": Case(
        lambda: REGISTRY.get(B3, name=B3),
        TypeError,
        "PyFormulasRegistry.get() got multiple values for argument 'name'",
        [B3],
    ),
    "get bad keyword": Case(
        lambda: REGISTRY.get(nam=B3),
        TypeError,
        "PyFormulasRegistry.get() got an unexpected keyword argument 'nam'",
        [B3],
    ),
    "get non-utf8 keyword": Case(
        lambda: REGISTRY.get(**{SURROGATE: B3}),
        TypeError,
        f"PyFormulasRegistry.get() got an unexpected keyword argument '{SURROGATE}'",
        [SURROGATE, B3],
    ),
    "get int": Case(
        lambda: REGISTRY.get(NUMBER),
        TypeError,
        "argument 'name': 'int' object cannot be converted to 'PyString'",
        [NUMBER],
    ),
    "get surrogate": Case(
        lambda: REGISTRY.get(SURROGATE),
        UnicodeEncodeError,
        "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed",
        [SURROGATE],
    ),
    "get wrong receiver": Case(
        lambda: Registry.get(MATRIX, B3),
        TypeError,
        "descriptor 'get' for 'builtins.PyFormulasRegistry' objects doesn't apply "
        "to a 'builtins.PyCKMMatrix' object",
        [B3],
    ),
    "len": Case(lambda: len(REGISTRY)),
    "len wrong receiver": Case(
        lambda: Registry.__len__(QUARKS),
        TypeError,
        "descriptor '__len__' requires a 'builtins.PyFormulasRegistry' object but "
        "received a 'builtins.PyQuarkRegistry'",
    ),
    "version": Case(lambda: Registry.version()),
    "version on instance": Case(lambda: REGISTRY.version()),
    "version with argument": Case(
        lambda: Registry.version(SPARE),
        TypeError,
        "PyFormulasRegistry.version() takes no arguments (1 given)",
    ),
    # module functions
    "list constants": Case(lambda: core.py_list_constants()),
    "list constants with argument": Case(
        lambda: core.py_list_constants(SPARE),
        TypeError,
        "kestrova._norvel_core.py_list_constants() takes no arguments (1 given)",
    ),
    "list quarks": Case(lambda: core.py_list_quarks()),
    "list quarks with argument": Case(
        lambda: core.py_list_quarks(SPARE),
        TypeError,
        "kestrova._norvel_core.py_list_quarks() takes no arguments (1 given)",
    ),
    "get constant": Case(lambda: core.py_get_constant(B3), watched=[B3]),
    "get constant by keyword": Case(lambda: core.py_get_constant(name=PHI), watched=[PHI]),
    "get constant missing": Case(
        lambda: core.py_get_constant(MISSING), KeyError, not_found(MISSING), [MISSING]
    ),
    "get constant empty": Case(
        lambda: core.py_get_constant(""), PANIC, "py_get_constant: name must be non-empty"
    ),
    "get constant int": Case(
        lambda: core.py_get_constant(NUMBER),
        TypeError,
        "argument 'name': 'int' object cannot be converted to 'PyString'",
        [NUMBER],
    ),
    "get constant surrogate": Case(
        lambda: core.py_get_constant(SURROGATE),
        UnicodeEncodeError,
        "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed",
        [SURROGATE],
    ),
    "get constant no argument": Case(
        lambda: core.py_get_constant(),
        TypeError,
        "py_get_constant() missing 1 required positional argument: 'name'",
    ),
    "get constant bad keyword": Case(
        lambda: core.py_get_constant(x=B3),
        TypeError,
        "py_get_constant() got an unexpected keyword argument 'x'",
        [B3],
    ),
    "get constant two arguments": Case(
        lambda: core.py_get_constant(B3, B3),
        TypeError,
        "py_get_constant() takes 1 positional arguments but 2 were given",
        [B3],
    ),
    "get constant twice": Case(
        lambda: core.py_get_constant(B3, name=B3),
        TypeError,
        "py_get_constant() got multiple values for argument 'name'",
        [B3],
    ),
    # PyQuarkRegistry
    "quarks new": Case(lambda: Quarks()),
    "quarks new with argument": Case(
        lambda: Quarks(SPARE),
        TypeError,
        "PyQuarkRegistry.__new__() takes 0 positional arguments but 1 was given",
    ),
    "quarks new with keyword": Case(
        lambda: Quarks(x=SPARE),
        TypeError,
        "PyQuarkRegistry.__new__() got an unexpected keyword argument 'x'",
    ),
    "quarks len": Case(lambda: len(QUARKS)),
    # PyCKMMatrix
    "ckm new": Case(lambda: CKM(), TypeError, "No constructor defined for PyCKMMatrix"),
    "from topology": Case(lambda: CKM.from_topology()),
    "from topology on instance": Case(lambda: MATRIX.from_topology()),
    "from topology with argument": Case(
        lambda: CKM.from_topology(SPARE),
        TypeError,
        "PyCKMMatrix.from_topology() takes no arguments (1 given)",
    ),
    "jarlskog": Case(lambda: MATRIX.jarlskog()),
    "jarlskog wrong receiver": Case(
        lambda: CKM.jarlskog(REGISTRY),
        TypeError,
        "descriptor 'jarlskog' for 'builtins.PyCKMMatrix' objects doesn't apply "
        "to a 'builtins.PyFormulasRegistry' object",
    ),
    "jarlskog with argument": Case(
        lambda: MATRIX.jarlskog(SPARE),
        TypeError,
        "PyCKMMatrix.jarlskog() takes no arguments (1 given)",
    ),
    "is unitary": Case(lambda: MATRIX.is_unitary(0.5)),
    "is unitary by keyword": Case(lambda: MATRIX.is_unitary(tol=0.0)),
    "is unitary int": Case(lambda: MATRIX.is_unitary(NUMBER), watched=[NUMBER]),
    "is unitary __float__": Case(
        lambda: MATRIX.is_unitary(FLOAT_LIKE), watched=[FLOAT_LIKE, FloatLike]
    ),
    "is unitary __index__": Case(
        lambda: MATRIX.is_unitary(INDEX_LIKE), watched=[INDEX_LIKE, IndexLike]
    ),
    "is unitary str": Case(
        lambda: MATRIX.is_unitary(B3), TypeError, f"argument 'tol': {NOT_REAL}", [B3]
    ),
    "is unitary huge int": Case(
        lambda: MATRIX.is_unitary(HUGE), OverflowError, "int too large to convert to float", [HUGE]
    ),
    "is unitary __float__ raises": Case(
        lambda: MATRIX.is_unitary(RAISING), ZeroDivisionError, "boom", [RAISING]
    ),
    "is unitary __float__ raises TypeError subclass": Case(
        lambda: MATRIX.is_unitary(RAISING_SUBCLASS), TypeErrorSubclass, "boom", [RAISING_SUBCLASS]
    ),
    "is unitary __float__ raises BaseException": Case(
        lambda: MATRIX.is_unitary(RAISING_BASE), Hostile, "boom", [RAISING_BASE]
    ),
    "is unitary __float__ wrong type": Case(
        lambda: MATRIX.is_unitary(WRONG_TYPE),
        TypeError,
        f"argument 'tol': {NOT_FLOAT}",
        [WRONG_TYPE],
    ),
    "is unitary TypeError with cause": Case(
        lambda: MATRIX.is_unitary(WITH_CAUSE), TypeError, "argument 'tol': inner", [WITH_CAUSE]
    ),
    "is unitary missing": Case(
        lambda: MATRIX.is_unitary(),
        TypeError,
        "PyCKMMatrix.is_unitary() missing 1 required positional argument: 'tol'",
    ),
    "is unitary twice": Case(
        lambda: MATRIX.is_unitary(0.5, tol=0.5),
        TypeError,
        "PyCKMMatrix.is_unitary() got multiple values for argument 'tol'",
    ),
    "is unitary two arguments": Case(
        lambda: MATRIX.is_unitary(0.5, 0.5),
        TypeError,
        "PyCKMMatrix.is_unitary() takes 1 positional arguments but 2 were given",
    ),
    "is unitary bad keyword": Case(
        lambda: MATRIX.is_unitary(tolerance=0.5),
        TypeError,
        "PyCKMMatrix.is_unitary() got an unexpected keyword argument 'tolerance'",
    ),
    "is unitary wrong receiver": Case(
        lambda: CKM.is_unitary(QUARKS, 0.5),
        TypeError,
        "descriptor 'is_unitary' for 'builtins.PyCKMMatrix' objects doesn't "
        "apply to a 'builtins.PyQuarkRegistry' object",
    ),
}


def run(case, count):
    call, raises = case.call, case.raises
    if raises is None:
        for _ in range(count):
            call()
    else:
        for _ in range(count):
            try:
                call()
            except raises:
                pass
            else:
                raise AssertionError("the call did not fail")


def counts(watched):
    gc.collect()
    return (
        sys.getallocatedblocks(),
        [sys.getrefcount(obj) for obj in watched],
        heap_in_use() if heap_in_use else 0,
    )


def assert_no_leak(case, count=CALLS, rounds=3):
    """A leak grows in every round; the interpreter's one-off growth (a table
    resized, a cache filled) shows in one round at most."""
    watched = ALWAYS + case.watched
    run(case, WARM_UP)
    for _ in range(rounds):
        blocks, references, heap = counts(watched)
        run(case, count)
        blocks_after, references_after, heap_after = counts(watched)
        grown = [f"{blocks_after - blocks} blocks"] if blocks_after - blocks > BLOCK_SLACK else []
        grown += [
            f"{after - before} references to {obj!r}"
            for obj, before, after in zip(watched, references, references_after, strict=True)
            if abs(after - before) > REFERENCE_SLACK
        ]
        if heap_after - heap > HEAP_SLACK:
            grown.append(f"{heap_after - heap} bytes of C heap")
        if not grown:
            return
    pytest.fail(f"after {count} calls, {rounds} times over: " + ", ".join(grown))


def check_outcome(case):
    """The path under test is the one the case names."""
    if case.raises is None:
        case.call()
        return
    with pytest.raises(BaseException) as info:
        case.call()
    assert type(info.value) is case.raises
    assert str(info.value) == (repr(case.message) if case.raises is KeyError else case.message)


@pytest.fixture
def quiet_stderr(monkeypatch):
    """Panics write a report; thousands of them would only fill the capture."""

    class Sink:
        def write(self, text):
            return len(text)

        def flush(self):
            pass

    monkeypatch.setattr(sys, "stderr", Sink())


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_entry_point_path_does_not_leak(case, quiet_stderr):
    check_outcome(case)
    assert_no_leak(case)


# json.loads is the interpreter's to replace, so each of its outcomes is a path.

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


@pytest.mark.parametrize(
    "loads, raises, message",
    [
        (loads_returning, None, None),
        (loads_raising, ValueError, "refused"),
        (loads_raising_type_error, TypeError, "not prefixed"),
        (loads_panicking, PANIC, "py_get_constant: name must be non-empty"),
        (loads_calling_back, None, None),
    ],
    ids=["returns a list", "raises", "raises TypeError", "panics", "calls back"],
)
def test_get_constant_with_replaced_loads_does_not_leak(
    monkeypatch, quiet_stderr, loads, raises, message
):
    monkeypatch.setattr(json, "loads", loads)
    case = Case(lambda: core.py_get_constant(B3), raises, message, [B3, loads, LOADS_RESULT, json])
    check_outcome(case)
    assert_no_leak(case)


def test_get_constant_with_json_unimportable_does_not_leak(monkeypatch):
    monkeypatch.setitem(sys.modules, "json", None)
    case = Case(
        lambda: core.py_get_constant(B3),
        ModuleNotFoundError,
        "import of json halted; None in sys.modules",
        [B3],
    )
    check_outcome(case)
    assert_no_leak(case)


def test_key_error_wins_over_broken_json_without_leaking(monkeypatch):
    monkeypatch.setitem(sys.modules, "json", None)
    case = Case(lambda: core.py_get_constant(MISSING), KeyError, not_found(MISSING), [MISSING])
    check_outcome(case)
    assert_no_leak(case)


def test_reimport_does_not_leak():
    def reimport():
        saved = sys.modules.pop("kestrova._norvel_core")
        try:
            assert importlib.import_module("kestrova._norvel_core") is core
        finally:
            sys.modules["kestrova._norvel_core"] = saved

    # Each import goes through the finder and loader in Python: fewer rounds.
    assert_no_leak(Case(reimport, watched=[core, core.__all__]), count=max(50, CALLS // 10))
    assert core.__all__ == [
        "PyFormulasRegistry",
        "PyQuarkRegistry",
        "PyCKMMatrix",
        "py_list_constants",
        "py_list_quarks",
        "py_get_constant",
        "__version__",
    ]
