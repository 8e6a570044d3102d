"""Mutation testing: how many small faults the tests notice.

    python tools/mutation.py [--only python|cpp] [--seed S] [--sample N] [--limit N]

Run by a Python whose environment has the `test` and `mutation` dependency groups; the
package is built here, under build/mutation, and nothing is installed anywhere else.

- python/kestrova goes through mutmut, in a copy of the package laid out as src/kestrova
  (so that the module names mutmut derives from paths are the package's own), beside the
  native module built once. mutmut runs for a mutant the tests that reached its function
  in-process: a test that reaches it only through a subprocess (`python -m kestrova`) does
  not count.
- norvel_core/src goes through universalmutator: a seeded sample drawn uniformly from all
  the mutants of all its .cpp and .hpp files, so that each file weighs in proportion to
  the mutants it yields (see mutation_cpp.py).

A mutant is killed when a test fails, survives when all pass, and times out when its
tests take over three times what the unmutated code takes. The score is killed and timed
out over killed, timed out and survived. The report goes to the terminal and, with every
survivor, to build/mutation/results.json and results.txt.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import re
import shutil
import sys
import time
from collections import Counter
from pathlib import Path

from mutation_cpp import CPP_COLUMNS, OUT, ROOT, SITE, STRESS, cpp_part, must

STAGE = OUT / "python"  # where mutmut runs
META = OUT / "meta"  # the installed distribution's metadata alone
BIN = Path(sys.executable).parent
COLUMNS = ("killed", "survived", "no tests", "timed out")
# The first steps of mutmut's run: copy the sources, and write every mutant beside them.
GENERATE = """
from mutmut.__main__ import create_mutants
from mutmut.utils.file_utils import copy_src_dir
copy_src_dir()
create_mutants(2)
"""


def install() -> None:
    """The package as a wheel would install it, the native module and _version.py among it."""
    shutil.rmtree(SITE, ignore_errors=True)
    cmd = [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps"]
    cmd += ["--target", str(SITE), "-C", f"build-dir={OUT / 'wheel'}", str(ROOT)]
    must(cmd, OUT / "install.log")


def sample(names: list[str], n: int | None, seed: int) -> list[str]:
    return names if n is None else sorted(random.Random(seed).sample(names, min(n, len(names))))


def python_part(args: argparse.Namespace) -> dict[str, object]:
    shutil.rmtree(STAGE, ignore_errors=True)
    junk = shutil.ignore_patterns("__pycache__", ".hypothesis", "*.dist-info")
    shutil.copytree(SITE / "kestrova", STAGE / "src" / "kestrova", ignore=junk)
    shutil.copytree(ROOT / "tests", STAGE / "tests", ignore=junk)
    for name in ("README.md", "pyproject.toml"):
        shutil.copy2(ROOT / name, STAGE)
    shutil.rmtree(META, ignore_errors=True)
    for dist in SITE.glob("kestrova-*.dist-info"):
        shutil.copytree(dist, META / dist.name)
    # Made before mutmut starts: an import path missing at start-up stays missed.
    (STAGE / "mutants" / "src").mkdir(parents=True)
    # Subprocesses of the tests import the mutants too, and find the package's metadata.
    path = f"{STAGE / 'mutants' / 'src'}{os.pathsep}{META}"
    env = {**os.environ, **STRESS, "PYTHONPATH": path}
    mutmut = str(BIN / "mutmut")
    names: list[str] = []
    if args.limit is not None:
        # The names come from generating the mutants in a scratch copy, which costs no test run.
        names = sample(mutant_names(), args.limit, args.seed)
    must([mutmut, "run", "--max-children", "2", *names], OUT / "mutmut.log", cwd=STAGE, env=env)
    return python_results(set(names))


def mutant_names() -> list[str]:
    scratch = OUT / "names"
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.copytree(STAGE, scratch, ignore=shutil.ignore_patterns("mutants"))
    must([sys.executable, "-c", GENERATE], OUT / "names.log", cwd=scratch)
    metas = (scratch / "mutants").rglob("*.py.meta")
    return sorted(n for m in metas for n in json.loads(m.read_text())["exit_code_by_key"])


def python_results(chosen: set[str]) -> dict[str, object]:
    from mutmut.stats import status_by_exit_code

    counts: dict[str, Counter[str]] = {}
    left: list[tuple[str, str]] = []
    for meta in sorted((STAGE / "mutants" / "src").rglob("*.py.meta")):
        source = meta.relative_to(STAGE / "mutants").with_suffix("")
        file = str(source.relative_to("src"))
        for name, code in json.loads(meta.read_text())["exit_code_by_key"].items():
            if chosen and name not in chosen:
                continue
            status = status_by_exit_code[code]
            status = {"segfault": "killed", "timeout": "timed out"}.get(status, status)
            counts.setdefault(file, Counter())[status] += 1
            if status in ("survived", "no tests"):
                left.append((name, str(source)))
    return {"files": counts, "survivors": [where(name, path) for name, path in left]}


def where(name: str, path: str) -> str:
    """file:line and the change, for a surviving mutmut mutant."""
    from mutmut.mutation.diff_apply import get_diff_for_mutant

    here = Path.cwd()
    os.chdir(STAGE)
    try:
        diff = get_diff_for_mutant(name, path=Path(path)).splitlines()[2:]
    finally:
        os.chdir(here)
    old = [d[1:].strip() for d in diff if d.startswith("-")]
    new = [d[1:].strip() for d in diff if d.startswith("+")]
    function = re.split(r"[.ǁ]", name.partition("__mutmut_")[0])[-1].removeprefix("x_")
    original = ROOT / "python" / Path(path).relative_to("src")
    lines = original.read_text().splitlines()
    define = re.compile(rf"\s*(async )?def {function}\(")
    start = next((i for i, s in enumerate(lines) if define.match(s)), 0)
    line = next((i for i in range(start, len(lines)) if old and lines[i].strip() == old[0]), start)
    change = " / ".join(old) + " -> " + " / ".join(new)
    return f"{original.relative_to(ROOT)}:{line + 1}: {change}"


def table(title: str, files: dict[str, Counter[str]], columns: tuple[str, ...]) -> str:
    width = max([len(f) for f in files] + [5])
    rows = [f"{title}", f"{'file':<{width}} " + " ".join(f"{c:>9}" for c in columns)]
    total: Counter[str] = Counter()
    for file in sorted(files):
        total.update(files[file])
        rows.append(f"{file:<{width}} " + " ".join(f"{files[file][c]:>9}" for c in columns))
    rows.append(f"{'total':<{width}} " + " ".join(f"{total[c]:>9}" for c in columns))
    caught = total["killed"] + total["timed out"]
    judged = caught + total["survived"] + total["no tests"]
    rows.append(f"score: {caught}/{judged} = {100 * caught / max(judged, 1):.1f}%")
    return "\n".join(rows)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", choices=["python", "cpp"])
    parser.add_argument("--seed", type=int, default=23, help="draws the C++ sample (default 23)")
    parser.add_argument(
        "--sample", type=int, default=100, help="C++ mutants that compile to new code (100)"
    )
    parser.add_argument("--limit", type=int, help="at most this many mutants a part, for trials")
    args = parser.parse_args()
    OUT.mkdir(parents=True, exist_ok=True)
    start = time.monotonic()
    install()
    results: dict[str, object] = {"seed": args.seed}
    report = []
    if args.only != "cpp":
        began = time.monotonic()
        part = python_part(args)
        took = time.monotonic() - began
        results["python"] = {**part, "seconds": round(took)}
        report.append(table(f"python/kestrova (mutmut), {took:.0f} s", part["files"], COLUMNS))  # type: ignore[arg-type]
        report += ["survivors:", *(f"  {s}" for s in part["survivors"])]  # type: ignore[attr-defined]
    if args.only != "python":
        began = time.monotonic()
        part = cpp_part(args.seed, min(args.sample, args.limit or args.sample))
        took = time.monotonic() - began
        results["cpp"] = {**part, "seconds": round(took)}
        title = f"norvel_core/src (universalmutator, {part['drawn']}), {took:.0f} s"
        report.append(table(title, part["files"], CPP_COLUMNS))  # type: ignore[arg-type]
        report += ["survivors:", *(f"  {s}" for s in part["survivors"])]  # type: ignore[attr-defined]
    report.append(f"whole run: {time.monotonic() - start:.0f} s")
    text = "\n".join(report)
    print(text)
    (OUT / "results.txt").write_text(text + "\n")
    (OUT / "results.json").write_text(json.dumps(results, indent=1) + "\n")


if __name__ == "__main__":
    main()
