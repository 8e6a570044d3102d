"""The kestrova command line, native and pure."""

import importlib.util
import json
import os
import re
import subprocess
import sys
import sysconfig

import pytest
from data import EXPRESSIONS, QUARK_NAMES, QUARKS

import kestrova
import kestrova._norvel_core as core
from kestrova import _compare, plot
from kestrova.cli import _format, main, suggestions


def needs(*modules):
    """Skips a test unless every module it imports is installed: the debug
    interpreter's environment, for one, has no build of scipy to offer."""
    absent = [m for m in modules if importlib.util.find_spec(m) is None]
    return pytest.mark.skipif(bool(absent), reason=f"needs {', '.join(modules)}")


COMPARE = ("particle", "scipy")
NEEDS_COMPARE = [needs(*COMPARE), pytest.mark.numpy]
COMMANDS = [
    [],
    ["constants"],
    ["get", "phi"],
    ["get", "v_higgs_mev", "--json"],
    ["quarks"],
    ["ckm"],
    ["ckm", "--tol", "0"],
    ["get", "n_gen_sq"],
    ["constants", "--json"],
    ["quarks", "--json"],
    ["ckm", "--json", "--tol", "1"],
    ["search", "tau"],
    ["get", "m_tau_mev", "--json"],
    ["get", "bottom"],
    ["get", "ckm", "--json"],
    *(pytest.param(argv, marks=NEEDS_COMPARE) for argv in (["compare"], ["--json", "compare"])),
]
NAMES = ["constants", "get", "search", "quarks", "ckm", "compare", "plot"]


def run(capsys, argv):
    try:
        status = main(argv)
    except SystemExit as exc:  # argparse's own exits
        status = exc.code
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("argv", COMMANDS, ids=" ".join)
def test_pure_twins_print_the_same(capsys, monkeypatch, argv):
    native = run(capsys, argv)
    assert native[0] == 0 and native[2] == "" and native[1].endswith("\n")
    for twin in ("py_list_constants", "py_list_quarks", "py_get_constant"):
        monkeypatch.setattr(core, twin, None)  # so that --pure cannot reach them
    assert run(capsys, ["--pure", *argv]) == native
    if argv:  # the option is accepted after the command as well
        assert run(capsys, [*argv, "--pure"]) == native


def test_overview_holds_the_constants_the_quarks_and_the_ckm_check(capsys):
    constants, ckm = run(capsys, ["constants"])[1], run(capsys, ["ckm"])[1]
    quarks = ", ".join(QUARK_NAMES)
    expected = f"\n\nConstants:\n{constants}\nQuarks: {quarks}\n\nCKM matrix:\n{ckm}\nCommands: "
    overview = run(capsys, [])[1]
    assert expected in overview
    # The closing hint names every command, its arguments spelled as its usage spells them.
    hint = overview.splitlines()[-1].removeprefix("Commands: ").partition("; ")[0]
    parts = [part.split(" ", 1) for part in hint.split(", ")]
    assert [command for command, *_ in parts] == NAMES
    for command, *arguments in parts:
        usage = " ".join(run(capsys, [command, "--help"])[1].partition("\n\n")[0].split())
        assert all(a in usage for a in arguments)


def test_constants_table(capsys):
    _, out, _ = run(capsys, ["constants"])
    lines = out.splitlines()
    assert lines[0] == (
        "name                         value  expression                    units          status"
    )
    assert lines[1] == (
        "b3                            24.0                                dimensionless  Seed"
    )
    assert lines[15] == (
        "v_higgs_mev                    0.0  246220                        MeV            Pending"
    )
    assert [re.split(r"\s{2,}", line) for line in lines[1:]] == [
        [
            s["name"],
            repr(s["value"]),
            *filter(None, [EXPRESSIONS.get(s["name"])]),
            s["units"],
            s["status"],
        ]
        for s in map(core.py_get_constant, core.py_list_constants())
    ]


