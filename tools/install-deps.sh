#!/usr/bin/env bash
# What the build and the tests need from Debian and from PyPI.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(libgtest-dev libbenchmark-dev valgrind clang-format python3.11-dbg clang-19 libclang-rt-19-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
python -m pip install --quiet --disable-pip-version-check \
    "scikit-build-core>=0.10" "pytest>=7" "hypothesis>=6" "mypy>=1.8" "pyperf>=2.6" \
    "matplotlib>=3.6"
# The fuzzer's Python front end builds its libFuzzer from the clang the module is fuzzed with.
python -c 'import atheris' 2>/dev/null ||
    CLANG_BIN=clang-19 python -m pip install --quiet --disable-pip-version-check "atheris>=2.3"
