"""The portable wheels, each tested on its interpreter and architecture.

Usage: python tools/wheels.py   (`nox -s wheels` runs it, in an environment with the `wheels` group)

Writes to wheelhouse/ CPython 3.11 to 3.15 on x86_64 and 3.11, 3.13, 3.14,
3.15 on aarch64, and succeeds only if each one is manylinux_2_17 for its
architecture, exports PyInit__norvel_core alone, ships the LICENSE, installs
into a fresh virtual environment of its interpreter on its own architecture
and passes the Python suite there, run from outside the source tree. These
are the suites of CI. No Debian suite carries an arm64 3.12, so there is no
aarch64 wheel for it: nothing could test it.

The compiler is zig's C++ driver aimed at glibc 2.17: it links its own C++
runtime statically and uses no libc symbol newer than the target's, with no
old distribution needed. The build backend runs on an x86_64 interpreter of
the wheel's version (the host's, or the sid-amd64 root's for those the host
lacks); aarch64 is a cross-compile against the arm64 root's Python headers and
build-time configuration, and its suite runs in that root under emulation,
with the stress loops at a tenth of their counts and without the static type
check, which the x86_64 suites run. The roots are made while the
host builds and tests the x86_64 wheels, and the suites run two at a time, each
as soon as its wheel is built. The ordinary g++ build stays for development.

The halves of one wheel's life that run where its interpreter is (on the
host or inside a root) are `build` and `test` in tools/wheel_step.py.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from common import PIP, TOP, at, interpreter, output, record, run, say

# version, arch, where the build runs, where the suite runs ("host" or a root).
WHEELS = [
    ("3.11", "x86_64", "host", "host"),
    ("3.12", "x86_64", "host", "host"),
    ("3.13", "x86_64", "host", "host"),
    ("3.14", "x86_64", "sid-amd64", "sid-amd64"),
    ("3.15", "x86_64", "sid-amd64", "sid-amd64"),
    ("3.11", "aarch64", "host", "bookworm-arm64"),
    ("3.13", "aarch64", "host", "sid-arm64"),
    ("3.14", "aarch64", "sid-amd64", "sid-arm64"),
    ("3.15", "aarch64", "sid-amd64", "sid-arm64"),
]
LOGS = TOP / "build/wheel-logs"
EMULATED_SCALE = "0.1"


def python_at(place: str, version: str) -> str:
    found = interpreter(version) if place == "host" else f"python{version}"
    if not found:
        sys.exit(f"wheels: no CPython {version} on the host")
    return found


def zig_drivers() -> None:
    """The compiler wrappers; the zig binary is static, so they serve inside the roots too."""
    import ziglang  # type: ignore[import-not-found]

    zig = Path(ziglang.__file__).parent / "zig"
    (TOP / "build/zig").mkdir(parents=True, exist_ok=True)
    for arch in ("x86_64", "aarch64"):
        driver = TOP / f"build/zig/c++-{arch}"
        driver.write_text(
            f'#!/bin/sh\nZIG_GLOBAL_CACHE_DIR={TOP}/build/zig/cache exec "{zig}" '
            f'c++ -target {arch}-linux-gnu.2.17 "$@"\n'
        )
        driver.chmod(0o755)


def warm(arch: str) -> None:
    """zig builds its C++ runtime for a target on first use: once for CMake's probe of
    the compiler (an executable), once more for the module (a stripped shared object at
    -O3). Both are built here, from a stub, while the roots a cross-compile waits for
    are made."""
    t = time.monotonic()
    with tempfile.TemporaryDirectory() as stub:
        source = Path(stub) / "stub.cpp"
        source.write_text(
            "#include <string>\nint main(int n, char**) { return std::to_string(n).size(); }\n"
        )
        driver = TOP / f"build/zig/c++-{arch}"
        run(driver, source, "-o", Path(stub) / "probe", quiet=True)
        run(
            driver,
            "-O3",
            "-DNDEBUG",
            "-fPIC",
            "-shared",
            "-s",
            source,
            "-o",
            Path(stub) / "so",
            quiet=True,
        )
    record(f"wheels: zig runtimes {arch}", time.monotonic() - t, "built")


def prepare(version: str, arch: str, place: str) -> None:
    """What a build against a Debian interpreter needs: its headers, with the multiarch
    pyconfig.h they include reachable without the root's libc headers on the path (zig
    brings glibc 2.17's); for a cross-compile, also the target's build-time configuration,
    which names the extension suffix."""
    rootdir, cross = TOP / f"build/roots/{place}", TOP / f"build/cross/{version}-{arch}"
    shutil.rmtree(cross, ignore_errors=True)
    (cross / f"include/{arch}-linux-gnu").mkdir(parents=True)
    for header in (rootdir / f"usr/include/python{version}").iterdir():
        (cross / "include" / header.name).symlink_to(header)
    multiarch = f"{arch}-linux-gnu/python{version}"
    (cross / "include" / multiarch).symlink_to(rootdir / "usr/include" / multiarch)
    if arch == "x86_64":
        return
    # The target names its configuration module and suffix itself.
    code = (
        "import os, sysconfig; print(sysconfig._get_sysconfigdata_name(), "
        'sysconfig.get_config_var("EXT_SUFFIX"), os.confstr("CS_GNU_LIBC_VERSION").split()[1])'
    )
    data, suffix, glibc = output(*at(place, f"python{version}", "-c", code)).split()
    module = rootdir / f"usr/lib/python{version}/{data}.py"
    if not (module.exists() and re.fullmatch(r"\..*\.so", suffix) and glibc.startswith("2.")):
        sys.exit(f"wheels: {place}'s python{version}: no configuration module ({data}, {suffix})")
    (cross / "glibc").write_text(glibc)
    (cross / "sysconfig").mkdir()
    (cross / "sysconfig" / module.name).symlink_to(module)
    (cross / "sysconfig-name").write_text(data)
    (cross / "ext-suffix").write_text(suffix)


def build(version: str, arch: str, builder: str, tester: str) -> Path:
    name = f"{version}-{arch}"
    if arch != "x86_64":
        prepare(version, arch, tester)
    elif builder != "host":
        prepare(version, arch, builder)
    else:
        shutil.rmtree(TOP / f"build/cross/{name}", ignore_errors=True)
    raw = TOP / f"build/wheels-raw/{name}"
    run(*at(builder, python_at(builder, version), "tools/wheel_step.py", "build", arch, raw))
    # The platform is left to auditwheel, which only offers the host's by name;
    # check() holds it to manylinux_2_17.
    run("auditwheel", "repair", "-w", "wheelhouse", *raw.glob("*.whl"))
    return next((TOP / "wheelhouse").glob(f"kestrova-*-cp{version.replace('.', '')}-*{arch}.whl"))


def check(wheel: Path, arch: str) -> str:
    """The checks that need no interpreter of the wheel's own."""
    plat = f"manylinux_2_17_{arch}"
    shown = " ".join(output("auditwheel", "show", wheel).split())
    if f'consistent with the following platform tag: "{plat}"' not in shown:
        sys.exit(f"{shown}\nwheels: {wheel} is not {plat}")
    with tempfile.TemporaryDirectory() as unpacked:
        zipfile.ZipFile(wheel).extractall(unpacked)
        so = next(Path(unpacked).glob("kestrova/_norvel_core.*.so"))
        exported = output("nm", "-D", "--defined-only", so).split("\n")
        names = [line.split()[-1] for line in exported if line]
        if names != ["PyInit__norvel_core"]:
            sys.exit(f"wheels: {wheel} exports: {names}")
        licence = next(Path(unpacked).glob("kestrova-*.dist-info/licenses/LICENSE"), None)
        if not licence or licence.read_bytes() != (TOP / "LICENSE").read_bytes():
            sys.exit(f"wheels: {wheel} lacks the LICENSE")
    return f"{plat}, exports PyInit__norvel_core alone, LICENSE"


