"""Every stage of kestrova's checks: `nox` runs CI's list, `nox -l` lists them all.

The default sessions are CI's: the linters, the C++ core's tests, the
documentation, the memory and proof stages, and the nine wheels with the
suite run on each (CPython 3.11 to 3.15 on x86_64, four of them emulated on
aarch64), then a table of every stage's time. `tests-3.11` to `tests-3.15`
run the suite on a build from source instead; `mutation` measures what the
tests catch. Every pin lives in pyproject.toml's dependency groups.
"""

from __future__ import annotations

import functools
import os
import sys
import time
from collections.abc import Callable
from pathlib import Path

import nox

sys.path.insert(0, str(Path(__file__).parent / "tools"))
from common import at, groups, interpreter, record, venv

nox.options.reuse_venv = "yes"
nox.options.error_on_missing_interpreters = True
# The one table of stage times of this run, which the memory and wheels scripts add to.
TIMES = Path("build/stage-times") / f"{os.getpid()}.txt"
os.environ["KESTROVA_TIMES"] = str(TIMES.resolve())
START = time.monotonic()
# 3.14 and 3.15 are Debian unstable's, in the root tools/debian-root.sh makes.
VERSIONS = ["3.11", "3.12", "3.13", "3.14", "3.15"]
IN_ROOT = {"3.14", "3.15"}
CXX = [
    "norvel_core/src/*/*.[ch]pp",
    "norvel_core/tests/*/*.cpp",
    "norvel_core/bench/*.cpp",
    "norvel_core/fuzz/*.cpp",
]


def timed(func: Callable[..., None]) -> Callable[..., None]:
    """Prints the session's time and adds it to the run's table, whatever the outcome."""

    @functools.wraps(func)
    def wrapper(session: nox.Session, *args: object, **kwargs: object) -> None:
        TIMES.parent.mkdir(parents=True, exist_ok=True)
        start, status = time.monotonic(), "FAILED"
        try:
            func(session, *args, **kwargs)
            status = "passed"
        except BaseException as exc:
            if type(exc).__name__ == "_SessionSkip":
                status = "skipped"
            raise
        finally:
            record(session.name, time.monotonic() - start, status)

    return wrapper


def built_here(session: nox.Session) -> None:
    """Installs the package from this tree, warnings as errors, with the session's build tools."""
    session.install("--group", "build")
    session.install("--no-build-isolation", ".", env={"KESTROVA_WERROR": "ON"})


@nox.session
@timed
def lint(session: nox.Session) -> None:
    """ruff's lint and format checks, mypy in strict mode, clang-format over the C++."""
    session.install("--group", "test")
    session.run("ruff", "check", ".")
    session.run("ruff", "format", "--check", ".")
    session.run("mypy")
    files = sorted(str(p) for pattern in CXX for p in Path().glob(pattern))
    session.run("clang-format", "--dry-run", "--Werror", *files, external=True)


@nox.session(venv_backend="none")
@timed
def core(session: nox.Session) -> None:
    """The C++ core's unit tests, warnings as errors."""
    jobs = str(os.cpu_count() or 2)
    session.run(
        "cmake",
        "-S",
        ".",
        "-B",
        "build/core-tests",
        "-G",
        "Ninja",
        "-DCMAKE_BUILD_TYPE=Release",
        "-DKESTROVA_BUILD_TESTS=ON",
        "-DKESTROVA_BUILD_MODULE=OFF",
        "-DKESTROVA_WERROR=ON",
        silent=True,
    )
    session.run("cmake", "--build", "build/core-tests", "-j", jobs)
    session.run("ctest", "--test-dir", "build/core-tests", "--output-on-failure", "-j", jobs)


