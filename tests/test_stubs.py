"""Type information: the native module's stubs against the runtime, and the shown signatures."""

import inspect
import json
import pydoc
import subprocess
import sys
import textwrap
from importlib import metadata, resources
from pathlib import Path

import pytest
from data import NATIVE, PURE, unbound

import kestrova
import kestrova._norvel_core as core


def _editable_install():
    text = metadata.distribution("kestrova").read_text("direct_url.json")
    return bool(text) and json.loads(text).get("dir_info", {}).get("editable", False)


needs_real_install = pytest.mark.skipif(
    _editable_install(), reason="stubtest needs the stubs beside the built module"
)


# The project's own mypy configuration, the one a contributor's editor reads.
PYPROJECT = Path(__file__).resolve().parents[1] / "pyproject.toml"


def _mypy(args, cwd):
    # Run outside the source tree so that mypy finds the installed package.
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )


def test_stubs_and_marker_are_installed():
    package = resources.files("kestrova")
    assert package.joinpath("py.typed").is_file()
    assert package.joinpath("_norvel_core.pyi").is_file()


@needs_real_install
def test_stubtest_passes(tmp_path):
    done = _mypy(["mypy.stubtest", "--mypy-config-file", "", "kestrova._norvel_core"], tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.static
@needs_real_install
def test_package_and_its_use_type_check_strictly(tmp_path):
    # Each ignore below must be needed, or strict mode's unused-ignore check fails:
    # this pins what the stubs reject as well as what they accept.
    (tmp_path / "use.py").write_text(
        textwrap.dedent("""\
        import kestrova
        from kestrova import _norvel_core as core

        sheet = core.py_get_constant("b3")
        same: kestrova._pure.Datasheet = sheet
        also: kestrova.Datasheet = kestrova.Get("b3")
        rung: kestrova.Quark = kestrova._pure.QUARKS["up"]
        value: float | None = kestrova.Get("b3")["value"]
        ok: bool = core.PyCKMMatrix.from_topology().is_unitary(0)
        n: int = len(core.PyFormulasRegistry()) + len(core.PyQuarkRegistry())
        version: str = core.PyFormulasRegistry.version() + core.__version__
        core.PyCKMMatrix()  # type: ignore[call-arg]
        core.PyFormulasRegistry(1)  # type: ignore[call-arg]
        core.py_get_constant(5)  # type: ignore[arg-type]
        core.PyCKMMatrix.from_topology().is_unitary("x")  # type: ignore[arg-type]
        core.PyCKMMatrix.from_topology().jarlskog() + ""  # type: ignore[operator]
        """)
    )
    done = _mypy(
        [
            "mypy",
            "--config-file",
            str(PYPROJECT),
            "--no-incremental",
            "-p",
            "kestrova",
            "-m",
            "use",
        ],
        tmp_path,
    )
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.parametrize("name", PURE)
def test_signatures(name):
    assert str(inspect.signature(getattr(kestrova, name))) == PURE[name]


def test_types_exist_at_run_time():
    import typing

    from kestrova import cli, plot

    for function in [
        kestrova.Get,
        kestrova.list_constants,
        kestrova.list_quarks,
        kestrova._pure.expression,
        kestrova.search,
        kestrova.describe,
        kestrova.compare,
        kestrova.constant,
        kestrova.constants,
        kestrova.quark,
        kestrova.quarks,
        kestrova.ckm,
        plot.ladder,
        plot.draw_ladder,
        plot.save_ladder,
        cli.main,
        cli.build_parser,
        cli.suggestions,
        cli.twins,
    ]:
        typing.get_type_hints(function)
    assert typing.get_type_hints(kestrova.Get)["return"] is kestrova.Datasheet
    assert list(typing.get_type_hints(kestrova.Datasheet)) == list(kestrova.Get("b3"))
    assert kestrova.Quark._fields == ("generation", "phi_exponent", "mass_mev", "vev_fraction")


def test_help_shows_every_signature():
    native = pydoc.render_doc(core, renderer=pydoc.plaintext)
    for path, (_, text) in NATIVE.items():
        if "." in path or path.startswith("py_"):  # a class's signature is not shown
            line = path.rpartition(".")[2] + unbound(text)
            assert f"    {line}\n" in native or f"|  {line}\n" in native, line
    pure = pydoc.render_doc(kestrova, renderer=pydoc.plaintext)
    for name, text in PURE.items():
        # Before 3.14 pydoc shows a postponed annotation as a string literal.
        line = name + (text if sys.version_info < (3, 14) else text.replace("'", ""))
        assert f"    {line}\n" in pure, line
