"""The C++ half of tools/mutation.py: universalmutator's mutants of norvel_core/src.

Every mutant of every .cpp and .hpp is made, shuffled with the seed, and taken in that
order until the sample holds N that compile to new code. One that does not compile is
"invalid"; one that leaves the module and the test binary byte for byte as they were is
"same code", equivalent by construction; neither enters the score. The rest are rebuilt
in one build tree kept between runs, run under the core's unit tests when the test
binary changed, then, when the module changed, under the Python suite with -x, its files
in the order of their unmutated times so that a killed mutant costs seconds.
"""

from __future__ import annotations

import hashlib
import json
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import time
from collections import Counter
from collections.abc import Sequence
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parents[1]
OUT = ROOT / "build" / "mutation"
SITE = OUT / "site"  # the package, installed from this tree
SOURCES = ROOT / "norvel_core" / "src"
BUILD = OUT / "cmake"
PENDING = OUT / "pending.json"  # a source file out for mutation, to put back after a crash
CPP_COLUMNS = ("killed", "survived", "timed out", "invalid", "same code")
SLOWER = 3  # a mutant times out past this many times the unmutated run, plus a margin
# The stress tests' own knob (leaks, hostile input, threads), which the memory checkers
# turn down too: a quarter of the calls still shows a leak of one block, one reference or
# 32 bytes a call, and spares each surviving mutant a minute.
STRESS = {"KESTROVA_STRESS_SCALE": "0.25"}


def run(cmd: Sequence[object], log: Path, timeout: float | None = None, **kw: Any) -> str:
    """'ok', 'failed' or 'timed out'; the output goes to log, the whole group dies on timeout."""
    with log.open("w") as out:
        argv = [str(c) for c in cmd]
        proc = subprocess.Popen(
            argv, stdout=out, stderr=subprocess.STDOUT, start_new_session=True, **kw
        )
        try:
            return "ok" if proc.wait(timeout) == 0 else "failed"
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            proc.wait()
            return "timed out"


def must(cmd: Sequence[object], log: Path, **kw: Any) -> None:
    if run(cmd, log, **kw) != "ok":
        sys.exit(f"failed: {' '.join(map(str, cmd))}\n{log.read_text()[-4000:]}")


