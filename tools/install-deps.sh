#!/usr/bin/env bash
# Usage: tools/install-deps.sh [--test] [PYTHON...]
# Without PYTHON: the Debian packages that building the package needs (with
# sudo when not root; apt is skipped when all are present), and with --test
# also those the tests and the proof stages need. With PYTHON, which should be
# a virtual environment's interpreter (Debian's own python3 refuses pip
# installs): pip's newest release, the build backend and the project's `test`
# group into each. Prints one line saying what it installed. Keep the lists
# one name a line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=(
    g++
    cmake
    ninja-build
    python3-dev
    python3-venv
)
test=(
    binutils
    libgtest-dev
    libbenchmark-dev
    valgrind
    clang-format
    # the debug-interpreter and fuzz stages of check-memory.sh
    python3.11-dbg
    clang-19
    libclang-rt-19-dev
    # tools/debian-root.sh: the roots of the newer interpreters and of arm64
    debootstrap
    qemu-user-static
    binfmt-support
)
# --group needs pip 25.1.
pip=("pip>=25.1" "scikit-build-core>=0.11")

debian=("${build[@]}")
[[ ${1:-} != --test ]] || { debian+=("${test[@]}") && shift; }

if (($#)); then
    for python in "$@"; do
        "$python" -m pip install --quiet --disable-pip-version-check --upgrade "${pip[@]}"
        "$python" -m pip install --quiet --disable-pip-version-check --group test
    done
    echo "install-deps: pip ${pip[*]} and the test group into $*"
    exit 0
fi

missing=()
for p in "${debian[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    echo "install-deps: installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
    echo "install-deps: Debian (all ${#debian[@]} present)"
fi
