"""py_get_constant: the constant datasheet through the interpreter's json module."""

import json
import subprocess
import sys
import textwrap

import pytest
from data import CONSTANTS, EXPRESSIONS, KEYS, NAMES, VALUES, not_found

import kestrova._norvel_core as core

TEXTS = {
    "b3": '{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}',
    "phi": '{"name":"phi","status":"Seed","uncertainty":null,"units":"dimensionless","value":1.618033988749895}',  # noqa: E501 - the exact text
    "gamma_em": '{"name":"gamma_em","status":"Seed","uncertainty":null,"units":"dimensionless","value":0.5772156649015329}',  # noqa: E501 - the exact text
    "v_higgs_mev": '{"name":"v_higgs_mev","status":"Pending","uncertainty":null,"units":"MeV","value":0.0}',  # noqa: E501 - the exact text
}


def expected_text(name):
    value, units, status, _ = CONSTANTS[name]
    return (
        f'{{"name":"{name}","status":"{status}","uncertainty":null,'
        f'"units":"{units}","value":{value!r}}}'
    )


@pytest.fixture
def captured_loads(monkeypatch):
    """Replaces json.loads for one test, recording every text it is handed."""
    seen = []
    real = json.loads

    def spy(text, *args, **kwargs):
        seen.append((text, args, kwargs))
        return real(text)

    monkeypatch.setattr(json, "loads", spy)
    return seen


@pytest.mark.parametrize("name", NAMES)
def test_exact_text_handed_to_json_loads(captured_loads, name):
    result = core.py_get_constant(name)
    assert len(captured_loads) == 1
    text, args, kwargs = captured_loads[0]
    assert type(text) is str and text.isascii() and args == () and kwargs == {}
    assert text == expected_text(name)
    if name in TEXTS:
        assert text == TEXTS[name]
    assert list(result) == KEYS


def test_pending_constant_shows_no_expression():
    sheet = core.py_get_constant("n_gen_sq")
    assert sheet["status"] == "Pending" and sheet["value"] == 0.0
    assert EXPRESSIONS["n_gen_sq"] not in repr(sheet)


@pytest.mark.parametrize("name", [" b3", "B3", "b3\n", "ß", "a`b"])
def test_unknown_names_raise_key_error(name):
    with pytest.raises(KeyError) as info:
        core.py_get_constant(name)
    assert info.value.args == (not_found(name),)


def test_each_call_returns_a_new_dict():
    first, second = core.py_get_constant("phi"), core.py_get_constant("phi")
    assert first == second and first is not second
    first["value"] = 0
    assert core.py_get_constant("phi")["value"] == VALUES["phi"]


@pytest.mark.parametrize("returned", [None, 42, "text", ["a", "list"], object()])
def test_whatever_loads_returns_is_passed_through(monkeypatch, returned):
    monkeypatch.setattr(json, "loads", lambda text: returned)
    assert core.py_get_constant("b3") is returned


@pytest.mark.parametrize("error", [ValueError("bad"), KeyboardInterrupt(), KeyError("k")])
def test_exceptions_from_loads_pass_through_unchanged(monkeypatch, error):
    def loads(text):
        raise error

    monkeypatch.setattr(json, "loads", loads)
    with pytest.raises(type(error)) as info:
        core.py_get_constant("b3")
    assert info.value is error


def test_panic_from_python_code_resumes_as_a_new_panic():
    script = textwrap.dedent(
        """
        import json
        import kestrova._norvel_core as core
        try:
            core.py_get_constant("")
        except BaseException as exc:
            Panic = type(exc)
        original = Panic("raised by loads")
        def loads(text):
            raise original
        json.loads = loads
        try:
            core.py_get_constant("b3")
        except BaseException as exc:
            print(type(exc) is Panic, exc is original, exc.args)
        """
    )
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "True False ('raised by loads',)"
    assert "Traceback" in result.stderr and "raised by loads" in result.stderr
    # The report says what the traceback below it is.
    assert (
        "\nA PanicException was raised by Python code called from native code.\n"
        "It resumes as a panic of the native caller; its Python traceback follows.\n"
    ) in result.stderr


def test_loads_that_calls_back_into_the_module(monkeypatch):
    real = json.loads

    def loads(text):
        inner = core.py_list_constants()
        return {"outer": real(text), "inner": len(inner)}

    monkeypatch.setattr(json, "loads", loads)
    result = core.py_get_constant("b3")
    assert result["inner"] == len(NAMES) and result["outer"]["value"] == VALUES["b3"]
