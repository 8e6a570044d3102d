"""Argument parsing, conversion, receivers and panics, as every entry point sees them."""

import subprocess
import sys
import textwrap

import pytest
from cases import CASES
from data import PANIC
from outcomes import assert_same, outcome

import kestrova._norvel_core as core


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_call(case):
    assert_same(outcome(case.call), case.expected)


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
        assert info.value.args == (PANIC,)

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
        assert result.stdout.strip() == f"PanicException {(PANIC,)!r}"
        assert "panicked at norvel_core/src/pyfacade/" in result.stderr
        assert PANIC in result.stderr

    def test_uncaught_panic_ends_the_interpreter_with_a_traceback(self):
        result = subprocess.run(
            [sys.executable, "-c", "import kestrova._norvel_core as c; c.py_get_constant('')"],
            capture_output=True,
            text=True,
            timeout=60,
        )
        assert result.returncode == 1
        assert f"PanicException: {PANIC}" in result.stderr

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
