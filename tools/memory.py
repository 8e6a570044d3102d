"""Memory and thread checks of the native core and of the module inside the interpreter.

Usage: python tools/memory.py [stage...]   (default: every stage; `nox -s memory` runs it)

The stages run in two lanes side by side (LANES below), each to its own log.

Each stage has its own build directory under build/ and installs the package
into a directory of its own, so the normal install is never touched:

  asan-core        C++ core tests, AddressSanitizer + UBSan, leak detection on
  asan-python      whole Python suite, ASan/UBSan module in the normal interpreter,
                   scaled-down loops
  memcheck         whole Python suite under valgrind memcheck, loops scaled down further
  tsan-core        C++ core tests, the concurrent readers among them, under TSan
  debug-python     whole Python suite under the debug interpreter with -X dev,
                   then reference-leak rounds over every leak-suite case
  fault-injection  failed allocations and low recursion headroom at every
                   leak-suite case, in a fresh process and after a panic
  debug-python-3.15, fault-injection-3.15  the same two on Debian unstable's
                   python3.15-dbg and python3.15, inside build/roots/sid-amd64
  fuzz             libFuzzer over the datasheet writer and the JSON number
                   writer, atheris over every entry point (clang-19, ASan)

The interpreter running this script is the one tested (its environment needs
the `memory` group). KESTROVA_FUZZ_SECONDS is each fuzzer's time (default 40),
KESTROVA_DEBUG_PYTHON the debug interpreter (default python3.11-dbg),
KESTROVA_MEMORY_LOGS the folder of the stage logs.
"""

from __future__ import annotations

import os
import re
import shutil
import sys
from pathlib import Path

from common import (
    JOBS,
    PIP,
    TOP,
    at,
    exports,
    groups,
    install_into,
    loads_from,
    module,
    output,
    run,
    say,
    stages,
    venv,
)
from fuzz import fuzz

# Not a launcher script: valgrind must run the real binary.
PYTHON = sys.executable
# The uninstrumented build, which memcheck and fault injection share.
PLAIN = "build/plain-module-{}{}".format(*sys.version_info[:2])
PYTEST = ("-m", "pytest", "-q", "-p", "no:cacheprovider")
LOGS = Path(os.environ.get("KESTROVA_MEMORY_LOGS", TOP / "build/memory-logs"))
# The stress tests' loop counts, as a share of the full ones. The full counts run in every
# wheel's suite and under the debug interpreters, which count blocks and references; an
# invalid access shows on the first call, and memcheck reports a lost block at exit.
ASAN_SCALE = {"KESTROVA_STRESS_SCALE": "0.1"}
MEMCHECK_SCALE = {"KESTROVA_STRESS_SCALE": "0.01"}


def core_tests(build_dir: str, option: str, env: dict[str, str]) -> None:
    flags = (
        "-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_BUILD_TESTS=ON -DKESTROVA_BUILD_MODULE=OFF"
    )
    run("cmake", "-S", ".", "-B", build_dir, "-G", "Ninja", f"-D{option}=ON", *flags.split())
    run("cmake", "--build", build_dir, "-j", JOBS)
    run("ctest", "--test-dir", build_dir, "--output-on-failure", "-j", JOBS, env=env)


def asan_core() -> None:
    asan = "detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1"
    ubsan = "print_stacktrace=1:halt_on_error=1"
    core_tests(
        "build/asan-core", "KESTROVA_SANITIZE", {"ASAN_OPTIONS": asan, "UBSAN_OPTIONS": ubsan}
    )


