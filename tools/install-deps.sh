#!/usr/bin/env bash
# Usage: tools/install-deps.sh [--test]
# The Debian packages that building the package needs (with sudo when not
# root; apt is skipped when all are present), and with --test also those that
# the nox sessions need: the C++ tests, the linters, the proof stages and the
# roots of the other interpreters. Python packages come from pyproject.toml's
# groups, which the sessions install. Keep the lists one name a line.
set -euo pipefail
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
    # the debug-interpreter and fuzz stages of `nox -s memory`
    python3.11-dbg
    clang-19
    libclang-rt-19-dev
    # tools/debian-root.sh: the roots of the newer interpreters and of arm64
    debootstrap
    qemu-user-static
    binfmt-support
)

debian=("${build[@]}")
[[ ${1:-} != --test ]] || debian+=("${test[@]}")

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
