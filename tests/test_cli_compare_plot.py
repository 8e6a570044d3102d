"""The command line's comparison with measurement and its plot, which need the extras."""

import json
import re
import sys

import pytest
from cli_run import COMPARE, needs, run, well_written
from data import EXPRESSIONS, QUARKS

import kestrova
import kestrova._norvel_core as core
from kestrova import _compare, plot
from kestrova.cli import _format

# Masses from two packages, one without a lower uncertainty, and two CKM figures.
COMPARED = [
    _compare._record(
        "bottom", QUARKS["bottom"][2], 4183.0, 7.0, 7.0, ("PDG", "2026", "particle 1")
    ),
    _compare._record(
        "v_higgs_mev",
        float(EXPRESSIONS["v_higgs_mev"]),
        246219.65,
        0.06,
        None,
        ("CODATA", "2022", "scipy 1"),
    ),
    *(
        _compare._record(m.name, 0.0, *m[1:4], (*m[4:6], "kestrova 1"), "dimensionless")
        for m in (_compare.CKM_MEASURED[0], _compare.CKM_MEASURED[3])
    ),
]


def test_compare_tables_in_full():
    assert "\n".join(_format.compare_table(COMPARED)) == (
        """\
name             model   measured  uncertainty  units  ratio  scheme  scale  source
bottom       35923.014       4183  ± 7          MeV    8.588  -       -      PDG 2026
v_higgs_mev     246220  246219.65  -            MeV    1.000  -       -      CODATA 2022

ratio: model / measured; measured figures from particle 1 and scipy 1.
v = (√2 G_F)^-1/2 from CODATA's Fermi constant G_F.
scheme, scale: - where the data names none; the user guide gives PDG's conventions.

The CKM matrix (dimensionless):
name    model  measured  uncertainty        source
|V_us|    0.0   0.22501  ± 0.00068          PDG 2024
J         0.0  3.12e-05  +1.3e-06 -1.2e-06  PDG 2024

measured: the PDG's global fit, as kestrova 1 carries it."""
    )
    # The notebook's face of the same records.
    assert str(_compare.ComparisonTable(COMPARED)) == (
        """\
The model's figures beside the measured ones (ratio: model / measured)
name         model            measured                uncertainty        ratio  source
bottom       35923.014 MeV    4183 MeV                ± 7                8.588  PDG 2026
v_higgs_mev  246220 MeV       246219.65 MeV           -                  1.000  CODATA 2022
|V_us|       0 dimensionless  0.22501 dimensionless   ± 0.00068          0.000  PDG 2024
J            0 dimensionless  3.12e-05 dimensionless  +1.3e-06 -1.2e-06  0.000  PDG 2024"""
    )


@pytest.mark.numpy
@needs(*COMPARE)
def test_compare_against_particles_own_figures(capsys, monkeypatch):
    import particle

    records = kestrova.compare()
    assert isinstance(records, list) and [r["name"] for r in records] == [
        *(r.name for r in plot.ladder()),
        "m_tau_mev",
        "v_higgs_mev",
        *(m.name for m in _compare.CKM_MEASURED),
    ]
    (table,) = [n for n in particle.Particle.table_names() if n.startswith("particle")]
    for r, pdgid in zip(records, [6, 5, 4, 3, 1, 2, 15], strict=False):
        p = particle.Particle.from_pdgid(pdgid)
        assert (r["measured"], r["uncertainty_upper"], r["uncertainty_lower"]) == (
            p.mass,
            p.mass_upper,
            p.mass_lower,
        )
        assert (r["source"], r["edition"], r["package"]) == (
            "PDG",
            re.search(r"\d{4}", table).group(),
            f"particle {particle.__version__}",
        )
    model = [q.mass_mev for q in plot.ladder()] + [1776.86, 246220.0]
    assert [r["model"] for r in records[:8]] == model
    assert [r["ratio"] for r in records] == [r["model"] / r["measured"] for r in records]
    v = records[7]
    assert v["source"] == "CODATA" and v["measured"] == pytest.approx(246219.65, abs=0.01)
    assert json.loads(json.dumps(records, allow_nan=False)) == records
    assert json.loads(run(capsys, ["compare", "--json"])[1]) == records
    _, out, _ = run(capsys, ["compare"])
    assert f"PDG {records[0]['edition']}" in out.splitlines()[1]
    ckm = out.partition("\nThe CKM matrix (dimensionless):\n")[2].splitlines()
    assert ckm[1].split() == ["|V_us|", "0.0", "0.22501", "±", "0.00068", "PDG", "2024"]
    monkeypatch.setitem(sys.modules, "particle", None)
    message = "comparing with measurement needs particle and scipy: pip install 'kestrova[compare]'"
    with pytest.raises(kestrova.MissingMeasurements, match=re.escape(message)):
        kestrova.compare()
    assert run(capsys, ["compare", "--json"]) == (1, "", f"kestrova: {message}\n")