def asan_python() -> bool:
    site, reports = TOP / "build/asan-site", TOP / "build/asan-reports"
    install_into(site, "build/asan-module", "ON")
    if "__asan_init" not in exports(module(site)):
        raise OSError("the module is not instrumented")
    shutil.rmtree(reports, ignore_errors=True)
    reports.mkdir(parents=True)
    # The interpreter is not instrumented: the runtime must come first, and
    # libstdc++ with it so that its exceptions go through ASan's interceptors.
    # Reports go to files, so that one from a test's subprocess counts too.
    libs = [output("g++", f"-print-file-name={lib}") for lib in ("libasan.so", "libstdc++.so")]
    env = {
        "LD_PRELOAD": " ".join(libs),
        "ASAN_OPTIONS": f"detect_leaks=0:halt_on_error=1:log_path={reports}/asan",
        "UBSAN_OPTIONS": f"print_stacktrace=1:halt_on_error=1:log_path={reports}/ubsan",
        "PYTHONMALLOC": "malloc",
        **ASAN_SCALE,
    }
    loads_from(site, env)
    status = run(PYTHON, *PYTEST, env={**env, "PYTHONPATH": str(site)}, check=False)
    found = sorted(reports.iterdir())
    if found:
        for report in found:
            say(report.read_text())
        say(f"sanitizer reports: {len(found)}")
        return False
    return status == 0


def memcheck() -> bool:
    site, logs = TOP / "build/memcheck-site", TOP / "build/memcheck-logs"
    install_into(site, PLAIN, "OFF")
    loads_from(site)
    shutil.rmtree(logs, ignore_errors=True)
    logs.mkdir(parents=True)
    # Each object the interpreter allocates is its own malloc block. The debug
    # hooks on top fill new blocks with a pattern: without that, the
    # interpreter's int constructors leave a digit unwritten that the
    # small-int lookup multiplies by zero, a false report that then follows the
    # resulting pointer everywhere, our frames included. Leaks are counted on
    # "definitely lost", which interior pointers into debug blocks leave exact.
    # Tests that start Python in a subprocess are followed into it; other
    # programs the tools start are not ours to check, and mypy is pure Python
    # that would only run out the clock there. Tests marked numpy are left out:
    # importing numpy alone (through scipy or matplotlib) leaves 19 blocks that
    # memcheck counts as definitely lost and ld.so reads past a string while
    # loading its libraries; those tests exercise pure Python only.
    skip = "*/git,*/file,*/ldconfig*,*/uname,*/gcc*,*/cc,*/ld,*/objdump,*/nm,*/sh,*/dash,*/bash"
    valgrind = """valgrind --tool=memcheck --error-exitcode=99 --num-callers=40 -s
        --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite
        --suppressions=/usr/lib/valgrind/python3.supp --suppressions=tools/valgrind-python.supp
        --trace-children=yes --trace-children-skip-by-arg=*mypy*"""
    env = {"PYTHONMALLOC": "malloc_debug", "PYTHONPATH": str(site), **MEMCHECK_SCALE}
    status = run(
        *valgrind.split(),
        f"--trace-children-skip={skip}",
        f"--log-file={logs}/memcheck.%p.log",
        PYTHON,
        *PYTEST,
        "-m",
        "not numpy",
        env=env,
        check=False,
    )
    # One log per process. A fork that goes on to exec a program left out
    # above ends its log at the header; every other log must close clean.
    header = re.compile(r"^==\d+== (Memcheck|Copyright|Using|Command|Parent)|^==\d+== *$")
    texts = [path.read_text(errors="replace") for path in sorted(logs.glob("*.log"))]
    bad = False
    for text in texts:
        closed = "ERROR SUMMARY" in text
        if re.search(r"ERROR SUMMARY: [1-9]", text) or (
            not closed and any(not header.search(line) for line in text.splitlines())
        ):
            say(text)
            bad = True
    say(f"processes checked: {sum('ERROR SUMMARY' in text for text in texts)}")
    lines: dict[str, int] = {}
    used: dict[str, int] = {}
    for text in texts:
        for line in text.splitlines():
            if "ERROR SUMMARY" in line or "definitely lost" in line:
                line = re.sub(r"^==\d+== *", "", line)
                lines[line] = lines.get(line, 0) + 1
            elif m := re.search(r"used_suppression: *(\d+) (\S+)", line):
                used[m[2]] = used.get(m[2], 0) + int(m[1])
    for line, count in sorted(lines.items()):
        say(f"{count:7d} {line}")
    say("suppressions used (count, name):")
    for name, count in used.items():
        say(count, name)
    return status == 0 and not bad


