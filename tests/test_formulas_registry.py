"""PyFormulasRegistry and py_list_constants."""

import pytest
from data import NAMES, VALUES, not_found

import kestrova._norvel_core as core


@pytest.fixture(scope="module")
def registry():
    return core.PyFormulasRegistry()


@pytest.mark.parametrize("name", NAMES)
def test_get_returns_the_stored_value_as_float(registry, name):
    value = registry.get(name)
    assert type(value) is float
    assert value.hex() == VALUES[name].hex()
    assert registry.get(name=name).hex() == value.hex()


@pytest.mark.parametrize(
    "name", ["", "B3", " b3", "b3 ", "N_GEN", "phí", "`phi`", "b3\x00", "ph\u0131"]
)
def test_unknown_names_raise_key_error_with_the_registry_text(registry, name):
    with pytest.raises(KeyError) as info:
        registry.get(name)
    assert type(info.value) is KeyError
    assert info.value.args == (not_found(name),)


def test_empty_name_text_shows_two_grave_accents(registry):
    with pytest.raises(KeyError) as info:
        registry.get("")
    assert str(info.value) == "'constant `` not found in registry'"


def test_instance_stays_usable_after_a_miss(registry):
    with pytest.raises(KeyError):
        registry.get("nope")
    assert registry.get("b3") == VALUES["b3"]


def test_len_and_truth(registry):
    assert len(registry) == len(NAMES)
    assert bool(registry)


def test_version_is_a_canonical_ascii_str(registry):
    # Equal to the package's version, as the call table checks, and built as ASCII.
    assert registry.version().isascii() and core.PyFormulasRegistry.version().isascii()


def test_instances_are_independent_and_answer_alike():
    first, second = core.PyFormulasRegistry(), core.PyFormulasRegistry()
    assert first is not second
    assert [first.get(n) for n in NAMES] == [second.get(n) for n in NAMES]


def test_list_constants_order_and_fresh_lists():
    first = core.py_list_constants()
    second = core.py_list_constants()
    assert first == NAMES
    assert first is not second
    first.append("mutated")
    first[0] = "x"
    assert core.py_list_constants() == NAMES
    assert second == NAMES
    # Built by copying bytes: each must still be a canonical ASCII str.
    assert all(type(name) is str and name.isascii() for name in second)
