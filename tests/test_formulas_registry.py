"""PyFormulasRegistry and py_list_constants."""

from importlib import metadata

import pytest

import kestrova._norvel_core as core

NAMES = [
    "b3",
    "chi_eff",
    "gamma_em",
    "h0_central",
    "jc_constant",
    "logic_closure",
    "m_tau_mev",
    "n_gen",
    "n_gen_sq",
    "phi",
    "roots_total",
    "sterile_check",
    "sterile_sector",
    "topo_gen_check",
    "v_higgs_mev",
    "visible_sector",
    "w0_central",
]
VALUES = {
    "b3": 24.0,
    "chi_eff": 72.0,
    "n_gen": 3.0,
    "roots_total": 288.0,
    "visible_sector": 125.0,
    "sterile_sector": 163.0,
    "phi": 1.618033988749895,
    "gamma_em": 0.5772156649015329,
    "jc_constant": 153.0,
    "logic_closure": 288.0,
    # pending entries hold no value of their own
    "v_higgs_mev": 0.0,
    "sterile_check": 0.0,
    "n_gen_sq": 0.0,
    "h0_central": 0.0,
    "w0_central": 0.0,
    "m_tau_mev": 0.0,
    "topo_gen_check": 0.0,
}


@pytest.fixture(scope="module")
def registry():
    return core.PyFormulasRegistry()


@pytest.mark.parametrize("name", sorted(VALUES))
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
    assert info.value.args == (f"constant `{name}` not found in registry",)


def test_empty_name_text_shows_two_grave_accents(registry):
    with pytest.raises(KeyError) as info:
        registry.get("")
    assert str(info.value) == "'constant `` not found in registry'"


def test_instance_stays_usable_after_a_miss(registry):
    with pytest.raises(KeyError):
        registry.get("nope")
    assert registry.get("b3") == 24.0


def test_len_and_truth(registry):
    assert len(registry) == 17
    assert bool(registry)


def test_version_through_class_and_instance(registry):
    assert core.PyFormulasRegistry.version() == metadata.version("kestrova")
    assert registry.version() == metadata.version("kestrova")
    assert core.PyFormulasRegistry.version() == core.__version__
    assert core.PyFormulasRegistry.version().isascii()


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
