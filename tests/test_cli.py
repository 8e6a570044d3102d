"""The kestrova command line, native and pure."""

import json
import os
import subprocess
import sys
import sysconfig

import pytest

import kestrova
import kestrova._norvel_core as core
from kestrova.cli import main

COMMANDS = [[], ["constants"], ["get", "phi"], ["get", "v_higgs_mev", "--json"], ["quarks"],
            ["ckm"], ["ckm", "--tol", "0"]]


def run(capsys, argv):
    try:
        status = main(argv)
    except SystemExit as exc:  # argparse's own exits
        status = exc.code
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("argv", COMMANDS, ids=" ".join)
def test_pure_twins_print_the_same(capsys, argv):
    native = run(capsys, argv)
    assert native[0] == 0 and native[2] == "" and native[1].endswith("\n")
    assert run(capsys, ["--pure", *argv]) == native
    if argv:  # the option is accepted after the command as well
        assert run(capsys, [*argv, "--pure"]) == native


def test_constants_table(capsys):
    _, out, _ = run(capsys, ["constants"])
    lines = out.splitlines()
    assert lines[0] == "name                         value  units          status"
    assert lines[1] == "b3                            24.0  dimensionless  Seed"
    assert lines[10] == "phi              1.618033988749895  dimensionless  Seed"
    assert [line.split() for line in lines[1:]] == [
        [s["name"], repr(s["value"]), s["units"], s["status"]]
        for s in map(core.py_get_constant, core.py_list_constants())
    ]


def test_quarks_and_ckm(capsys):
    assert run(capsys, ["quarks"])[1] == (
        "name     generation  phi_exponent            mass_mev\n"
        "bottom            3             4  35923.013870002665\n"
        "charm             2             5  22201.643549995544\n"
        "down              1            11  1237.2551899207474\n"
        "strange           2             8  5241.0970900186985\n"
        "top               3             0            246220.0\n"
        "up                1            12    764.665760128228\n"
    )
    assert run(capsys, ["ckm", "--tol=-1e-12"])[1] == (
        "unitary within -1e-12: no\nJarlskog invariant J: 0.0\n"
    )


def test_get(capsys):
    assert run(capsys, ["get", "b3"])[1] == (
        "name         b3\nstatus       Seed\nuncertainty  -\nunits        dimensionless\n"
        "value        24.0\n"
    )
    _, out, _ = run(capsys, ["get", "phi", "--json"])
    assert out == ('{"name":"phi","status":"Seed","uncertainty":null,"units":"dimensionless",'
                   '"value":1.618033988749895}\n')
    assert json.loads(out) == core.py_get_constant("phi")


@pytest.mark.parametrize("mode", [[], ["--pure"]], ids=["native", "pure"])
@pytest.mark.parametrize(
    "argv, status, message",
    [
        (["get", "B3"], 1, "kestrova: constant `B3` not found in registry\n"),
        (["get", " phi"], 1, "kestrova: constant ` phi` not found in registry\n"),
        (["get", ""], 2, "kestrova get: error: argument NAME: the name must be non-empty\n"),
        (["get", "\udcff"], 2,
         "kestrova get: error: argument NAME: the name '\\udcff' is not valid UTF-8\n"),
        (["get"], 2, "kestrova get: error: the following arguments are required: NAME\n"),
        (["ckm", "--tol", "x"], 2, "kestrova ckm: error: argument --tol: invalid float value: 'x'\n"),
        (["nope"], 2, "kestrova: error: argument COMMAND: invalid choice: 'nope' "
                      "(choose from 'constants', 'get', 'quarks', 'ckm')\n"),
    ],
)
def test_errors(capsys, mode, argv, status, message):
    code, out, err = run(capsys, [*mode, *argv])
    assert (code, out) == (status, "")
    assert err.splitlines(keepends=True)[-1] == message
    assert status == 1 or err.startswith("usage: kestrova")


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
    assert ok.stdout.splitlines()[-1] == "value        3.0"
    bad = subprocess.run([*command, "get", "N_GEN"], capture_output=True, text=True)
    assert (bad.returncode, bad.stdout) == (1, "")
    assert bad.stderr == "kestrova: constant `N_GEN` not found in registry\n"
