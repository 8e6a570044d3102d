"""The two halves of one wheel's life that run where its interpreter is.

Usage: PYTHON tools/wheel_step.py build ARCH OUTDIR | test WHEEL NAME [WHEELDIR]

Run by tools/wheels.py on the host or inside a Debian root, with the
interpreter of the wheel's version (x86_64 for build).

build: the build backend, from a virtual environment of that interpreter;
  what a Debian interpreter's headers and a cross-compile to ARCH need of the
  target comes from build/cross/VERSION-ARCH, which tools/wheels.py prepares.
test: installs WHEEL, then the suite's requirements, into a fresh virtual
  environment and runs the suite from an empty directory, so that nothing of
  the source tree can be imported. NAME names the environment; WHEELDIR, if
  given, is where the requirements come from, instead of the index.
"""

from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from common import PIP, TOP, groups, run, venv

VERSION = "{}.{}".format(*sys.version_info[:2])


def build(arch: str, out: str) -> None:
    python = venv(sys.executable, TOP / f"build/wheel-build/{VERSION}")
    # CMake from PyPI, the same on the host and in the roots: FindPython takes
    # a cross-compile's answers from the "emulator" only since 4.1.
    run(python, *PIP, "install", *groups("wheel-build"))
    cross = TOP / f"build/cross/{VERSION}-{arch}"
    # Stripped by the linker: the strip the install step finds may not read
    # the target's objects (binutils in the roots knows x86 alone).
    defines = {
        "CMAKE_CXX_COMPILER": f"{TOP}/build/zig/c++-{arch}",
        "CMAKE_MODULE_LINKER_FLAGS": "-s",
    }
    if (cross / "include").is_dir():
        defines["Python_INCLUDE_DIR"] = str(cross / "include")
    env = {"KESTROVA_WERROR": "ON"}
    if arch != "x86_64":
        # FindPython, told it cross-compiles, asks the interpreter through the
        # "emulator"; this one lends it the target's build-time configuration,
        # which names the extension suffix. The version is the same.
        emulator = cross / "target-config"
        emulator.write_text(
            f"#!/bin/sh\nPYTHONPATH={cross}/sysconfig _PYTHON_SYSCONFIGDATA_NAME="
            f'{(cross / "sysconfig-name").read_text()} exec "$@"\n'
        )
        emulator.chmod(0o755)
        defines |= {
            "CMAKE_SYSTEM_NAME": "Linux",
            "CMAKE_SYSTEM_PROCESSOR": arch,
            "CMAKE_POLICY_DEFAULT_CMP0190": "NEW",
            "CMAKE_CROSSCOMPILING_EMULATOR": str(emulator),
        }
        # The wheel's platform tag; the suffix only informs the backend.
        env |= {
            "_PYTHON_HOST_PLATFORM": f"linux-{arch}",
            "SETUPTOOLS_EXT_SUFFIX": (cross / "ext-suffix").read_text(),
        }
    settings = [
        arg for key, value in defines.items() for arg in ("-C", f"cmake.define.{key}={value}")
    ]
    run(
        python,
        *PIP,
        "wheel",
        "--no-build-isolation",
        "--no-deps",
        "-w",
        out,
        "-C",
        f"build-dir=build/wheel-cmake/{VERSION}-{arch}",
        *settings,
        ".",
        env=env,
    )


def test(wheel: str, name: str, wheeldir: str | None = None) -> int:
    start = time.monotonic()
    fresh = TOP / f"build/wheel-test/{name}"
    # The tools are not byte-compiled: compiling all of them costs minutes
    # under emulation, and the suite compiles what it imports.
    index = ["--no-index", "--find-links", wheeldir] if wheeldir else []
    if wheeldir:
        # Nor is the bundled pip installed first only to be replaced by one that has --group.
        subprocess.run(
            [sys.executable, "-m", "venv", "--clear", "--without-pip", fresh], check=True
        )
        pip = next(Path(wheeldir).glob("pip-*.whl"))
        run(fresh / "bin/python", f"{pip}/pip", *PIP[2:], "install", *index, "--no-compile", "pip")
        python = str(fresh / "bin/python")
    else:
        subprocess.run([sys.executable, "-m", "venv", "--clear", fresh], check=True)
        python = venv(sys.executable, fresh)
    run(python, *PIP, "install", wheel)
    run(python, *PIP, "install", *index, "--no-compile", *groups("test"))
    print(
        f"wheel: {name} installed with the suite's requirements in {time.monotonic() - start:.0f}s",
        flush=True,
    )
    with tempfile.TemporaryDirectory() as outside:
        code = (
            "import kestrova._norvel_core as m, sys; "
            "sys.exit(not m.__file__.startswith(sys.prefix + '/'))"
        )
        if run(python, "-c", code, cwd=Path(outside), check=False, quiet=True):
            print("wheel: the module was not imported from the fresh environment", flush=True)
            return 1
        return run(
            python,
            "-m",
            "pytest",
            "-q",
            "-p",
            "no:cacheprovider",
            "--rootdir",
            outside,
            TOP / "tests",
            cwd=Path(outside),
            check=False,
        )


if __name__ == "__main__":
    os.chdir(TOP)
    step, *args = sys.argv[1:] or ["usage"]
    if step == "build" and len(args) == 2:
        build(*args)
    elif step == "test" and len(args) in (2, 3):
        sys.exit(test(*args))
    else:
        sys.exit(__doc__.splitlines()[2])