def tsan_core() -> bool:
    # The concurrent-reader tests are the point of this stage: make sure they ran.
    tsan = "halt_on_error=1:second_deadlock_stack=1"
    core_tests("build/tsan-core", "KESTROVA_TSAN", {"TSAN_OPTIONS": tsan})
    listed = output("ctest", "--test-dir", "build/tsan-core", "-N", "-R", "Concurren")
    concurrent = len(re.findall(r"Test *#", listed))
    say(f"concurrent tests run under TSan: {concurrent}")
    return concurrent > 0


def debug_python() -> bool:
    # Debian's debug interpreter, with a venv of its own for pytest and the build.
    dbg = os.environ.get("KESTROVA_DEBUG_PYTHON", "/usr/bin/python3.11-dbg")
    version = output(dbg, "-c", 'import sys; print("%d%d" % sys.version_info[:2])')
    python = venv(dbg, TOP / f"build/dbg-venv-{version}")
    run(
        python,
        "-W",
        "ignore",
        *PIP,
        "install",
        *groups("debug"),
        env={"PIP_ROOT_USER_ACTION": "ignore"},
    )
    site = TOP / f"build/dbg-site-{version}"
    # Its headers reach the debug configuration through a symlinked tree that
    # a build may not follow: the macro is set here, so the layout must match.
    install_into(site, f"build/dbg-module-{version}", "OFF", python, {"CXXFLAGS": "-DPy_DEBUG"})
    built = module(site)
    if f"{version}d-" not in built or "_Py_NegativeRefcount" not in exports(built):
        raise OSError(f"{built} is not a debug build")
    loads_from(site, python=python)
    env = {"PYTHONPATH": str(site)}
    status = run(python, "-X", "dev", *PYTEST, env=env, check=False)
    leaks = run(python, "-X", "dev", "tests/drivers/boundary.py", "refleaks", env=env, check=False)
    return status == 0 and leaks == 0


def fault_injection() -> None:
    site = TOP / "build/fault-site"
    install_into(site, PLAIN, "OFF")
    loads_from(site)
    run(PYTHON, "tests/drivers/boundary.py", "faults", env={"PYTHONPATH": str(site)})


# Debian unstable's 3.15, which only the root carries: its debug interpreter,
# and a venv of its python3.15 with what the stages need.
def in_root_315(stage: str) -> None:
    env = ["env", "KESTROVA_MEMORY_LOGS=build/memory-logs/3.15", "KESTROVA_TIMES="]
    if stage == "debug-python":
        dbg = "KESTROVA_DEBUG_PYTHON=/usr/bin/python3.15-dbg"
        run(*at("sid-amd64", *env, dbg, "python3.15", "tools/memory.py", stage))
        return
    python = venv("python3.15", TOP / "build/venvs/3.15", "sid-amd64")
    run(*at("sid-amd64", python, *PIP, "install", *groups("test", "build")))
    run(*at("sid-amd64", *env, python, "tools/memory.py", stage))


# Most stages keep one core busy: two lanes side by side keep both. Stages that share a
# build or a root share a lane; each lane takes about half of the whole.
LANES = [
    ["memcheck", "fault-injection", "asan-core", "tsan-core"],
    ["asan-python", "debug-python", "debug-python-3.15", "fault-injection-3.15", "fuzz"],
]
EVERY = {
    "asan-core": asan_core,
    "asan-python": asan_python,
    "memcheck": memcheck,
    "tsan-core": tsan_core,
    "debug-python": debug_python,
    "debug-python-3.15": lambda: in_root_315("debug-python"),
    "fault-injection": fault_injection,
    "fault-injection-3.15": lambda: in_root_315("fault-injection"),
    "fuzz": fuzz,
}

if __name__ == "__main__":
    unknown = set(sys.argv[1:]) - set(EVERY)
    if unknown:
        sys.exit(f"memory: no stage {' '.join(sorted(unknown))}; stages: {' '.join(EVERY)}")
    # The figures: the suite's totals, the leak rounds, the faults injected.
    figures = r"^(refleaks|faults|memory|headroom): |^\d+ passed"
    sys.exit(stages(sys.argv[1:], LANES, EVERY, LOGS, figures))