def test_quarks_and_ckm(capsys):
    rows = [f"{n:<7}  {g:>10}  {x:>12}  {m!r:>18}\n" for n, (g, x, m, _) in QUARKS.items()]
    assert run(capsys, ["quarks"])[1] == (
        "name     generation  phi_exponent            mass_mev\n" + "".join(rows)
    )
    assert run(capsys, ["ckm", "--tol=0.5"])[1] == (
        "unitary within 0.5: yes\nJarlskog invariant J: 0.0\n"
    )


def test_get(capsys):
    assert run(capsys, ["get", "b3"])[1] == (
        "name         b3\nstatus       Seed\nuncertainty  -\nunits        dimensionless\n"
        "value        24.0\ndescription  A whole number of the model, 24; chi_eff / b3 is the "
        "number of generations.\n"
    )
    for name in [*core.py_list_constants(), *core.py_list_quarks(), "ckm"]:
        line = kestrova.describe(name)
        assert line.endswith(".") and "\n" not in line
        assert run(capsys, ["get", name])[1].endswith(f"\ndescription  {line}\n")
    assert run(capsys, ["get", "ckm"])[1].startswith(f"{kestrova.ckm()}\ndescription  ")
    with pytest.raises(KeyError, match="constant `B3` not found in registry"):
        kestrova.describe("B3")
    _, out, _ = run(capsys, ["get", "phi", "--json"])
    assert out == (
        '{"name":"phi","status":"Seed","uncertainty":null,"units":"dimensionless",'
        '"value":1.618033988749895}\n'
    )
    assert json.loads(out) == core.py_get_constant("phi")
    _, out, _ = run(capsys, ["get", "n_gen_sq"])
    assert "value        0.0\nexpression   n_gen * n_gen\n" in out
    # The datasheet's keys in their order, then the expression a pending constant holds.
    assert run(capsys, ["get", "m_tau_mev", "--json"])[1] == (
        '{"name":"m_tau_mev","status":"Pending","uncertainty":null,"units":"MeV","value":0.0,'
        '"expression":"1776.86"}\n'
    )
    generation, exponent, mass, fraction = QUARKS["up"]
    assert run(capsys, ["get", "up"])[1] == (
        f"name         up\ngeneration   {generation}\nphi_exponent {exponent}\n"
        f"mass_mev     {mass!r}\nvev_fraction {fraction!r}\ndescription  The up quark, of "
        f"generation {generation}: its mass is 246220 MeV / φ¹² = {mass:.6g} MeV on the model's "
        "quark mass ladder.\n"
    )
    # A quark's record is written compactly too.
    assert run(capsys, ["get", "top", "--json"])[1] == (
        '{"name":"top","generation":3,"phi_exponent":0,"mass_mev":246220.0,"vev_fraction":1.0}\n'
    )


@pytest.mark.parametrize(
    "argv, expected",
    [
        (
            ["constants"],
            [
                {
                    **core.py_get_constant(n),
                    **({"expression": EXPRESSIONS[n]} if n in EXPRESSIONS else {}),
                }
                for n in core.py_list_constants()
            ],
        ),
        (
            ["quarks"],
            [
                {"name": n, "generation": g, "phi_exponent": x, "mass_mev": m, "vev_fraction": f}
                for n, (g, x, m, f) in QUARKS.items()
            ],
        ),
        (["ckm"], {"tol": 1e-12, "unitary": True, "jarlskog": 0.0}),
        (["ckm", "--tol", "0"], {"tol": 0.0, "unitary": True, "jarlskog": 0.0}),
        (
            ["get", "bottom"],
            {"name": "bottom", **kestrova._pure.QUARKS["bottom"]._asdict()},
        ),
        (
            ["get", "ckm"],
            {
                "name": "ckm",
                "rows": ["u", "c", "t"],
                "columns": ["d", "s", "b"],
                "magnitudes": [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]],
                "jarlskog": 0.0,
            },
        ),
    ],
    ids=lambda v: " ".join(v) if isinstance(v, list) and isinstance(v[0], str) else "",
)
def test_json_forms(capsys, argv, expected):
    _, out, _ = run(capsys, [*argv, "--json"])
    assert out.count("\n") == 1 and json.loads(out) == expected
    assert run(capsys, ["--json", *argv])[1] == out
    if argv == ["constants"]:  # the same text as get --json, datasheet by datasheet
        texts = [run(capsys, ["get", n["name"], "--json"])[1].strip() for n in expected]
        assert out == "[" + ",".join(texts) + "]\n"


