"""How the records show themselves: as text, HTML, LaTeX and DataFrames, each table
drawn whole."""

import dataclasses
import html
import sys

import pytest
from data import CONSTANTS, QUARKS

import kestrova
from kestrova import _display


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
