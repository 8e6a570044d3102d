"""The records of the model's figures: values, display, units and tables."""

import dataclasses
import html
import re
import shutil
import sys
import types

import pytest
from data import CONSTANTS, QUARKS

import kestrova
import kestrova._norvel_core as core
from kestrova import _compare, _display
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


def _compared():
    pytest.importorskip("particle")
    pytest.importorskip("scipy")
    return kestrova.compare()


# What each kind of record shows: (object, value, units, marked as the model's)
SHOWN = [
    (lambda: kestrova.constant("h0_central"), "70.0", "km/s/Mpc", True),
    (lambda: kestrova.constant("phi"), "1.618033988749895", "dimensionless", False),
    (lambda: kestrova.quark("bottom"), "35923.013870002665", "MeV", False),
    # No datasheet gives an uncertainty yet; a record that holds one shows it with its units.
    (
        lambda: dataclasses.replace(kestrova.constant("b3"), uncertainty=0.5),
        "0.5",
        "dimensionless",
        False,
    ),
    (kestrova.ckm, "0.0", "(dimensionless)", False),  # J; the entries are bare
    (kestrova.constants, "163.0", "count", True),
    (kestrova.quarks, "246220.0", "MeV", False),
    pytest.param(_compared, "0.22501", "dimensionless", False, marks=pytest.mark.numpy),
]
IDS = ["constant", "seed", "quark", "uncertainty", "ckm", "constants", "quarks", "compare"]


@pytest.mark.parametrize("make, value, units, model", SHOWN, ids=IDS)
def test_str_shows_value_units_and_the_models_mark(make, value, units, model):
    shown = str(make())
    assert f"{value} {units}" in shown
    assert (_display.MODEL_NOTE in shown) is model and (f"{value} {units}*" in shown) is model


@pytest.mark.parametrize("make, value, units, model", SHOWN, ids=IDS)
def test_html_shows_value_units_and_the_models_mark(make, value, units, model):
    shown = make()._repr_html_()
    assert shown.startswith("<table>") and shown.endswith("</table>")
    assert f"{value} {units}" in shown or f">{value}</td>" in shown  # the CKM's bare entries
    assert units in shown
    assert (html.escape(_display.MODEL_NOTE) in shown) is model
    assert ("<sup>*</sup>" in shown) is model


@pytest.mark.parametrize("make, value, units, model", SHOWN, ids=IDS)
def test_latex_shows_value_units_and_the_models_mark(make, value, units, model):
    shown = make()._repr_latex_()
    assert shown.count("$$") == 2 and r"\begin{array}" in shown
    assert f"{value}" in shown and units in shown
    assert ("^{*}" in shown) is model


F = _display.Figure
NOTE = _display.MODEL_NOTE
# Tables that take every path the faces have. The first has a caption, a header
# with an empty cell, notes, figures marked as the model's (one without units),
# a figure with its own text and an exponent, and text to escape; the second, like
# a record, neither caption nor header, so its first column heads the rows; the
# third no rows, but notes that still span its one column.
FACES = [
    (
        _display.Table(
            "A & <b>",
            ("", "x_1"),
            [
                ("a", F(1.5, "MeV", True)),
                ("", F(2.0, "", True)),
                ("b", F(3.0, "", shown="1.25e-05")),
                ("\\^~{}#$%&", "<&>"),
            ],
            ["note"],
        ),
        r"""A & <b>
           x_1
a          1.5 MeV*
           2.0*
b          1.25e-05
\^~{}#$%&  <&>
note
"""
        + NOTE,
        "<table><caption>A &amp; &lt;b&gt;</caption><thead><tr><th></th><th>x_1</th></tr></thead>"
        '<tbody><tr><td>a</td><td style="text-align: right">1.5 MeV<sup>*</sup></td></tr>'
        '<tr><td></td><td style="text-align: right">2.0<sup>*</sup></td></tr>'
        '<tr><td>b</td><td style="text-align: right">1.25e-05</td></tr>'
        "<tr><td>\\^~{}#$%&amp;</td><td>&lt;&amp;&gt;</td></tr></tbody>"
        '<tfoot><tr><td colspan="2">note</td></tr>'
        f'<tr><td colspan="2">{html.escape(NOTE)}</td></tr></tfoot></table>',
        r"""A & <b>
$$\begin{array}{ll}
\text{} & \text{x\_1} \\ \hline
\text{a} & 1.5\ \text{MeV}^{*} \\
 & 2.0^{*} \\
\text{b} & 1.25\times 10^{-5} \\
\text{\backslash{}\hat{}\sim{}\{\}\#\$\%\&} & \text{<\&>} \\
\end{array}$$
note
"""
        + NOTE,
    ),
    (
        _display.Table("", None, [("name", "b", "c"), ("value", F(0.5, ""), "d")]),
        "name   b    c\nvalue  0.5  d",
        "<table><tbody><tr><th>name</th><td>b</td><td>c</td></tr>"
        '<tr><th>value</th><td style="text-align: right">0.5</td><td>d</td></tr></tbody></table>',
        r"""$$\begin{array}{lll}
\text{name} & \text{b} & \text{c} \\
\text{value} & 0.5 & \text{d} \\
\end{array}$$""",
    ),
    (
        _display.Table("", ("name",), [], ["note"]),
        "name\nnote",
        "<table><thead><tr><th>name</th></tr></thead><tbody></tbody>"
        '<tfoot><tr><td colspan="1">note</td></tr></tfoot></table>',
        r"""$$\begin{array}{l}
\text{name} \\ \hline
\end{array}$$
note""",
    ),
]


