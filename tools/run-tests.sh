#!/usr/bin/env bash
# Every test of the project: the C++ core's unit tests, then the Python suite
# against a normal (non-editable) install of the package. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash tools/install-deps.sh

echo "== C++ sources: clang-format"
clang-format --dry-run --Werror norvel_core/src/*/*.[ch]pp norvel_core/tests/*/*.cpp \
    norvel_core/bench/*.cpp

echo "== C++ core: build and unit tests"
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTROVA_BUILD_TESTS=ON -DKESTROVA_BUILD_MODULE=OFF -DKESTROVA_WERROR=ON >/dev/null
cmake --build build/core-tests -j "$jobs"
ctest --test-dir build/core-tests --output-on-failure -j "$jobs"

echo "== Python: install the package and run its test suite"
KESTROVA_WERROR=ON python -m pip install --quiet --disable-pip-version-check \
    --no-build-isolation .
python -m pytest -q -p no:cacheprovider "$@"