@pytest.mark.parametrize("mode", [[], ["--pure"]], ids=["native", "pure"])
@pytest.mark.parametrize(
    "argv, status, message",
    [
        (
            ["get", "B3"],
            1,
            "kestrova: constant `B3` not found in registry\nkestrova: did you mean b3?\n",
        ),
        (
            ["get", " phi"],
            1,
            "kestrova: constant ` phi` not found in registry\nkestrova: did you mean phi?\n",
        ),
        (
            ["get", "n_gen_s"],
            1,
            "kestrova: constant `n_gen_s` not found in registry\n"
            "kestrova: did you mean n_gen_sq or n_gen?\n",
        ),
        (["get", "xyzzy"], 1, "kestrova: constant `xyzzy` not found in registry\n"),
        # the name alone, though n_gen_sq is a close spelling too
        (
            ["get", "N_GEN"],
            1,
            "kestrova: constant `N_GEN` not found in registry\nkestrova: did you mean n_gen?\n",
        ),
        (["get", " "], 1, "kestrova: constant ` ` not found in registry\n"),  # nothing to search
        (["get", ""], 2, "kestrova get: error: argument NAME: the name must be non-empty\n"),
        (
            ["get", "\udcff"],
            2,
            "kestrova get: error: argument NAME: the name '\\udcff' is not valid UTF-8\n",
        ),
        (["get"], 2, "kestrova get: error: the following arguments are required: NAME\n"),
        (["plot"], 2, "kestrova plot: error: the following arguments are required: -o/--output\n"),
        (
            ["ckm", "--tol", "x"],
            2,
            "kestrova ckm: error: argument --tol: invalid float value: 'x'\n",
        ),
        *[
            (
                ["ckm", f"--tol={tol}"],
                2,
                f"kestrova ckm: error: argument --tol: must be a finite number >= 0, not '{tol}'\n",
            )
            for tol in ["-1e-12", "nan", "inf", "-0.5"]
        ],
        (
            ["plot", "-o", "ladder.txt"],
            2,
            "kestrova plot: error: argument -o/--output: "
            "'ladder.txt' must end in .svg, .png or .pdf\n",
        ),
        *[
            (
                [command],
                2,
                (
                    f"kestrova: error: argument COMMAND: invalid choice: '{command}'{hint} "
                    f"(choose from {', '.join(NAMES)})\n"
                ),
            )
            for command, hint in [
                ("nope", ""),
                ("cmp", ", maybe you meant 'ckm'?"),  # the nearest alone, compare is near too
                ("a (choose from b", ""),
                ("qaurks", ", maybe you meant 'quarks'?"),
                ("Get", ", maybe you meant 'get'?"),
            ]
        ],
        (["search", " "], 2, "kestrova search: error: argument TEXT: the text must not be empty\n"),
        (["--json"], 2, "kestrova: error: argument --json: the overview has no JSON form\n"),
        (
            ["--json", "plot", "-o", "l.v2.svg"],  # the suffix after the last dot
            2,
            "kestrova: error: argument --json: plot has no JSON form\n",
        ),
    ],
)
def test_errors(capsys, mode, argv, status, message):
    code, out, err = run(capsys, [*mode, *argv])
    assert (code, out) == (status, "")
    assert (err if status == 1 else err.splitlines(keepends=True)[-1]) == message
    assert status == 1 or err.startswith("usage: kestrova")


