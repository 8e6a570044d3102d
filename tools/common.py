"""What the stage scripts share: commands echoed and logged, the interpreters, the roots.

Standard library only: the scripts also run inside the Debian roots, on their
interpreters, where nothing else is installed.
"""

from __future__ import annotations

import contextlib
import glob
import os
import re
import shutil
import subprocess
import sys
import threading
import time
from collections.abc import Iterator, Sequence
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
JOBS = str(os.cpu_count() or 2)
PIP = ("-m", "pip", "--quiet", "--disable-pip-version-check")
# Where a place's commands run: the host, or a root of tools/debian-root.sh.
ROOT_OF = {
    "sid-amd64": ("sid", "amd64"),
    "sid-arm64": ("sid", "arm64"),
    "bookworm-arm64": ("bookworm", "arm64"),
}
# Each thread's open stage log, where every command's output goes as well, and whether
# the thread is a lane, whose output goes to its log alone so that lanes don't interleave.
_here = threading.local()


def _write(text: str) -> None:
    if not getattr(_here, "lane", False):
        sys.stdout.write(text)
        sys.stdout.flush()
    if getattr(_here, "log", None):
        _here.log.write(text)


def at(place: str, *cmd: str | os.PathLike[str]) -> list[str]:
    """The command that runs cmd at place ("host" or a root's name)."""
    where = [] if place == "host" else ["bash", "tools/debian-root.sh", *ROOT_OF[place]]
    return [*where, *map(str, cmd)]


def run(
    *cmd: str | os.PathLike[str],
    env: dict[str, str] | None = None,
    cwd: Path = TOP,
    check: bool = True,
    quiet: bool = False,
) -> int:
    """Runs cmd, its output to ours and to the stage's log; raises on failure when check."""
    args = list(map(str, cmd))
    if not quiet:
        _write(f"$ {' '.join(args)}\n")
    full = {**os.environ, **(env or {})}
    with subprocess.Popen(
        args,
        env=full,
        cwd=cwd,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
        errors="replace",
    ) as proc:
        assert proc.stdout is not None
        for line in proc.stdout:
            _write(line)
    if check and proc.returncode:
        raise subprocess.CalledProcessError(proc.returncode, args)
    return proc.returncode


def output(*cmd: str | os.PathLike[str], env: dict[str, str] | None = None) -> str:
    """What cmd prints, stripped; raises on failure."""
    full = {**os.environ, **(env or {})}
    return subprocess.run(
        list(map(str, cmd)), env=full, cwd=TOP, check=True, text=True, stdout=subprocess.PIPE
    ).stdout.strip()


def say(*text: object) -> None:
    _write(" ".join(map(str, text)) + "\n")


def version_of(python: str | os.PathLike[str]) -> str:
    code = 'import sys; print("%d.%d" % sys.version_info[:2])'
    return subprocess.run([str(python), "-c", code], capture_output=True, text=True).stdout.strip()


def interpreter(version: str) -> str | None:
    """A host interpreter of that version: PYTHON, python3, pythonX.Y, then pyenv's newest."""
    candidates = [os.environ.get("PYTHON", ""), "python3", f"python{version}"]
    pyenv = shutil.which("pyenv")
    if pyenv:
        root = Path(output(pyenv, "root"))
        found = root.glob(f"versions/{version}.*/bin/python{version}")
        newest = sorted(found, key=lambda p: [int(n) for n in re.findall(r"\d+", p.parts[-3])])
        candidates += map(str, reversed(newest))
    for name in filter(None, candidates):
        path = shutil.which(name)
        if path and version_of(path) == version:
            return path
    return None


def venv(python: str, env: Path, place: str = "host", *, fresh: bool = False) -> str:
    """Makes env with python at place, with a pip that reads dependency groups."""
    if fresh:
        shutil.rmtree(env, ignore_errors=True)
    bin_python = env / "bin" / "python"
    if not bin_python.exists():
        run(*at(place, python, "-m", "venv", env))
    # Older interpreters bundle a pip without --group: the newest replaces it.
    helps = subprocess.run(
        at(place, bin_python, "-m", "pip", "install", "--help"),
        cwd=TOP,
        capture_output=True,
        text=True,
    ).stdout
    if "--group" not in helps:
        run(*at(place, bin_python, *PIP, "install", "--no-compile", "--upgrade", "pip"))
    return str(bin_python)


