"""Import, registration and the Python surface of the native module."""

import ast
import importlib
import inspect
import shutil
import subprocess
import sys
import textwrap
from importlib import metadata, resources

import pytest
from data import ALL, NAMES, NATIVE, QUARK_NAMES, bound, unbound

import kestrova
import kestrova._norvel_core as core

CLASSES = [core.PyFormulasRegistry, core.PyQuarkRegistry, core.PyCKMMatrix]


def test_all_lists_the_registered_names_in_order():
    assert core.__all__ == ALL
    for name in ALL:
        assert hasattr(core, name)


def test_one_version_everywhere():
    stubs = ast.parse(resources.files("kestrova").joinpath("_norvel_core.pyi").read_text())
    declared = [
        node
        for node in stubs.body
        if isinstance(node, ast.AnnAssign) and node.target.id == "__version__"
    ]
    assert len(declared) == 1 and declared[0].value is None  # no copy of the number to go stale
    assert ast.unparse(declared[0].annotation) == "Final[str]"
    version = metadata.version("kestrova")
    assert kestrova.__version__ == core.__version__ == core.PyFormulasRegistry.version() == version


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm from binutils")
def test_the_module_exports_its_init_function_alone():
    listed = subprocess.run(
        ["nm", "-D", "--defined-only", core.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listed.splitlines()] == ["PyInit__norvel_core"]


def test_module_docstring_names_where_it_is_wired():
    assert core.__doc__.endswith(" Wired as `kestrova._norvel_core`.")
    assert core.__name__ == "kestrova._norvel_core"


def test_reimport_yields_the_same_module():
    again = importlib.import_module("kestrova._norvel_core")
    assert again is core
    saved = sys.modules.pop("kestrova._norvel_core")
    try:
        fresh = importlib.import_module("kestrova._norvel_core")
        assert fresh is core
        assert fresh.__all__ == ALL  # nothing registered twice
    finally:
        sys.modules["kestrova._norvel_core"] = saved


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_classes_are_final_builtins_without_dict(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
    assert cls.__base__ is object
    assert not hasattr(cls, "__dict__") or "__dict__" not in cls.__dict__
    assert "__weakref__" not in cls.__dict__
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # Immutable, not a base, not collected: a replaced __new__ could build a hollow instance.
    assert cls.__flags__ & (1 << 8) and not cls.__flags__ & (1 << 10 | 1 << 14)
    with pytest.raises(TypeError):
        cls.__new__ = lambda c: object.__new__(c)
    with pytest.raises(TypeError):
        del cls.__doc__


def entry(path):
    obj = core
    for part in path.split("."):
        obj = getattr(obj, part)
    return obj


@pytest.mark.parametrize("path", NATIVE)
def test_signatures(path):
    """As the interpreter reads them: unbound, and bound to an instance."""
    obj, text = entry(path), NATIVE[path][1]
    assert obj.__text_signature__ == text
    if text is None:
        return
    assert str(inspect.signature(obj)) == unbound(text)
    if "$self" in text:
        cls, name = path.split(".")
        instance = entry(cls).from_topology() if cls == "PyCKMMatrix" else entry(cls)()
        instance_method = getattr(instance, name)
        assert str(inspect.signature(instance_method)) == bound(text)


@pytest.mark.parametrize(
    "cls, doc",
    [
        (core.PyFormulasRegistry, "Python wrapper for [`FormulasRegistry`]."),
        (core.PyQuarkRegistry, "Python wrapper for [`QuarkRegistry`]."),
        (core.PyCKMMatrix, "Python wrapper for [`CKMMatrix`]."),
    ],
)
def test_class_documentation(cls, doc):
    assert cls.__doc__ == doc


@pytest.mark.parametrize(
    "function, tail",
    [
        (core.py_list_constants, "\n\nReturns all known constant names from the FormulasRegistry."),
        (core.py_list_quarks, "\n\nReturns all SM quark names from the QuarkRegistry."),
        (
            core.py_get_constant,
            "\n\nReturns a JSON-serialised dict with `name`, `value`, `units`,\n"
            "`uncertainty`, and `status` fields — matching the Python constant\n"
            "datasheet schema so callers don't need to branch.\n\n"
            "Raises `PyKeyError` when `name` is not in the registry.",
        ),
    ],
)
def test_function_documentation(function, tail):
    assert function.__doc__.endswith(tail)
    sentence = function.__doc__[: -len(tail)]
    assert "\n" not in sentence and "twin of `kestrova." in sentence
    assert function.__self__ is core
    assert function.__module__ == "kestrova._norvel_core"


@pytest.mark.parametrize(
    "method, doc",
    [
        (core.PyFormulasRegistry.get, "Retrieve the numeric value for `name`."),
        (core.PyFormulasRegistry.version, "Library-version round-trip helper."),
        (core.PyCKMMatrix.from_topology, "Build the CKM matrix from the underlying topology."),
        (core.PyCKMMatrix.is_unitary, "`True` when the matrix is unitary within `tol`."),
        (core.PyCKMMatrix.jarlskog, "CP-violation Jarlskog invariant J."),
    ],
)
def test_method_documentation(method, doc):
    assert method.__doc__ == doc


def test_len_is_exposed_as_dunder_len():
    assert "__len__" in core.PyFormulasRegistry.__dict__
    assert "__len__" in core.PyQuarkRegistry.__dict__
    assert not hasattr(core.PyCKMMatrix, "__len__")


@pytest.mark.parametrize(
    "factory",
    [core.PyFormulasRegistry, core.PyQuarkRegistry, core.PyCKMMatrix.from_topology],
    ids=["formulas", "quarks", "ckm"],
)
def test_instances_take_no_attributes_and_no_weakrefs(factory):
    import weakref

    instance = factory()
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)


@pytest.mark.parametrize(
    "factory, cls",
    [
        (core.PyFormulasRegistry, core.PyFormulasRegistry),
        (core.PyQuarkRegistry, core.PyQuarkRegistry),
        (core.PyCKMMatrix.from_topology, core.PyCKMMatrix),
    ],
    ids=["formulas", "quarks", "ckm"],
)
def test_creating_and_dropping_instances_keeps_class_refcount(factory, cls):
    for _ in range(100):
        factory()
    before = sys.getrefcount(cls)
    for _ in range(10_000):
        factory()
    assert sys.getrefcount(cls) == before


@pytest.mark.skipif(
    any(name.startswith("_editable_skbc_") for name in sys.modules),
    reason="an editable install's import hook starts the rebuild as a "
    "subprocess, which an isolated subinterpreter refuses",
)
def test_second_interpreter_is_refused_and_first_keeps_working():
    script = textwrap.dedent(
        """
        try:
            import _interpreters as interpreters  # 3.13 on
        except ImportError:
            import _xxsubinterpreters as interpreters
        import kestrova._norvel_core as core
        interp = interpreters.create()
        try:  # up to 3.12 the failure is raised, from 3.13 on it is returned
            failure = interpreters.run_string(interp, "import kestrova._norvel_core")
            print(f"refused: {failure.formatted}" if failure else "accepted")
        except interpreters.RunFailedError as exc:
            print("refused:", exc)
        finally:
            interpreters.destroy(interp)
        print(core.py_list_quarks())
        print(len(core.PyFormulasRegistry()))
        """
    )
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("refused: ") and "ImportError" in lines[0]
    if sys.version_info >= (3, 12):  # the interpreter refuses it before the module can
        assert lines[0].endswith(
            ": module kestrova._norvel_core does not support loading in subinterpreters"
        )
    else:
        assert lines[0].endswith(
            ": kestrova._norvel_core does not support subinterpreters yet: "
            "it is bound to the first interpreter that imported it"
        )
    assert lines[1] == str(QUARK_NAMES)
    assert lines[2] == str(len(NAMES))
