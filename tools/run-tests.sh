#!/usr/bin/env bash
# Usage: tools/run-tests.sh [pytest arguments...]
# Every test of the project: clang-format and the C++ core's unit tests, the
# Python suite against a normal (non-editable) install of the package on CPython
# 3.11 to 3.15, each in a virtual environment of its own under
# build/venvs/VERSION, then ruff's lint and format checks.
# 3.11, 3.12 and 3.13 are the host's (python3, pythonX.Y or pyenv's builds; a
# missing 3.12 or 3.13 is skipped unless KESTROVA_ALL_PYTHONS=1); 3.14 and 3.15
# are Debian unstable's, run inside build/roots/sid-amd64 (tools/debian-root.sh
# makes it the first time, in about a minute). KESTROVA_PYTHONS="3.11 3.15"
# picks some. Installs what the tests need first. Exits non-zero when any
# suite fails, after running them all.
#   tools/run-tests.sh --suite VERSION PYTHON [pytest arguments...]
# runs one suite with PYTHON making the environment (what the loop below does
# on either side of the root).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} == --suite ]]; then
    v=$2 python=$3
    shift 3
    env=build/venvs/$v
    [[ -x $env/bin/python ]] || "$python" -m venv "$env"
    bash tools/install-deps.sh "$env/bin/python"
    KESTROVA_WERROR=ON "$env/bin/python" -m pip install --quiet --disable-pip-version-check \
        --no-build-isolation .
    "$env/bin/python" -m pytest -q -p no:cacheprovider "$@" | tee build/pytest-"$v".log
    exit
fi

jobs=$(nproc 2>/dev/null || echo 2)
. tools/lib/interpreter.sh

bash tools/install-deps.sh --test

echo "== C++ sources: clang-format"
clang-format --dry-run --Werror norvel_core/src/*/*.[ch]pp norvel_core/tests/*/*.cpp \
    norvel_core/bench/*.cpp norvel_core/fuzz/*.cpp

echo "== C++ core: build and unit tests"
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTROVA_BUILD_TESTS=ON -DKESTROVA_BUILD_MODULE=OFF -DKESTROVA_WERROR=ON >/dev/null
cmake --build build/core-tests -j "$jobs"
ctest --test-dir build/core-tests --output-on-failure -j "$jobs"

summary=()
failed=0
for v in ${KESTROVA_PYTHONS:-3.11 3.12 3.13 3.14 3.15}; do
    case $v in
    3.14 | 3.15) python=python$v where=(bash tools/debian-root.sh sid amd64) ;;
    *)
        python=$(interpreter "$v") where=()
        if [[ -z $python ]]; then
            [[ $v != 3.11 && ${KESTROVA_ALL_PYTHONS:-0} != 1 ]] ||
                { echo "run-tests: no CPython $v found (PYTHON names 3.11)" >&2; exit 1; }
            summary+=("CPython $v: not present, skipped")
            continue
        fi
        ;;
    esac
    inside=" (Debian unstable's, in build/roots/sid-amd64)"
    echo "== Python $v${where:+$inside}: install the package into build/venvs/$v and run its test suite"
    start=$SECONDS
    rm -f build/pytest-"$v".log
    "${where[@]}" bash tools/run-tests.sh --suite "$v" "$python" "$@" || failed=1
    summary+=("CPython $v: $(tail -n 1 build/pytest-"$v".log 2>/dev/null || echo "no result") ($((SECONDS - start)) s)")
done
# ruff comes with the test group, so the first suite's environment has it.
first=${KESTROVA_PYTHONS:-3.11}
echo "== Python sources: ruff, with pyproject.toml's rules"
if build/venvs/"${first%% *}"/bin/ruff check --quiet . &&
    build/venvs/"${first%% *}"/bin/ruff format --check --quiet .; then
    summary+=("ruff: check and format clean")
else
    summary+=("ruff: findings above")
    failed=1
fi
echo "== Python suites"
printf '%s\n' "${summary[@]}"
exit $failed
