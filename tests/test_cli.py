"""The kestrova command line, native and pure: what each command prints, and how it
runs as a process."""

import json
import os
import re
import subprocess
import sys
import sysconfig

import pytest
from cli_run import NAMES, NEEDS_COMPARE, listed, run, well_written
from data import EXPRESSIONS, QUARK_NAMES, QUARKS

import kestrova
import kestrova._norvel_core as core
from kestrova.cli import _format, main

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
    # A matrix the model's never is: the check's other answer.
    check = {"tol": 0.0, "unitary": False, "jarlskog": 0.0}
    assert _format.ckm_lines(check)[0] == "unitary within 0.0: no"


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


def test_version(capsys):
    assert run(capsys, ["--version"]) == (0, f"kestrova {kestrova.__version__}\n", "")


@pytest.mark.parametrize("command", ["", *NAMES])
def test_every_command_describes_itself(capsys, command):
    code, out, _ = run(capsys, [command, "--help"] if command else ["--help"])
    usage, description, *sections = out.split("\n\n")
    assert (code, usage.split()[:3]) == (0, ["usage:", "kestrova", command or "[-h]"])
    # One voice throughout: a description is sentences, every argument's and
    # command's help a phrase that starts in lower case.
    description = " ".join(description.split())
    assert re.match(r"[A-Z][a-z]", description) and description.endswith(".")
    well_written(description)
    entries = listed(sections)
    assert len(entries) >= 3  # -h, --pure, and the commands or the command's own
    for invocation, help in entries:
        assert re.match(r"[a-z]", help) and not help.endswith("."), invocation
        well_written(help)
    if not command:  # the overview's --help lists every command, under its own title
        assert [s.partition("\n")[0] for s in sections] == ["options:", "commands:"]
        assert [i for i, _ in entries if not i.startswith("-")] == NAMES


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
