#!/usr/bin/env bash
# Usage: tools/run-tests.sh [pytest arguments...]
# Every test of the project: the C++ core's unit tests, then the Python suite
# against a normal (non-editable) install of the package, on CPython 3.11 and on
# 3.12 and 3.13 when present, each in a virtual environment of its own under
# build/venvs/. With KESTROVA_ALL_PYTHONS=1 a missing one is a failure too.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

. tools/lib/interpreter.sh

bash tools/install-deps.sh

echo "== C++ sources: clang-format"
clang-format --dry-run --Werror norvel_core/src/*/*.[ch]pp norvel_core/tests/*/*.cpp \
    norvel_core/bench/*.cpp norvel_core/fuzz/*.cpp

echo "== C++ core: build and unit tests"
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTROVA_BUILD_TESTS=ON -DKESTROVA_BUILD_MODULE=OFF -DKESTROVA_WERROR=ON >/dev/null
cmake --build build/core-tests -j "$jobs"
ctest --test-dir build/core-tests --output-on-failure -j "$jobs"

summary=()
for v in 3.11 3.12 3.13; do
    python=$(interpreter "$v")
    if [[ -z $python ]]; then
        [[ $v != 3.11 && ${KESTROVA_ALL_PYTHONS:-0} != 1 ]] ||
            { echo "run-tests: no CPython $v found (PYTHON names 3.11)" >&2; exit 1; }
        summary+=("CPython $v: not present, skipped")
        continue
    fi
    echo "== Python $v: install the package into build/venvs/$v and run its test suite"
    env=build/venvs/$v
    [[ -x $env/bin/python ]] || "$python" -m venv "$env"
    bash tools/install-deps.sh "$env/bin/python"
    KESTROVA_WERROR=ON "$env/bin/python" -m pip install --quiet --disable-pip-version-check \
        --no-build-isolation .
    "$env/bin/python" -m pytest -q -p no:cacheprovider "$@" | tee build/pytest-"$v".log
    summary+=("$("$env/bin/python" -V): $(tail -1 build/pytest-"$v".log)")
done
echo "== Python suites"
printf '%s\n' "${summary[@]}"