@pytest.mark.parametrize(
    "text, found, suggested",
    [
        ("tau", ["m_tau_mev"], "m_tau_mev"),
        ("TAU  Mass", ["m_tau_mev"], None),
        ("hubble", ["h0_central"], "h0_central"),
        ("H0", ["h0_central"], "h0_central"),
        ("golden", ["phi"], "phi"),
        ("euler", ["gamma_em"], "gamma_em"),
        ("higgs", ["v_higgs_mev"], "v_higgs_mev"),
        ("vev", ["v_higgs_mev"], "v_higgs_mev"),
        ("fermi constant", ["v_higgs_mev"], None),
        ("cosmological constant", ["w0_central"], None),
        # an exact name, then a prefix, then the rest
        ("n_gen", ["n_gen", "n_gen_sq", "topo_gen_check"], ""),
        ("top", ["top", "topo_gen_check", "v_higgs_mev"], ""),
        # an alias before a mere mention
        (
            "generations",
            ["n_gen", "topo_gen_check", "b3", "chi_eff", "n_gen_sq"],
            "n_gen, topo_gen_check, b3, chi_eff or n_gen_sq",
        ),
        # the search's hits, then the close spellings, at most five
        ("n_gen_s", ["n_gen_sq"], "n_gen_sq or n_gen"),
        (
            "sterile_sectr",
            ["sterile_sector", "sterile_check", "visible_sector"],
            "sterile_sector, sterile_check or visible_sector",
        ),
        (
            "count",
            [
                *("jc_constant", "logic_closure", "n_gen", "n_gen_sq", "roots_total"),
                *("sterile_check", "sterile_sector", "topo_gen_check", "visible_sector"),
            ],
            "jc_constant, logic_closure, n_gen, n_gen_sq or roots_total",
        ),
        ("xyzzy", [], None),
        ("xx", [], None),  # too short for a close spelling
        ("nothinghere", [], None),  # no close spelling drawn from the descriptions' prose
        # the quarks and the CKM matrix
        ("top quark", ["top", "v_higgs_mev"], None),
        ("bottom", ["bottom"], ""),
        ("quark mass", [*kestrova.list_quarks(), "phi", "v_higgs_mev"], None),
        (
            "quark",
            [*kestrova.list_quarks(), "ckm", "phi", "v_higgs_mev"],
            "bottom, charm, down, strange or top",
        ),
        ("CKM", ["ckm"], "ckm"),
        ("jarlskog", ["ckm"], None),
        ("mixing", ["ckm"], None),
        # close spellings, only where nothing matches as typed
        ("tua", ["m_tau_mev"], "m_tau_mev"),
        ("hubbel", ["h0_central"], "h0_central"),
        ("jarlskg", ["ckm"], None),
        ("tua mass", ["m_tau_mev"], None),
        # more words, fewer hits
        ("higgs vev", ["v_higgs_mev"], None),
        ("top quark mass", ["top", "v_higgs_mev"], None),
    ],
)
def test_search_and_suggestions(capsys, text, found, suggested):
    hits = kestrova.search(text)
    assert hits == found
    code, out, err = run(capsys, ["search", text, "--json"])
    if found:
        assert (code, json.loads(out), err) == (0, hits, "")
        width = max(4, *map(len, hits))
        assert run(capsys, ["search", text])[1].splitlines() == [
            f"{'name':<{width}}  description",
            *(f"{n:<{width}}  {kestrova.describe(n)}" for n in hits),
        ]
    else:  # still JSON, and still a failure
        assert (code, out, err) == (1, "[]\n", f"kestrova: no constant matches {text!r}\n")
        assert run(capsys, ["search", text]) == (1, "", err)
    if suggested is not None:  # "" for a name that exists
        code, _, err = run(capsys, ["get", text])
        hint = f"kestrova: did you mean {suggested}?\n" if suggested else ""
        assert (code, err) == (
            (1, f"kestrova: constant `{text}` not found in registry\n{hint}")
            if suggested
            else (0, "")
        )


