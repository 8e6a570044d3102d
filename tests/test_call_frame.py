"""Argument parsing, conversion, receivers and panics, as every entry point sees them."""

import math
import subprocess
import sys
import textwrap

import pytest

import kestrova._norvel_core as core

# The interpreter's own wording, as a built-in taking a float says it.
with pytest.raises(TypeError) as _refusal:
    math.isfinite("x")
NOT_REAL = str(_refusal.value)

Registry = core.PyFormulasRegistry
Quarks = core.PyQuarkRegistry
CKM = core.PyCKMMatrix


def ckm():
    return CKM.from_topology()


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: Registry(1),
            "PyFormulasRegistry.__new__() takes 0 positional arguments but 1 was given",
        ),
        (
            lambda: Registry(1, 2),
            "PyFormulasRegistry.__new__() takes 0 positional arguments but 2 were given",
        ),
        (
            lambda: Registry(x=1),
            "PyFormulasRegistry.__new__() got an unexpected keyword argument 'x'",
        ),
        (
            lambda: Quarks(1),
            "PyQuarkRegistry.__new__() takes 0 positional arguments but 1 was given",
        ),
        (lambda: Quarks(x=1), "PyQuarkRegistry.__new__() got an unexpected keyword argument 'x'"),
        (
            lambda: Registry().get(),
            "PyFormulasRegistry.get() missing 1 required positional argument: 'name'",
        ),
        (
            lambda: Registry().get("a", "b"),
            "PyFormulasRegistry.get() takes 1 positional arguments but 2 were given",
        ),
        (
            lambda: Registry().get("a", name="b"),
            "PyFormulasRegistry.get() got multiple values for argument 'name'",
        ),
        (
            lambda: Registry().get(nam="a"),
            "PyFormulasRegistry.get() got an unexpected keyword argument 'nam'",
        ),
        (
            lambda: Registry().get(5),
            "argument 'name': 'int' object cannot be converted to 'PyString'",
        ),
        (
            lambda: Registry().get(b"phi"),
            "argument 'name': 'bytes' object cannot be converted to 'PyString'",
        ),
        (
            lambda: core.py_get_constant(),
            "py_get_constant() missing 1 required positional argument: 'name'",
        ),
        (
            lambda: core.py_get_constant("a", "b", "c"),
            "py_get_constant() takes 1 positional arguments but 3 were given",
        ),
        (
            lambda: core.py_get_constant(5),
            "argument 'name': 'int' object cannot be converted to 'PyString'",
        ),
        (
            lambda: core.py_get_constant(None),
            "argument 'name': 'NoneType' object cannot be converted to 'PyString'",
        ),
        (
            lambda: ckm().is_unitary(),
            "PyCKMMatrix.is_unitary() missing 1 required positional argument: 'tol'",
        ),
        (
            lambda: ckm().is_unitary(1.0, 2.0),
            "PyCKMMatrix.is_unitary() takes 1 positional arguments but 2 were given",
        ),
        (
            lambda: ckm().is_unitary(0.1, tol=0.1),
            "PyCKMMatrix.is_unitary() got multiple values for argument 'tol'",
        ),
        (
            lambda: ckm().is_unitary(tolerance=0.1),
            "PyCKMMatrix.is_unitary() got an unexpected keyword argument 'tolerance'",
        ),
        (lambda: ckm().is_unitary("x"), f"argument 'tol': {NOT_REAL}"),
        (lambda: CKM(), "No constructor defined for PyCKMMatrix"),
        (lambda: CKM(1, x=2), "No constructor defined for PyCKMMatrix"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


def test_keyword_processing_stops_at_first_failing_keyword():
    with pytest.raises(TypeError, match="unexpected keyword argument 'bad'"):
        Registry().get(bad=1, name="b3")
    with pytest.raises(TypeError, match="multiple values"):
        Registry().get("b3", name="x", bad=1)


def test_keyword_names_that_are_not_utf8_count_as_unexpected():
    with pytest.raises(TypeError) as info:
        Registry().get(**{"\udc80": 1})
    assert info.value.args == (
        "PyFormulasRegistry.get() got an unexpected keyword argument '\udc80'",
    )


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.py_list_constants(1),
        lambda: core.py_list_quarks(1),
        lambda: ckm().jarlskog(1),
        lambda: Registry.version(1),
        lambda: CKM.from_topology(1),
    ],
)
def test_no_argument_entries_are_refused_by_the_interpreter(call):
    with pytest.raises(TypeError, match="takes no arguments"):
        call()


def test_lone_surrogate_name_raises_unicode_encode_error_unchanged():
    with pytest.raises(UnicodeEncodeError):
        Registry().get("\ud800")
    with pytest.raises(UnicodeEncodeError):
        core.py_get_constant("\ud800")


def test_str_subclass_is_accepted():
    class Name(str):
        pass

    assert Registry().get(Name("phi")) == 1.618033988749895


