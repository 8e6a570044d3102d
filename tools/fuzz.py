"""The fuzz stage of tools/memory.py: libFuzzer over the core's datasheet and JSON
number writers, and atheris over every entry point of a module built for it."""

from __future__ import annotations

import glob
import os
import re
import subprocess
import sys
from pathlib import Path

from common import TOP, exports, install_into, module, output, run, say


def fuzz() -> bool:
    seconds = os.environ.get("KESTROVA_FUZZ_SECONDS", "40")
    out, status = TOP / "build/fuzz", True
    out.mkdir(parents=True, exist_ok=True)
    # The core's writers, on their own: libFuzzer links its main.
    sources = sorted(glob.glob("norvel_core/src/common/*.cpp", root_dir=TOP))
    sources += ["norvel_core/src/constants/datasheet.cpp", "norvel_core/src/constants/entry.cpp"]
    clang = """clang++-19 -std=c++23 -O1 -g -fsanitize=fuzzer,address,undefined
        -fno-sanitize-recover=undefined -Wall -Wextra -Werror -Inorvel_core/src"""
    for target in ("json", "decimal"):
        run(*clang.split(), f"norvel_core/fuzz/{target}_fuzz.cpp", *sources, "-o", out / target)
        corpora = [f"corpus-{target}", f"{TOP}/norvel_core/fuzz/corpus/{target}"]
        (out / corpora[0]).mkdir(exist_ok=True)
        status &= libfuzzer(out, target, [f"./{target}"], corpora, seconds, {})
    # The module, built by clang with coverage for the fuzzer and ASan; the
    # interpreter is not instrumented, so the runtime comes first.
    site = TOP / "build/fuzz-site"
    clang = {"CC": "clang-19", "CXX": "clang++-19", "CXXFLAGS": "-fsanitize=fuzzer-no-link,address"}
    install_into(site, "build/fuzz-module", "OFF", env=clang)
    if "__sanitizer_cov" not in exports(module(site)):
        raise OSError("the module is not instrumented for coverage")
    runtime = output(sys.executable, "-c", "import atheris; print(atheris.path())")
    (out / "corpus-python").mkdir(exist_ok=True)
    env = {
        "LD_PRELOAD": f"{runtime}/asan_with_fuzzer.so",
        "ASAN_OPTIONS": "detect_leaks=0:halt_on_error=1",
        "PYTHONPATH": str(site),
    }
    driver = [sys.executable, f"{TOP}/tests/drivers/fuzz_entry_points.py"]
    status &= libfuzzer(out, "python", driver, ["corpus-python"], seconds, env)
    crashes = sorted(out.glob("crash-*"))
    if crashes:
        say("crashes:", *crashes)
    return status and not crashes


def libfuzzer(
    out: Path, name: str, cmd: list[str], corpora: list[str], seconds: str, env: dict[str, str]
) -> bool:
    """Runs one fuzzer in out, its output to NAME.log; prints its closing figures."""
    log = out / f"{name}.log"
    with log.open("w") as file:
        status = subprocess.run(
            [
                *cmd,
                f"-max_total_time={seconds}",
                "-print_final_stats=1",
                f"-artifact_prefix={out}/crash-{name}-",
                *corpora,
            ],
            cwd=out,
            env={**os.environ, **env},
            stdout=file,
            stderr=subprocess.STDOUT,
        ).returncode
    for line in log.read_text(errors="replace").splitlines():
        if re.search(r"DONE +cov:|^Done \d+ runs|ERROR|Uncaught", line):
            say(line)
    return status == 0