@pytest.mark.parametrize(
    "name, expected",
    [
        (" N_GEN", ["n_gen"]),  # differs only in case and spaces: the answer on its own
        ("abcd", ["xbcd", "axcd", "abxd"]),  # four as close: three at most
    ],
)
def test_suggestions(name, expected):
    assert suggestions(name, ["n_gen", "n_gen_sq", "abxd", "axcd", "xbcd", "Abcx"]) == expected


def test_search_rejects_what_is_no_text():
    with pytest.raises(ValueError, match=r"^search: text must not be empty$"):
        kestrova.search(" \t")
    with pytest.raises(TypeError, match=r"^search: text must be a str, not bytes$"):
        kestrova.search(b"tau")
    with pytest.raises(TypeError, match=r"^describe: name must be a str, not bytes$"):
        kestrova.describe(b"phi")


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


def test_version(capsys):
    assert run(capsys, ["--version"]) == (0, f"kestrova {kestrova.__version__}\n", "")


def test_pure_mode_never_loads_the_native_module():
    code = (
        "import sys; from kestrova.cli import main; "
        "main(['--pure', 'constants']); main(['get', 'phi', '--json', '--pure']); "
        "main(['--pure', 'quarks']); print('kestrova._norvel_core' in sys.modules)"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.splitlines()[-1] == "False"


SCRIPT = os.path.join(sysconfig.get_path("scripts"), "kestrova")


@pytest.mark.parametrize(
    "command",
    [[SCRIPT], [sys.executable, "-m", "kestrova"]],
    ids=["console script", "python -m"],
)
def test_entry_points(command):
    if not os.path.exists(command[0]):
        pytest.skip("console script not installed")
    ok = subprocess.run([*command, "get", "n_gen"], capture_output=True, text=True)
    assert (ok.returncode, ok.stderr) == (0, "")
    assert ok.stdout.splitlines()[-2] == "value        3.0"
    bad = subprocess.run([*command, "get", "N_GEN"], capture_output=True, text=True)
    assert (bad.returncode, bad.stdout) == (1, "")
    assert bad.stderr == (
        "kestrova: constant `N_GEN` not found in registry\nkestrova: did you mean n_gen?\n"
    )


@pytest.mark.parametrize("argv", [[], ["ckm", "--help"]], ids=" ".join)
def test_closed_pipe_ends_quietly(argv):
    read, write = os.pipe()
    os.close(read)  # like `kestrova | head -n 1` once head has exited
    with os.fdopen(write, "wb") as stdout:
        done = subprocess.run(
            [sys.executable, "-m", "kestrova", *argv],
            stdout=stdout,
            stderr=subprocess.PIPE,
            text=True,
            # Buffered, as a user's is: unbuffered output fails at the write, not at exit.
            env={k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"},
        )
    assert (done.returncode, done.stderr) == (0, "")


# 128 + SIGINT, as a shell reports it; a closed pipe is no failure, and what is left
# to write goes to the null device, so that the flush at exit cannot fail again.
@pytest.mark.parametrize("error, status", [(KeyboardInterrupt, 130), (BrokenPipeError, 0)])
def test_interrupt_and_closed_pipe_exit_statuses(monkeypatch, tmp_path, error, status):
    class Stdout:
        def write(self, text):
            raise error

        def fileno(self):
            return fd

    fd = os.open(tmp_path / "out", os.O_WRONLY | os.O_CREAT)
    monkeypatch.setattr(sys, "stdout", Stdout())
    try:
        assert main(["quarks"]) == status
        nulled = os.path.samestat(os.fstat(fd), os.stat(os.devnull))
        assert nulled == (error is BrokenPipeError)
    finally:
        os.close(fd)


@pytest.mark.parametrize("command", NAMES)
def test_every_command_describes_itself(capsys, command):
    code, out, _ = run(capsys, [command, "--help"])
    usage, description, *sections = out.split("\n\n")
    assert (code, usage.split()[:3]) == (0, ["usage:", "kestrova", command]) and sections
    assert not description.startswith(("options:", "positional arguments:"))


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