def fetch_requirements(version: str, arch: str) -> None:
    """An emulated pip spends minutes resolving and fetching (TLS included) what the host's
    fetches in seconds: the suite's requirements for a foreign target are fetched here, for
    its interpreter, architecture and glibc, and installed there from this folder alone."""
    glibc = int((TOP / f"build/cross/{version}-{arch}/glibc").read_text().split(".")[1])
    plats = [f"manylinux_2_{minor}_{arch}" for minor in range(17, glibc + 1)]
    plats += [f"manylinux2014_{arch}", f"linux_{arch}"]
    deps = TOP / f"build/wheel-deps/{version}-{arch}"
    shutil.rmtree(deps, ignore_errors=True)
    run(
        sys.executable,
        *PIP,
        "download",
        "--only-binary=:all:",
        *[arg for plat in plats for arg in ("--platform", plat)],
        "--python-version",
        version,
        "--implementation",
        "cp",
        "--abi",
        f"cp{version.replace('.', '')}",
        "--abi",
        "abi3",
        "--abi",
        "none",
        "-d",
        deps,
        "--group",
        "pyproject.toml:test",
        "pip",
    )


def test(name: str, tester: str, python: str, wheel: Path) -> tuple[int, float]:
    """One suite, to its own log, whose last line is the suite's totals."""
    start = time.monotonic()
    env = dict(os.environ)
    deps = []
    if not name.endswith("x86_64"):
        deps = [str(TOP / f"build/wheel-deps/{name}")]
        # Under emulation the stress loops run at a tenth: what they prove on a
        # platform shows at any count, and the full counts run on the x86_64 wheels.
        # The type check, a minute there, reads the same text on every architecture.
        env["KESTROVA_STRESS_SCALE"] = EMULATED_SCALE
        env["PYTEST_ADDOPTS"] = "-m 'not static'"
    cmd = at(tester, python, "tools/wheel_step.py", "test", wheel, name, *deps)
    with (LOGS / f"{name}.log").open("w") as log:
        status = subprocess.run(cmd, cwd=TOP, env=env, stdout=log, stderr=subprocess.STDOUT)
    return status.returncode, time.monotonic() - start


