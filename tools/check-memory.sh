#!/usr/bin/env bash
# Memory and thread checks of the native core and of the module inside the
# interpreter. Each stage has its own build directory under build/ and its
# own install target, so the normal install in site-packages is never touched.
#
#   asan-core     C++ core tests, AddressSanitizer + UBSan, leak detection on
#   asan-python   whole Python suite, ASan/UBSan module in the normal interpreter
#   memcheck      whole Python suite under valgrind memcheck, scaled-down loops
#   tsan-core     C++ core tests, the concurrent readers among them, under TSan
#   debug-python  whole Python suite under the debug interpreter with -X dev,
#                 then reference-leak rounds over every leak-suite case
#   fault-injection  failed allocations and low recursion headroom at every
#                 leak-suite case, in a fresh process and after a panic
#   debug-python-3.15, fault-injection-3.15  the same two on Debian unstable's
#                 python3.15-dbg and python3.15, inside build/roots/sid-amd64
#                 (the two above run on the host's 3.11)
#   fuzz          libFuzzer over the datasheet writer and the JSON number
#                 writer, atheris over every entry point (clang-19, ASan)
#
# Usage: [KESTROVA_FUZZ_SECONDS=n] tools/check-memory.sh [stage...]   (default: every stage)
# KESTROVA_FUZZ_SECONDS is each fuzzer's time (default 40: two minutes in all).
# Exits non-zero when any stage fails; a summary of all stages, with their
# figures, comes last (each stage's whole output is in build/memory-logs/).
# KESTROVA_DEBUG_PYTHON names the debug interpreter (default python3.11-dbg),
# KESTROVA_MEMORY_LOGS the folder of the stage logs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
# The interpreter itself, not a launcher script: valgrind must run the real binary.
# PYTHON names it (the test venv, e.g. build/venvs/3.11/bin/python), else python3.
python=$("${PYTHON:-python3}" -c 'import sys; print(sys.executable)')
stages=("$@")
((${#stages[@]})) || stages=(asan-core asan-python memcheck tsan-core debug-python debug-python-3.15
    fault-injection fault-injection-3.15 fuzz)

declare -A outcome
declare -A took

# Builds the wheel into a directory of its own and puts the package there;
# PYTHONPATH then puts it ahead of site-packages.
install_into() {  # site build-dir sanitize
    rm -rf "$1"
    KESTROVA_SANITIZE=$3 "$python" -m pip install --quiet --disable-pip-version-check \
        --no-build-isolation --no-deps --target "$1" \
        -C build-dir="$2" -C cmake.build-type=RelWithDebInfo . 2>&1 |
        grep -v "Running pip as the 'root' user" || true
    [[ -f $1/kestrova/__init__.py ]] && compgen -G "$1/kestrova/_norvel_core*.so" >/dev/null
}

# Proves the tests will import the module just built, not the installed one.
loads_from() {  # site [env...]
    local site=$1
    shift
    local file
    file=$(env "$@" PYTHONPATH="$site" "$python" -c \
        'import kestrova._norvel_core as m; print(m.__file__)') || return 1
    [[ $file == "$site"/kestrova/* ]] || { echo "module loaded from $file, not $site" >&2; return 1; }
    echo "module: $file"
}

core_tests() {  # build-dir cmake-option env...
    local dir=$1 option=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -D"$option"=ON \
        -DKESTROVA_BUILD_TESTS=ON -DKESTROVA_BUILD_MODULE=OFF >/dev/null &&
        cmake --build "$dir" -j "$jobs" &&
        env "$@" ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

stage_asan_core() {
    core_tests build/asan-core KESTROVA_SANITIZE \
        ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}

stage_asan_python() {
    local site=$root/build/asan-site reports=$root/build/asan-reports
    install_into "$site" build/asan-module ON || return 1
    [[ $(nm -D "$site"/kestrova/_norvel_core*.so) == *__asan_init* ]] ||
        { echo "the module is not instrumented" >&2; return 1; }
    rm -rf "$reports" && mkdir -p "$reports"
    # The interpreter is not instrumented: the runtime must come first, and
    # libstdc++ with it so that its exceptions go through ASan's interceptors.
    # Reports go to files, so that one from a test's subprocess counts too.
    local -a env=(
        LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
        ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:log_path=$reports/asan
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan
        PYTHONMALLOC=malloc
    )
    loads_from "$site" "${env[@]}" || return 1
    local status=0
    env "${env[@]}" PYTHONPATH="$site" "$python" -m pytest -q -p no:cacheprovider || status=$?
    if compgen -G "$reports/*" >/dev/null; then
        cat "$reports"/* >&2
        echo "sanitizer reports: $(ls "$reports" | wc -l)" >&2
        return 1
    fi
    return $status
}

stage_memcheck() {
    local site=$root/build/memcheck-site logs=$root/build/memcheck-logs
    install_into "$site" build/memcheck-module OFF || return 1
    loads_from "$site" || return 1
    rm -rf "$logs" && mkdir -p "$logs"
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
    local status=0
    env PYTHONMALLOC=malloc_debug PYTHONPATH="$site" KESTROVA_STRESS_SCALE=0.1 \
        valgrind --tool=memcheck --error-exitcode=99 --num-callers=40 -s \
        --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
        --suppressions=/usr/lib/valgrind/python3.supp --suppressions=tools/valgrind-python.supp \
        --trace-children=yes --trace-children-skip-by-arg='*mypy*' \
        --trace-children-skip='*/git,*/file,*/ldconfig*,*/uname,*/gcc*,*/cc,*/ld,*/objdump,*/nm,*/sh,*/dash,*/bash' \
        --log-file="$logs/memcheck.%p.log" \
        "$python" -m pytest -q -p no:cacheprovider -m "not numpy" || status=$?
    # One log per process. A fork that goes on to exec a program left out
    # above ends its log at the header; every other log must close clean.
    local log bad=0
    for log in "$logs"/*.log; do
        if grep -q "ERROR SUMMARY: [1-9]" "$log" ||
            { ! grep -q "ERROR SUMMARY" "$log" &&
                grep -qvE "^==[0-9]+== (Memcheck|Copyright|Using|Command|Parent)|^==[0-9]+== *$" "$log"; }; then
            cat "$log" >&2
            bad=1
        fi
    done
    echo "processes checked: $(grep -l "ERROR SUMMARY" "$logs"/*.log | wc -l)"
    grep -h "ERROR SUMMARY\|definitely lost" "$logs"/*.log | sed 's/^==[0-9]*== *//' | sort | uniq -c
    echo "suppressions used (count, name):"
    grep -h "used_suppression" "$logs"/*.log | sed 's/.*used_suppression: *//' |
        awk '{count[$2] += $1} END {for (name in count) print count[name], name}'
    ((status == 0 && bad == 0))
}

stage_tsan_core() {
    # The concurrent-reader tests are the point of this stage: make sure they ran.
    core_tests build/tsan-core KESTROVA_TSAN TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ||
        return 1
    local concurrent
    concurrent=$(ctest --test-dir build/tsan-core -N -R Concurren | grep -c "Test *#")
    echo "concurrent tests run under TSan: $concurrent"
    ((concurrent > 0))
}

stage_debug_python() {
    # Debian's debug interpreter, with a venv of its own for pytest and the build.
    local dbg=${KESTROVA_DEBUG_PYTHON:-/usr/bin/python3.11-dbg} version
    version=$("$dbg" -c 'import sys; print("%d%d" % sys.version_info[:2])') || return 1
    local venv=$root/build/dbg-venv-$version
    [[ -x $venv/bin/python ]] || "$dbg" -m venv "$venv" || return 1
    "$venv/bin/python" -W ignore -m pip install --quiet --disable-pip-version-check "pip>=23.1" \
        "scikit-build-core>=0.10" "pytest>=7" "hypothesis>=6" "mypy>=1.8" 2>&1 |
        grep -v "Running pip as the 'root' user" || true
    local site=$root/build/dbg-site-$version
    # Its headers reach the debug configuration through a symlinked tree that
    # a build may not follow: the macro is set here, so the layout must match.
    python=$venv/bin/python CXXFLAGS="-DPy_DEBUG" install_into "$site" \
        build/dbg-module-"$version" OFF || return 1
    local module
    module=$(compgen -G "$site/kestrova/_norvel_core*.so")
    [[ $module == *"${version}d-"* && $(nm -D "$module") == *_Py_NegativeRefcount* ]] ||
        { echo "$module is not a debug build" >&2; return 1; }
    python=$venv/bin/python loads_from "$site" || return 1
    local status=0
    PYTHONPATH="$site" "$venv/bin/python" -X dev -m pytest -q -p no:cacheprovider || status=$?
    PYTHONPATH="$site" "$venv/bin/python" -X dev tests/drivers/boundary.py refleaks || status=1
    return $status
}

stage_fault_injection() {
    local site=$root/build/fault-site
    install_into "$site" build/fault-module OFF || return 1
    loads_from "$site" || return 1
    PYTHONPATH="$site" "$python" tests/drivers/boundary.py faults
}

# Debian unstable's 3.15, which only the root carries: its debug interpreter,
# and the suite's venv of tools/run-tests.sh (made here when absent).
stage_debug_python_3_15() {
    bash tools/debian-root.sh sid amd64 env PYTHON=python3.15 \
        KESTROVA_DEBUG_PYTHON=/usr/bin/python3.15-dbg KESTROVA_MEMORY_LOGS=build/memory-logs/3.15 \
        bash tools/check-memory.sh debug-python
}

stage_fault_injection_3_15() {
    local venv=build/venvs/3.15
    bash tools/debian-root.sh sid amd64 sh -euc '
        [ -x "$1/bin/python" ] || { python3.15 -m venv "$1" && bash tools/install-deps.sh "$1/bin/python"; }
        PYTHON=$1/bin/python KESTROVA_MEMORY_LOGS=build/memory-logs/3.15 \
            exec bash tools/check-memory.sh fault-injection' sh "$venv"
}

stage_fuzz() {
    local seconds=${KESTROVA_FUZZ_SECONDS:-40} out=$root/build/fuzz status=0
    mkdir -p "$out"
    # The core's writers, on their own: libFuzzer links its main.
    local target
    for target in json decimal; do
        clang++-19 -std=c++23 -O1 -g -fsanitize=fuzzer,address,undefined \
            -fno-sanitize-recover=undefined -Wall -Wextra -Werror -Inorvel_core/src \
            "norvel_core/fuzz/${target}_fuzz.cpp" norvel_core/src/common/*.cpp \
            norvel_core/src/constants/{datasheet,entry}.cpp \
            -o "$out/$target" || return 1
        mkdir -p "$out/corpus-$target"
        (cd "$out" && "./$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$out/crash-$target-" "corpus-$target" \
            "$root/norvel_core/fuzz/corpus/$target" >"$target.log" 2>&1) || status=1
        grep -E "DONE +cov:|^Done [0-9]+ runs|ERROR" "$out/$target.log"
    done
    # The module, built by clang with coverage for the fuzzer and ASan; the
    # interpreter is not instrumented, so the runtime comes first.
    local site=$root/build/fuzz-site
    CC=clang-19 CXX=clang++-19 CXXFLAGS="-fsanitize=fuzzer-no-link,address" \
        install_into "$site" build/fuzz-module OFF || return 1
    [[ $(nm -D "$site"/kestrova/_norvel_core*.so) == *__sanitizer_cov* ]] ||
        { echo "the module is not instrumented for coverage" >&2; return 1; }
    # atheris builds its libFuzzer from the clang the module is fuzzed with.
    "$python" -c 'import atheris' 2>/dev/null ||
        CLANG_BIN=clang-19 "$python" -m pip install --quiet --disable-pip-version-check \
            "atheris>=2.3" || return 1
    local runtime
    runtime=$("$python" -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so
    mkdir -p "$out/corpus-python"
    (cd "$out" && env LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 \
        PYTHONPATH="$site" "$python" "$root/tests/drivers/fuzz_entry_points.py" \
        -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/crash-python-" \
        corpus-python >python.log 2>&1) || status=1
    grep -E "DONE +cov:|^Done [0-9]+ runs|ERROR|Uncaught" "$out/python.log"
    if compgen -G "$out/crash-*" >/dev/null; then
        echo "crashes: $(ls "$out"/crash-*)" >&2
        status=1
    fi
    return $status
}

failed=0
logs=${KESTROVA_MEMORY_LOGS:-$root/build/memory-logs}
mkdir -p "$logs"
for stage in "${stages[@]}"; do
    echo "== $stage"
    start=$SECONDS
    if "stage_${stage//[-.]/_}" 2>&1 | tee "$logs/$stage.log"; then
        outcome[$stage]=passed
    else
        outcome[$stage]=FAILED
        failed=1
    fi
    took[$stage]=$((SECONDS - start))
done

echo "== memory checks"
for stage in "${stages[@]}"; do
    printf '%-20s %-7s %5ds\n' "$stage" "${outcome[$stage]}" "${took[$stage]}"
    # The figures: the suite's totals, the leak rounds, the faults injected.
    grep -E "^(refleaks|faults|memory|headroom): |^[0-9]+ passed" "$logs/$stage.log" |
        sed 's/^/    /' || true
done
exit $failed