def test_conversion_type_error_keeps_its_cause():
    class Bad:
        def __float__(self):
            try:
                raise ValueError("root")
            except ValueError as root:
                raise TypeError("inner") from root

    with pytest.raises(TypeError) as info:
        ckm().is_unitary(Bad())
    assert info.value.args == ("argument 'tol': inner",)
    assert isinstance(info.value.__cause__, ValueError)
    assert info.value.__cause__.args == ("root",)


@pytest.mark.parametrize(
    "tol, error",
    [
        (10**400, OverflowError),
        (type("F", (), {"__float__": lambda s: 1 / 0})(), ZeroDivisionError),
    ],
)
def test_other_conversion_errors_pass_through_without_prefix(tol, error):
    with pytest.raises(error) as info:
        ckm().is_unitary(tol)
    assert type(info.value) is error
    assert not str(info.value).startswith("argument 'tol'")


@pytest.mark.parametrize(
    "unbound, receiver, cls",
    [
        (CKM.jarlskog, 5, "PyCKMMatrix"),
        (CKM.is_unitary, Registry(), "PyCKMMatrix"),
        (Registry.get, ckm(), "PyFormulasRegistry"),
    ],
)
def test_wrong_receivers_are_refused(unbound, receiver, cls):
    args = () if unbound is CKM.jarlskog else (0.0,) if unbound is CKM.is_unitary else ("b3",)
    with pytest.raises(TypeError) as info:
        unbound(receiver, *args)
    assert type(info.value) is TypeError
    assert cls in str(info.value)


@pytest.mark.parametrize(
    "slot, receiver",
    [(Registry.__len__, 5), (Quarks.__len__, Registry())],
)
def test_len_slot_refuses_wrong_receivers(slot, receiver):
    with pytest.raises(TypeError):
        slot(receiver)


class TestPanic:
    def test_panic_exception_derives_from_base_exception(self, panic_exception):
        assert panic_exception.__name__ == "PanicException"
        assert panic_exception.__bases__ == (BaseException,)
        assert not issubclass(panic_exception, Exception)
        doc = panic_exception.__doc__
        assert doc.startswith("\n") and "panics" in doc.splitlines()[1]
        assert doc.endswith(
            "\n\nLike SystemExit, this exception is derived from BaseException so that\n"
            "it will typically propagate all the way through the stack and cause the\n"
            "Python interpreter to exit.\n"
        )

    def test_empty_name_panics_past_except_exception(self, panic_exception):
        with pytest.raises(panic_exception) as info:
            try:
                core.py_get_constant("")
            except Exception:  # noqa: BLE001 - the test is that this must not catch it
                pytest.fail("PanicException was caught by 'except Exception'")
        assert info.value.args == ("py_get_constant: name must be non-empty",)

    def test_panic_class_is_created_once(self, panic_exception):
        for _ in range(3):
            with pytest.raises(BaseException) as info:
                core.py_get_constant("")
            assert type(info.value) is panic_exception

    def test_panic_report_goes_to_stderr(self):
        script = textwrap.dedent(
            """
            import kestrova._norvel_core as core
            try:
                core.py_get_constant("")
            except BaseException as exc:
                print(type(exc).__name__, exc.args)
            """
        )
        result = subprocess.run(
            [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
        )
        assert result.returncode == 0
        assert (
            result.stdout.strip() == "PanicException ('py_get_constant: name must be non-empty',)"
        )
        assert "panicked at norvel_core/src/pyfacade/" in result.stderr
        assert "py_get_constant: name must be non-empty" in result.stderr

    def test_uncaught_panic_ends_the_interpreter_with_a_traceback(self):
        result = subprocess.run(
            [sys.executable, "-c", "import kestrova._norvel_core as c; c.py_get_constant('')"],
            capture_output=True,
            text=True,
            timeout=60,
        )
        assert result.returncode == 1
        assert "PanicException: py_get_constant: name must be non-empty" in result.stderr

    @pytest.mark.parametrize(
        "arm, error",
        [
            ("_testcapi.set_nomemory(0, 0)", "MemoryError"),
            ("sys.setrecursionlimit(depth() + 1)", "RecursionError"),
        ],
    )
    def test_first_error_of_a_process_raises_instead_of_aborting(self, arm, error):
        script = textwrap.dedent(
            f"""
            import sys, _testcapi, kestrova._norvel_core as core
            r, limit = core.PyFormulasRegistry(), sys.getrecursionlimit()
            def depth():
                f, d = sys._getframe(), 0
                while f: d, f = d + 1, f.f_back
                return d
            def attempt(call):
                {arm}
                try:
                    call()
                except BaseException as exc:
                    return exc
                finally:
                    _testcapi.remove_mem_hooks()
                    sys.setrecursionlimit(limit)
            calls = (lambda: core.py_get_constant("b3"), r.version, core.py_list_quarks,
                     core.PyFormulasRegistry, lambda: r.get(nam="b3"))
            print(*[type(attempt(c)).__name__ for c in calls])
            """
        )
        result = subprocess.run(
            [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.split()[0] == error
        assert error != "MemoryError" or result.stdout.split() == [error] * 5