def make_root(place: str) -> None:
    t = time.monotonic()
    # nm: the suite checks what the module exports.
    extra = f"binutils {os.environ.get('DEBIAN_ROOT_PACKAGES', '')}".strip()
    run(*at(place), env={"DEBIAN_ROOT_PACKAGES": extra})
    record(f"wheels: root {place}", time.monotonic() - t, "made")


def main() -> int:
    start = time.monotonic()
    zig_drivers()
    for path in ("wheelhouse", "build/wheels-raw", "build/wheel-logs"):
        shutil.rmtree(TOP / path, ignore_errors=True)
    (TOP / "wheelhouse").mkdir()
    LOGS.mkdir(parents=True)
    places = sorted({p for w in WHEELS for p in w[2:]} - {"host"})
    wheels, checks, suites = {}, {}, {}
    # The roots are made side by side while the host builds and tests what needs no
    # root yet; each suite starts, two at a time, as soon as its wheel is built.
    with ThreadPoolExecutor(len(places) + 1) as makers, ThreadPoolExecutor(2) as testers:
        made = {place: makers.submit(make_root, place) for place in places}
        warmed = makers.submit(warm, "aarch64")
        for version, arch, builder, tester in WHEELS:
            for place in {builder, tester} - {"host"}:
                made[place].result()
            if arch != "x86_64":
                warmed.result()
            name, t = f"{version}-{arch}", time.monotonic()
            say(f"== {name}: build")
            wheels[name] = build(version, arch, builder, tester)
            checks[name] = check(wheels[name], arch)
            if arch != "x86_64":
                fetch_requirements(version, arch)
            record(f"wheels: build {name}", time.monotonic() - t, "built")
            python = python_at(tester, version)
            suites[name] = testers.submit(test, name, tester, python, wheels[name])
            say(f"== {name}: suite started (log in {LOGS.relative_to(TOP)}/{name}.log)")
    failed = 0
    say("== wheels: summary")
    for version, arch, _, _ in WHEELS:
        name = f"{version}-{arch}"
        status, took = suites[name].result()
        lines = (LOGS / f"{name}.log").read_text(errors="replace").splitlines()
        totals = lines[-1] if lines else "no output"
        if status:
            failed = 1
            totals = f"FAILED ({totals}), see {LOGS.relative_to(TOP)}/{name}.log"
        say(f"{wheels[name].name}: {checks[name]}; suite {totals} in {took:.0f}s")
        record(f"wheels: suite {name}", took, "FAILED" if status else "passed")
    say(f"wheels: {len(WHEELS)} wheels in {time.monotonic() - start:.0f}s")
    return failed


if __name__ == "__main__":
    sys.exit(main())