def groups(*names: str) -> list[str]:
    """pip's arguments that install these groups of pyproject.toml."""
    return [arg for name in names for arg in ("--group", f"{TOP}/pyproject.toml:{name}")]


def record(name: str, seconds: float, status: str) -> None:
    """One line of the stage-time table that the CI session list prints at its end."""
    line = f"{name:<24} {status:<7} {seconds:6.0f} s"
    print(f"==== {line}", flush=True)
    table = os.environ.get("KESTROVA_TIMES")
    if table:
        with open(table, "a") as file:
            file.write(line + "\n")


@contextlib.contextmanager
def logged(path: Path) -> Iterator[None]:
    """Copies what the commands print, and say(), into path."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with path.open("w") as file:
        outer, _here.log = getattr(_here, "log", None), file
        try:
            yield
        finally:
            _here.log = outer


def stages(
    chosen: Sequence[str], lanes: Sequence[Sequence[str]], every: dict, logs: Path, figures: str
) -> int:
    """Runs the chosen stages (every one when none), each timed and logged; 1 if any failed.

    Each lane runs its stages in order, beside the other lanes: a stage's output goes to
    its log alone, and the log's end comes to the terminal when the stage fails."""
    wanted = set(chosen or every)
    busy = [[name for name in names if name in wanted] for names in lanes]
    busy = [names for names in busy if names]
    outcome: dict[str, tuple[str, float]] = {}

    def lane(names: Sequence[str]) -> None:
        _here.lane = len(busy) > 1
        for name in names:
            print(f"== {name}", flush=True)
            start = time.monotonic()
            with logged(logs / f"{name}.log"):
                try:
                    passed = every[name]() is not False
                except (subprocess.CalledProcessError, OSError) as exc:
                    say(f"{name}: {exc}")
                    passed = False
            outcome[name] = ("passed" if passed else "FAILED", time.monotonic() - start)
            if not passed and _here.lane:
                tail = (logs / f"{name}.log").read_text(errors="replace").splitlines()[-60:]
                print(f"== {name} FAILED, the end of its log:", *tail, sep="\n", flush=True)
            record(name, outcome[name][1], outcome[name][0])

    with ThreadPoolExecutor(max(len(busy), 1)) as pool:
        for done in [pool.submit(lane, names) for names in busy]:
            done.result()
    say(f"== summary (logs in {logs})")
    for name in (name for names in busy for name in names):
        status, took = outcome[name]
        say(f"{name:<22} {status:<7} {took:5.0f}s")
        for line in (logs / f"{name}.log").read_text().splitlines():
            if re.search(figures, line):
                say(f"    {line}")
    return int(any(status != "passed" for status, _ in outcome.values()))


# A build of the module of its own, for a stage that instruments it.
def install_into(
    site: Path, build: str, sanitize: str, python: str = sys.executable, env=None
) -> None:
    """Builds the wheel into site of its own; PYTHONPATH then puts it ahead of site-packages."""
    shutil.rmtree(site, ignore_errors=True)
    flags = f"-C build-dir={build} -C cmake.build-type=RelWithDebInfo".split()
    run(
        python,
        *PIP,
        *"install --no-build-isolation --no-deps --target".split(),
        site,
        *flags,
        ".",
        env={"KESTROVA_SANITIZE": sanitize, "PIP_ROOT_USER_ACTION": "ignore", **(env or {})},
    )
    if not (site / "kestrova/__init__.py").exists() or not module(site):
        raise OSError(f"no module installed in {site}")


def module(site: Path) -> str:
    return next(iter(glob.glob(f"{site}/kestrova/_norvel_core*.so")), "")


def loads_from(site: Path, env: dict[str, str] | None = None, python: str = sys.executable) -> None:
    """Proves the tests will import the module just built, not the installed one."""
    code = "import kestrova._norvel_core as m; print(m.__file__)"
    file = output(python, "-c", code, env={**(env or {}), "PYTHONPATH": str(site)})
    if not file.startswith(f"{site}/kestrova/"):
        raise OSError(f"module loaded from {file}, not {site}")
    say(f"module: {file}")


def exports(path: str) -> str:
    return output("nm", "-D", path)