@pytest.mark.parametrize("table, text, html_text, latex", FACES, ids=["full", "record", "empty"])
def test_faces_draw_the_whole_table(table, text, html_text, latex):
    assert _display.text(table) == text
    assert _display.html_table(table) == html_text
    assert _display.latex(table) == latex


# What a record or collection builds its table from, shown whole.
@pytest.mark.parametrize(
    "make, shown",
    [
        (
            kestrova.ckm,
            """The model's CKM matrix, |V_ij|
   d    s    b
u  1.0  0.0  0.0
c  0.0  1.0  0.0
t  0.0  0.0  1.0
Jarlskog invariant J = 0.0 (dimensionless)""",
        ),
        (lambda: kestrova.Records(()), "name"),
        (
            lambda: kestrova.Records([kestrova.quark("top")]),
            "name  generation  phi_exponent  mass          vev_fraction\n"
            "top   3           0             246220.0 MeV  1.0",
        ),
    ],
    ids=["ckm", "no records", "one record"],
)
def test_str_draws_the_whole_table(make, shown):
    assert str(make()) == shown


def _rows(kind, name):
    """The rows a record's text face should show beside its value: one a field."""
    if kind is kestrova.quark:
        generation, exponent, _, fraction = QUARKS[name]
        return {
            "generation": str(generation),
            "phi_exponent": str(exponent),
            "vev_fraction": repr(fraction),
        }
    _, _, status, expression = CONSTANTS[name]
    return {"uncertainty": "-", "status": status, "expression": expression or "-"}


@pytest.mark.parametrize(
    "kind, name",
    [(kestrova.constant, "b3"), (kestrova.constant, "h0_central"), (kestrova.quark, "up")],
)
def test_str_shows_each_field_on_a_row_of_its_own(kind, name):
    shown = dict(line.split(None, 1) for line in str(kind(name)).splitlines())
    assert shown["name"] == name and shown["description"] == kestrova.describe(name)
    assert {field: shown[field] for field in _rows(kind, name)} == _rows(kind, name)


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


@pytest.mark.numpy
@pytest.mark.parametrize("make", [kestrova.constants, kestrova.quarks, kestrova.ckm, _compared])
def test_dataframes(monkeypatch, make):
    pytest.importorskip("pandas")
    made = make()
    frame = made.to_dataframe()
    if isinstance(made, kestrova.CKM):
        assert frame.loc["u", "s"] == made.magnitude("u", "s") and list(frame) == ["d", "s", "b"]
    else:
        assert list(frame.index) == [r.name if hasattr(r, "name") else r["name"] for r in made]
        assert "units" in frame.columns and type(made)().to_dataframe().empty
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(kestrova.MissingPandas, match=r"^a DataFrame needs pandas: pip install"):
        made.to_dataframe()


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
