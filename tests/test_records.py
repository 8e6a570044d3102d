"""The records of the model's figures: values, expressions, units and editions."""

import dataclasses
import re
import shutil
import sys
import types

import pytest

import kestrova
import kestrova._norvel_core as core
from kestrova import _compare
from kestrova._evaluate import evaluate

# The figure each pending constant's expression comes to.
MODEL_FIGURES = {
    "v_higgs_mev": 246220.0,
    "sterile_check": 163.0,
    "n_gen_sq": 9.0,
    "h0_central": 70.0,
    "w0_central": -1.0,
    "m_tau_mev": 1776.86,
    "topo_gen_check": 3.0,
}


@pytest.mark.parametrize(
    "text, outcome",
    [
        ("1 + 2 * 3", 7.0),
        ("(1 + 2) * 3", 9.0),
        ("-(2 - 5) / .5", 6.0),
        ("--1.5e2", 150.0),
        ("chi_eff / b3", 3.0),
        ("", "it is empty"),
        ("2 ** 3", "unexpected '*'"),
        ("+1", "unexpected '+'"),
        ("2 3", "unexpected '3'"),
        ("1 +", "it ends too early"),
        ("(1", "a parenthesis is not closed"),
        ("1 / (b3 - 24)", "division by zero"),
        ("1e999", "it does not come to a finite number"),
        ("2 % 3", "'%' is not a number, a name, + - * / or a parenthesis"),
        ("__import__", "no constant is named '__import__'"),
        ("open('x')", '"\'" is not a number'),
        ("b3.real", "'.' is not a number"),
    ],
)
def test_evaluator_reads_arithmetic_and_refuses_the_rest(text, outcome):
    def lookup(name):
        return kestrova.constant(name).value

    if isinstance(outcome, float):
        assert evaluate(text, lookup) == outcome
    else:
        with pytest.raises(
            ValueError, match="^" + re.escape(f"cannot evaluate {text!r}: {outcome}")
        ):
            evaluate(text, lookup)


def test_records_hold_the_pure_data():
    records = kestrova.constants()
    assert [r.name for r in records] == kestrova.list_constants()
    for r in records:
        sheet = kestrova.Get(r.name)
        assert (r.units, r.uncertainty, r.status) == (sheet["units"], None, sheet["status"])
        assert r.expression == kestrova._pure.expression(r.name)
        assert r.description == kestrova.describe(r.name)
        assert r.from_expression is (r.name in MODEL_FIGURES)
        assert r.value == MODEL_FIGURES.get(r.name, sheet["value"])
        assert records[r.name] is r and kestrova.constant(r.name) == r
    with pytest.raises(dataclasses.FrozenInstanceError):
        records[0].value = 1.0
    with pytest.raises(KeyError, match=r"^'top'$"):
        records["top"]
    with pytest.raises(KeyError, match="constant `bottom` not found"):
        kestrova.constant("bottom")
    quarks = kestrova.quarks()
    assert [(q.name, *kestrova._pure.QUARKS[q.name]) for q in quarks] == [
        (q.name, q.generation, q.phi_exponent, q.mass_mev, q.vev_fraction) for q in quarks
    ]
    assert quarks["top"].units == "MeV" and quarks["top"].description == kestrova.describe("top")
    with pytest.raises(KeyError, match="quark `b3` not found; the quarks are bottom, charm"):
        kestrova.quark("b3")
    ckm = kestrova.ckm()
    native = core.PyCKMMatrix.from_topology()
    assert ckm.jarlskog == native.jarlskog() and ckm.description == kestrova.describe("ckm")
    assert ckm.magnitudes == tuple(tuple(float(i == j) for j in range(3)) for i in range(3))
    assert (ckm.rows, ckm.columns, ckm.magnitude("t", "b")) == (("u", "c", "t"), ("d", "s", "b"), 1)
    assert native.is_unitary(0.0) and all(sum(x * x for x in row) == 1 for row in ckm.magnitudes)


def test_an_expression_that_comes_back_to_itself(monkeypatch):
    # An error, where following the names round the loop would never end.
    loop = {"n_gen": "n_gen_sq", "n_gen_sq": "n_gen * n_gen"}
    monkeypatch.setattr(kestrova._pure, "expression", loop.get)
    with pytest.raises(ValueError, match=r"^the expression of n_gen_sq comes back to n_gen_sq$"):
        kestrova.constant("n_gen_sq")