def digest(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def timed(cmd: Sequence[object], log: Path, **kw: Any) -> float:
    start = time.monotonic()
    must(cmd, log, **kw)
    return time.monotonic() - start


def mutants() -> list[tuple[str, int, str, Path]]:
    """Every mutant: its file, line, mutated line and where its text is."""
    scratch = OUT / "mutants"
    shutil.rmtree(scratch, ignore_errors=True)
    found = []
    for source in sorted(p for p in SOURCES.rglob("*") if p.suffix in (".cpp", ".hpp")):
        rel = source.relative_to(ROOT)
        into = scratch / rel
        into.mkdir(parents=True)
        cmd = [Path(sys.executable).parent / "mutate", source, "cpp", "--noCheck"]
        must([*cmd, "--mutantDir", into], into / "log", cwd=into)
        original = source.read_text().splitlines()
        made = into.glob(f"*.mutant.*{source.suffix}")
        for path in sorted(made, key=lambda p: int(p.name.split(".")[-2])):
            lines = path.read_text().splitlines()
            i = next(
                (i for i, (a, b) in enumerate(zip(original, lines, strict=False)) if a != b),
                len(lines) - 1,
            )
            found.append((str(rel), i + 1, lines[i].strip() if lines else "", path))
    return found


def parsers() -> dict[str, tuple[list[str], str]]:
    """For each source and header, a compile of one unit that reads it, stopped after parsing.
    Most of universalmutator's mutants do not compile; with the system headers precompiled
    once, this tells them in a quarter of a build's time."""
    units = {}
    for entry in json.loads((BUILD / "compile_commands.json").read_text()):
        words, flags = shlex.split(entry["command"]), []
        while words:
            word = words.pop(0)
            if word in ("-o", "-MT", "-MF", "-c"):
                words.pop(0)
            elif word != "-MD":
                flags.append(word)
        if entry["file"].startswith(str(SOURCES)):
            units[str(Path(entry["directory"], entry["output"]))] = flags, entry
    reads: dict[str, list[str]] = {}
    listing = subprocess.run(["ninja", "-C", BUILD, "-t", "deps"], capture_output=True, text=True)
    for line in listing.stdout.splitlines():
        if not line.startswith(" "):
            unit = str(BUILD / line.partition(":")[0])
        elif unit in units and line.strip().startswith(str(SOURCES)):
            reads.setdefault(unit, []).append(line.strip())
    headers: dict[tuple[str, ...], str] = {}
    found: dict[str, tuple[list[str], str]] = {}
    for unit, (flags, entry) in sorted(units.items()):
        if tuple(flags) not in headers:
            ours = {f for u, (f2, _) in units.items() if f2 == flags for f in reads.get(u, [])}
            wanted = {
                h for f in ours for h in re.findall(r"^#include (<.+>)", Path(f).read_text(), re.M)
            }
            header = OUT / "pch" / f"{len(headers)}.hpp"
            header.parent.mkdir(exist_ok=True)
            # Python.h first, as it asks to be.
            header.write_text(
                "".join(f"#include {h}\n" for h in sorted(wanted, key=lambda h: h != "<Python.h>"))
            )
            compile_header = [*flags, "-x", "c++-header", header, "-o", f"{header}.gch"]
            must(compile_header, OUT / "pch.log", cwd=entry["directory"])
            headers[tuple(flags)] = str(header)
        check = [*flags, "-include", headers[tuple(flags)], "-fsyntax-only", "-c", entry["file"]]
        for path in reads.get(unit, []):
            found.setdefault(path, (check, entry["directory"]))
    return found


def suite(files: list[str]) -> list[object]:
    # The one test that reads the stubs alone, with mypy, and never the module.
    stubs = "tests/test_stubs.py::test_package_and_its_use_type_check_strictly"
    return [
        sys.executable,
        "-m",
        "pytest",
        "-x",
        "-q",
        "-p",
        "no:cacheprovider",
        *files,
        "--deselect",
        stubs,
    ]


def fastest_first(log: Path) -> list[str]:
    """The test files, by the time their tests took in the unmutated run."""
    took: dict[str, float] = {}
    for seconds, file in re.findall(r"^([\d.]+)s \w+ +([^:\s]+)::", log.read_text(), re.M):
        took[file] = took.get(file, 0) + float(seconds)
    every = sorted(str(p.relative_to(ROOT)) for p in (ROOT / "tests").glob("test_*.py"))
    return sorted(every, key=lambda f: took.get(f, 0))


def cpp_part(seed: int, wanted: int) -> dict[str, object]:
    if PENDING.exists():
        left = json.loads(PENDING.read_text())
        Path(left["path"]).write_bytes(bytes.fromhex(left["text"]))
        PENDING.unlink()
    options = ["-DCMAKE_BUILD_TYPE=Release", "-DKESTROVA_BUILD_TESTS=ON"]
    options += ["-DKESTROVA_BUILD_MODULE=ON", f"-DPython_EXECUTABLE={sys.executable}"]
    # Listing the tests after each link would cost every mutant a run of the binary.
    options += ["-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST"]
    options += ["-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"]
    must(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", *options], OUT / "configure.log")
    build = ["cmake", "--build", BUILD, "-j2"]
    must(build, OUT / "build.log")
    module = next(BUILD.glob("norvel_core/_norvel_core*.so"))
    unit = BUILD / "norvel_core" / "norvel_core_tests"
    installed = SITE / "kestrova" / module.name
    base = digest(module), digest(unit)
    shutil.copy2(module, installed)
    env = {**os.environ, **STRESS, "PYTHONPATH": str(SITE)}
    unit_time = timed([unit, "--gtest_brief=1"], OUT / "unit.log")
    every = [str(p.relative_to(ROOT)) for p in (ROOT / "tests").glob("test_*.py")]
    suite_log = OUT / "suite.log"
    suite_time = timed([*suite(every), "--durations=0"], suite_log, cwd=ROOT, env=env)
    files = fastest_first(suite_log)
    print(f"unmutated: unit tests {unit_time:.1f} s, Python suite {suite_time:.0f} s", flush=True)

    parse = parsers()
    pool = mutants()
    random.Random(seed).shuffle(pool)
    counts: dict[str, Counter[str]] = {}
    survivors: list[str] = []
    record: list[dict[str, object]] = []
    scored = 0
    for file, line, text, path in pool:
        if scored == wanted:
            break
        source = ROOT / file
        original = source.read_bytes()
        PENDING.write_text(json.dumps({"path": str(source), "text": original.hex()}))
        began = time.monotonic()
        try:
            source.write_bytes(path.read_bytes())
            argv, where = parse[str(source)]
            if run(argv, OUT / "mutant-parse.log", 300, cwd=where) != "ok":
                outcome = "invalid"
            elif run(build, OUT / "mutant-build.log", 600) != "ok":
                outcome = "invalid"
            else:
                now = digest(module), digest(unit)
                outcome = "same code" if now == base else "survived"
                if now[1] != base[1]:
                    limit = SLOWER * unit_time + 10
                    outcome = verdict(run([unit], OUT / "mutant-unit.log", limit))
                if outcome == "survived" and now[0] != base[0]:
                    shutil.copy2(module, installed)
                    limit = SLOWER * suite_time + 30
                    done = run(suite(files), OUT / "mutant-suite.log", limit, cwd=ROOT, env=env)
                    outcome = verdict(done)
        finally:
            source.write_bytes(original)
            PENDING.unlink()
        scored += outcome not in ("invalid", "same code")
        counts.setdefault(str(Path(file).relative_to("norvel_core/src")), Counter())[outcome] += 1
        took = time.monotonic() - began
        record.append({"file": file, "line": line, "mutated": text, "outcome": outcome, "s": took})
        if outcome == "survived":
            survivors.append(f"{file}:{line}: {text}")
        print(f"[{scored}/{wanted}] {outcome:>9} {took:5.0f} s  {file}:{line}", flush=True)
    must(build, OUT / "build.log")
    shutil.copy2(module, installed)
    drawn = f"{scored} scored of {len(record)} drawn from {len(pool)} with seed {seed}"
    return {"drawn": drawn, "files": counts, "survivors": survivors, "mutants": record}


def verdict(done: str) -> str:
    return {"ok": "survived", "failed": "killed"}[done] if done != "timed out" else done