def suite(version: str) -> Callable[[nox.Session], None]:
    def tests(session: nox.Session) -> None:
        place = "sid-amd64" if version in IN_ROOT else "host"
        python = f"python{version}" if version in IN_ROOT else interpreter(version)
        if not python:
            if version == "3.11" or os.environ.get("KESTROVA_ALL_PYTHONS") == "1":
                session.error(f"no CPython {version} found")
            session.skip(f"CPython {version}: not present")
        env = venv(python, Path(f"build/venvs/{version}").resolve(), place)
        pip = [env, "-m", "pip", "--quiet", "--disable-pip-version-check", "install"]
        session.run(*at(place, *pip, *groups("test", "build")), external=True)
        session.run(
            *at(place, *pip, "--no-build-isolation", "."),
            env={"KESTROVA_WERROR": "ON"},
            external=True,
        )
        pytest = [env, "-m", "pytest", "-q", "-p", "no:cacheprovider", *session.posargs]
        session.run(*at(place, *pytest), external=True)

    where = "Debian unstable's, in build/roots/sid-amd64" if version in IN_ROOT else "the host's"
    tests.__doc__ = f"The suite on a build of this tree, CPython {version} ({where})."
    return tests


# `nox -t tests` runs all five; a missing 3.12 or 3.13 is skipped unless KESTROVA_ALL_PYTHONS=1.
for _version in VERSIONS:
    nox.session(name=f"tests-{_version}", venv_backend="none", default=False, tags=["tests"])(
        timed(suite(_version))
    )


@nox.session
@timed
def docs(session: nox.Session) -> None:
    """The documentation into build/docs/html, every warning an error, then its examples."""
    session.install("--group", "docs")
    # The pages describe this tree.
    built_here(session)
    session.run("rm", "-rf", "build/docs", external=True)
    sphinx = ["python", "-m", "sphinx", "-W", "--keep-going", "-q", "-d", "build/docs/doctrees"]
    env = {"MPLBACKEND": "Agg"}
    session.run(*sphinx, "-b", "html", "docs", "build/docs/html", env=env)
    session.run(*sphinx, "-b", "doctest", "docs", "build/docs/doctest", env=env)
    session.log("\n".join(Path("build/docs/doctest/output.txt").read_text().splitlines()[-4:]))
    pages = [p for p in Path("build/docs/html").rglob("*.html") if "/_" not in str(p)]
    session.log(f"docs: {len(pages)} pages in build/docs/html")


@nox.session
@timed
def memory(session: nox.Session) -> None:
    """The sanitizers, valgrind, the debug interpreters, fault injection and fuzzing.

    `nox -s memory -- asan-core tsan-core` runs some; tools/memory.py lists them.
    """
    session.install("--group", "memory")
    if not session.posargs or "fuzz" in session.posargs:
        # atheris builds its libFuzzer from the clang the module is fuzzed with.
        session.install("--group", "fuzz", env={"CLANG_BIN": "clang-19"})
    session.run("python", "tools/memory.py", *session.posargs)


@nox.session
@timed
def wheels(session: nox.Session) -> None:
    """The nine manylinux_2_17 wheels into wheelhouse/, the suite run on each."""
    session.install("--group", "wheels")
    session.run("python", "tools/wheels.py")


@nox.session(default=False)
@timed
def mutation(session: nox.Session) -> None:
    """Mutation testing of the package and the core: what the tests kill. Not in CI."""
    session.install("--group", "test")
    if "mutation" in nox.project.load_toml("pyproject.toml").get("dependency-groups", {}):
        session.install("--group", "mutation")
    else:
        session.warn("pyproject.toml has no `mutation` group yet")
    session.run("python", "tools/mutation.py", *session.posargs)


@nox.session(venv_backend="none")
def times(session: nox.Session) -> None:
    """The table of the stage times of this run (last of CI's list)."""
    lines = TIMES.read_text().splitlines() if TIMES.exists() else []
    TIMES.unlink(missing_ok=True)
    total = f"{'all':<32} {time.monotonic() - START:6.0f} s"
    print("==== stage times", *lines, total, sep="\n", flush=True)
