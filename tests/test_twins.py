"""The native operations against their pure-Python twins: one body, two implementations."""

import json
import math
import struct
import subprocess
import sys
from types import SimpleNamespace

import pytest
from data import KEYS, NAMES, PANIC, QUARK_NAMES, QUARKS, VALUES, datasheet, not_a_name, not_found
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrova
import kestrova._norvel_core as core
from kestrova import _pure

NATIVE = SimpleNamespace(
    list_constants=core.py_list_constants, list_quarks=core.py_list_quarks, get=core.py_get_constant
)
PURE = SimpleNamespace(
    list_constants=kestrova.list_constants, list_quarks=kestrova.list_quarks, get=kestrova.Get
)


@pytest.fixture(params=["native", "pure"])
def impl(request):
    return {"native": NATIVE, "pure": PURE}[request.param]


def bits(sheet):
    """A datasheet as comparable data: key order, types, and floats bit for bit."""
    return [
        (k, type(v).__name__, struct.pack("<d", v) if isinstance(v, float) else v)
        for k, v in sheet.items()
    ]


def outcome(get, name):
    try:
        return ("ok", bits(get(name)))
    except (KeyError, TypeError, ValueError) as exc:
        return (type(exc), exc.args, str(exc))


@pytest.mark.parametrize(
    "which, expected", [("list_constants", NAMES), ("list_quarks", QUARK_NAMES)]
)
def test_listings_are_sorted_and_fresh(impl, which, expected):
    listing = getattr(impl, which)
    first = listing()
    assert first == expected
    first.append("x")
    second = listing()
    assert second == expected and second is not first


@pytest.mark.parametrize("name", NAMES)
def test_datasheet(impl, name):
    sheet = impl.get(name)
    assert list(sheet) == KEYS and bits(sheet) == bits(datasheet(name))
    sheet["value"] = -1.0
    assert impl.get(name=name)["value"] == datasheet(name)["value"]  # a new dict per call


class Disguised(str):
    """Compares, hashes and prints as something else; only its characters count."""

    def __eq__(self, other):
        return False

    __hash__ = object.__hash__

    def __str__(self):
        return "b3"


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "name, exc_type, message",
    [
        *[(name, KeyError, not_found(name)) for name in ("B3", " b3", "  \t", "phi\x00", "φ")],
        (
            "\udcff",
            UnicodeEncodeError,
            "'utf-8' codec can't encode character '\\udcff' in position 0: surrogates not allowed",
        ),
        (
            "a\ud800\udc00b",
            UnicodeEncodeError,
            "'utf-8' codec can't encode characters in position 1-2: surrogates not allowed",
        ),
        (5, TypeError, not_a_name("int")),
        (Outer.Inner(), TypeError, not_a_name("Outer.Inner")),
    ],
)
def test_rejected_names(impl, name, exc_type, message):
    with pytest.raises(exc_type) as info:
        impl.get(name)
    assert type(info.value) is exc_type
    assert str(info.value) == (repr(message) if exc_type is KeyError else message)


def test_str_subclass_is_looked_up_by_its_characters(impl):
    sheet = impl.get(Disguised("phi"))
    assert type(sheet["name"]) is str and sheet["name"] == "phi"


def test_empty_name_breaks_the_precondition(panic_exception):
    with pytest.raises(panic_exception) as native:
        NATIVE.get("")
    assert native.value.args == (PANIC,)
    with pytest.raises(ValueError) as pure:
        PURE.get("")
    assert pure.value.args == ("Get: name must be non-empty",)


near_names = st.sampled_from(NAMES).flatmap(
    lambda n: st.sampled_from([n, n.upper(), n.title(), f" {n}", f"{n}\x00", n[:-1], n + "é"])
)


@settings(max_examples=200, deadline=None)
@given(st.one_of(near_names, st.text(st.characters(), min_size=1)))
def test_twins_agree_on_any_name(name):
    assert outcome(NATIVE.get, name) == outcome(PURE.get, name)


def test_quark_table_matches_the_native_names_and_its_own_formula():
    assert sorted(_pure.QUARKS) == core.py_list_quarks()
    assert _pure.QUARKS == QUARKS
    phi, vev = VALUES["phi"], 246220.0
    for name, q in _pure.QUARKS.items():
        assert q.mass_mev == vev / phi**q.phi_exponent, name
        assert q.vev_fraction == q.mass_mev / vev, name


def test_json_text_is_the_one_the_native_core_parses(monkeypatch):
    texts = []
    real = json.loads
    monkeypatch.setattr(json, "loads", lambda text: texts.append(text) or real(text))
    for name in NAMES:
        NATIVE.get(name)
    assert texts == [_pure.datasheet_json(PURE.get(name)) for name in NAMES]


@pytest.mark.parametrize(
    "x, text",
    [
        (24.0, "24.0"),
        (0.5772156649015329, "0.5772156649015329"),
        (0.00001, "0.00001"),
        (0.0000065, "6.5e-6"),
        (1e15, "1000000000000000.0"),
        (1234567890123456.7, "1234567890123456.8"),
        (1e16, "1e+16"),
        (6.62607015e-34, "6.62607015e-34"),
        (-2.5, "-2.5"),
        (-0.0, "-0.0"),
        (math.nan, "null"),
        (-math.inf, "null"),
    ],
)
def test_json_numbers(x, text):
    assert _pure._number(x) == text


@settings(max_examples=200, deadline=None)
@given(st.floats(allow_nan=False, allow_infinity=False))
def test_json_numbers_read_back_as_the_same_float(x):
    text = _pure._number(x)
    assert struct.pack("<d", json.loads(text)) == struct.pack("<d", x)
    assert "." in text or "e" in text


def test_json_strings_escape_only_what_they_must():
    sheet = {
        "value": 1.0,
        "name": 'q "\\\b\t\n\f\r\x01\x1f\x7fé',
        "units": "",
        "status": "Seed",
        "uncertainty": None,
    }
    text = _pure.datasheet_json(sheet)
    assert text == (
        '{"name":"q \\"\\\\\\b\\t\\n\\f\\r\\u0001\\u001f\x7fé","status":"Seed",'
        '"uncertainty":null,"units":"","value":1.0}'
    )
    assert json.loads(text) == sheet


def test_importing_the_package_leaves_the_native_module_alone():
    code = (
        "import sys, kestrova; kestrova.Get('b3'); kestrova.list_constants(); "
        "kestrova.list_quarks(); kestrova.search('tau'); kestrova.describe('phi'); "
        "str(kestrova.constants()); str(kestrova.quarks()); kestrova.ckm()._repr_html_(); "
        "print(sorted(m for m in sys.modules if m.split('.')[0] in ('kestrova', 'particle', "
        "'scipy', 'astropy', 'pint', 'pandas')))"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout == (
        "['kestrova', 'kestrova._about', 'kestrova._compare', 'kestrova._display', "
        "'kestrova._evaluate', 'kestrova._pure', 'kestrova._records', 'kestrova._units', "
        "'kestrova._version']\n"
    )