@pytest.mark.numpy
@pytest.mark.parametrize(
    "record, unit, figure",
    [
        (lambda: kestrova.constant("m_tau_mev"), "GeV", 1.77686),
        (lambda: kestrova.quark("top"), "GeV", 246.22),
        (lambda: kestrova.constant("h0_central"), "km / (s kpc)", 0.07),
        (lambda: kestrova.constant("n_gen"), "", 3.0),
        (lambda: kestrova.constant("phi"), "", 1.618033988749895),
    ],
)
def test_quantities_in_astropy_and_pint(monkeypatch, record, unit, figure):
    units = pytest.importorskip("astropy.units")
    ureg = pytest.importorskip("pint").UnitRegistry()
    astropy, pint = record().quantity(), record().quantity(ureg)
    assert isinstance(astropy, units.Quantity) and isinstance(pint, ureg.Quantity)
    assert astropy.to(unit).value == pytest.approx(figure)
    assert pint.to(unit).magnitude == pytest.approx(figure)
    assert pint.unitless == (unit == "")  # a count is a pure number, for pint too
    monkeypatch.setitem(sys.modules, "astropy", None)
    message = "a quantity needs astropy or pint: pip install 'kestrova[units]'"
    with pytest.raises(kestrova.MissingUnits, match=f"^{re.escape(message)}$"):
        record().quantity()
    assert isinstance(record().quantity(ureg), ureg.Quantity)


@pytest.fixture
def particle_table():
    """Loads the tables a test names into particle, and its default ones after."""
    particle = pytest.importorskip("particle")
    pytest.importorskip("scipy")
    yield particle
    particle.Particle.load_table()


@pytest.mark.numpy
def test_compare_names_the_data_it_reads(particle_table, monkeypatch, tmp_path):
    records = kestrova.compare()
    ckm = kestrova.ckm()
    for r, m in zip(records[-4:], _compare.CKM_MEASURED, strict=True):
        model = ckm.jarlskog if m.name == "J" else ckm.magnitude(m.name[3], m.name[4])
        assert (r["name"], r["model"], r["measured"], r["units"], r["edition"]) == (
            m.name,
            model,
            m.value,
            "dimensionless",
            m.edition,
        )
        assert (r["uncertainty_upper"], r["uncertainty_lower"]) == (m.upper, m.lower)
    # v's uncertainty follows from G_F's, 1.1663787(6)e-5 GeV^-2: dv/v = dG_F / (2 G_F).
    bottom, v, vcb = records[1], records[7], records[9]
    assert v["uncertainty_upper"] == v["uncertainty_lower"] == pytest.approx(0.0633, abs=5e-5)
    # The table's face: eight digits of the model, each figure with its units, the
    # uncertainty folded to ± only where it is symmetric.
    rows = {line.split()[0]: line.split()[1:] for line in str(records).splitlines()[2:]}
    assert rows["bottom"][:4] == ["35923.014", "MeV", f"{bottom['measured']:g}", "MeV"]
    assert rows["bottom"][4:6] == ["±", f"{bottom['uncertainty_upper']:g}"]
    assert rows["|V_cb|"][:2] == ["0", "dimensionless"]
    up, down = vcb["uncertainty_upper"], vcb["uncertainty_lower"]
    assert rows["|V_cb|"][4:6] == [f"+{up:g}", f"-{down:g}"]
    assert "<th>name</th>" in records._repr_html_()
    # A table the user loads names its own edition, or none.
    shipped = particle_table.data.basepath / "particle2025.csv"
    renamed = tmp_path / "masses.csv"
    shutil.copy(shipped, renamed)
    for table, edition in [(shipped, "2025"), (renamed, "unknown")]:
        particle_table.Particle.load_table(str(table))
        top = kestrova.compare()[0]
        assert (top["measured"], top["edition"]) == (172560.0, edition)
    scipy = sys.modules["scipy.constants"]
    monkeypatch.setattr(scipy, "__doc__", "CODATA recommended values [CODATA2099]")
    assert kestrova.compare()[7]["edition"] == "2099"
    monkeypatch.setattr(scipy, "__doc__", None)  # as under python -OO
    assert kestrova.compare()[7]["edition"] == "2022"
    monkeypatch.delattr(scipy, "_codata")
    assert kestrova.compare()[7]["edition"] == "unknown"
    # An uncertainty of zero is a figure; particle writes a missing one as negative.
    exact = types.SimpleNamespace(mass=1.0, mass_upper=0.0, mass_lower=0)
    monkeypatch.setattr(particle_table.Particle, "from_pdgid", lambda pdgid: exact)
    assert kestrova.compare()[0]["uncertainty_lower"] == 0.0
    # A table without the figure: no ratio to give.
    blank = types.SimpleNamespace(mass=None, mass_upper=None, mass_lower=-1.0)
    monkeypatch.setattr(particle_table.Particle, "from_pdgid", lambda pdgid: blank)
    with pytest.raises(ValueError, match=r"^the data gives no measured figure for top$"):
        kestrova.compare()