@pytest.mark.numpy
@needs("matplotlib", *COMPARE)  # the measured masses come from the compare extra
def test_plot_draws_the_ladder_from_the_data(tmp_path, capsys, monkeypatch):
    from matplotlib.figure import Figure

    figure = Figure()
    ax = figure.add_subplot()
    rungs = plot.draw_ladder(ax)
    assert [r.name for r in rungs] == ["top", "bottom", "charm", "strange", "down", "up"]
    points = {(x, y) for line in ax.lines[1:] for x, y in zip(*line.get_data(), strict=True)}
    assert points == {(q.phi_exponent, q.mass_mev) for q in kestrova._pure.QUARKS.values()}
    assert all(y == pytest.approx(246220 / plot.PHI**x, rel=1e-15) for x, y in points)
    assert sorted(t.get_text() for t in ax.texts) == sorted(kestrova.list_quarks())
    assert ax.get_yscale() == "log"
    assert run(capsys, ["plot", "-o", str(tmp_path / "l.svg")])[:2] == (
        0,
        f"wrote {tmp_path / 'l.svg'} (6 quarks)\n",
    )
    assert (tmp_path / "l.svg").read_text().startswith("<?xml")
    lost = str(tmp_path / "no such directory" / "l.svg")
    assert run(capsys, ["plot", "-o", lost]) == (
        1,
        "",
        f"kestrova: cannot write {lost!r}: No such file or directory\n",
    )
    # The measured masses beside the rungs, with their error bars and edition.
    rungs = plot.draw_ladder(ax, measured=True)
    (bars,) = ax.containers
    records = kestrova.compare()[:6]
    assert list(bars.lines[0].get_ydata()) == [r["measured"] for r in records]
    assert bars.get_label() == f"measured (PDG {records[0]['edition']})"
    # Beside each rung, not on it, with its uncertainties as the bar.
    xs = bars.lines[0].get_xdata()
    assert all(0 < x - r.phi_exponent < 0.5 for x, r in zip(xs, rungs, strict=True))
    spans = [(s[0][1], s[1][1]) for s in bars.lines[2][0].get_segments()]
    assert spans == [
        pytest.approx(
            (r["measured"] - r["uncertainty_lower"], r["measured"] + r["uncertainty_upper"])
        )
        for r in records
    ]
    assert "measured" in ax.get_title()
    assert ax.get_ylim()[0] < min(r["measured"] for r in records)
    with monkeypatch.context() as patch:  # --pure reaches no native twin
        patch.setattr(core, "py_list_quarks", None)
        assert run(capsys, ["--pure", "plot", "--measured", "-o", str(tmp_path / "m.svg")])[0] == 0
    monkeypatch.setitem(sys.modules, "particle", None)
    assert run(capsys, ["plot", "--measured", "-o", str(tmp_path / "n.svg")]) == (
        1,
        "",
        (
            "kestrova: comparing with measurement needs particle and scipy: "
            "pip install 'kestrova[compare]'\n"
        ),
    )
    assert not (tmp_path / "n.svg").exists()
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    assert run(capsys, ["plot", "-o", str(tmp_path / "m.png")]) == (
        1,
        "",
        "kestrova: drawing the ladder needs matplotlib: pip install 'kestrova[plot]'\n",
    )


@pytest.mark.numpy
@needs("matplotlib")
def test_the_ladders_curve_axes_and_files(tmp_path, monkeypatch):
    from matplotlib.figure import Figure

    ax = Figure().add_subplot()
    assert [r.name for r in plot.draw_ladder(ax, ["up", "top"])] == ["top", "up"]
    curve, *generations = ax.lines
    xs, ys = curve.get_data()
    assert (curve.get_linestyle(), curve.get_label(), xs[0], xs[-1]) == (
        "--",
        "246220 MeV / φⁿ",
        0,
        12,
    )
    assert all(
        y == pytest.approx(246220 / plot.PHI**x, rel=1e-15) for x, y in zip(xs, ys, strict=True)
    )
    shown = [(g.get_label(), g.get_marker(), list(g.get_xdata())) for g in generations]
    assert shown == [("generation 1", "o", [12]), ("generation 3", "o", [0])]
    # Every point inside the axes, each exponent a tick.
    assert ax.get_ylim()[0] < 246220 / plot.PHI**12 and ax.get_ylim()[1] > 246220
    assert ax.get_xlim()[0] < 0 and ax.get_xlim()[1] > 12
    assert list(ax.get_xticks()) == list(range(13)) and "measured" not in ax.get_title()
    assert "246220 MeV / φⁿ" in ax.get_title()
    for text in (ax.get_title(), ax.get_xlabel(), ax.get_ylabel()):
        assert text
        well_written(text)
    # Nothing measured unless asked; the suffix is read after the last dot; the same
    # data gives the same file, with no date in it.
    monkeypatch.setattr(plot, "_measured", None)
    for suffix in plot.FORMATS:
        files = [tmp_path / f"{n}.ladder.{suffix}" for n in "ab"]
        assert [[r.name for r in plot.save_ladder(str(f), ["top"])] for f in files] == [["top"]] * 2
        assert files[0].read_bytes() == files[1].read_bytes()
        assert b"CreationDate" not in files[0].read_bytes()
    message = r"^cannot write 'svg': the name must end in \.svg, \.png or \.pdf$"
    with pytest.raises(ValueError, match=message):
        plot.save_ladder("svg")
