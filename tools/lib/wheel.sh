#!/usr/bin/env bash
# Usage: tools/lib/wheel.sh build PYTHON ARCH OUTDIR | test PYTHON WHEEL NAME [WHEELDIR]
# The two halves of one wheel's life that must run where its interpreter is:
# on the host or inside a Debian root (tools/debian-root.sh). build-wheels.sh
# drives them; they are not meant to be run by hand.
#
# build: PYTHON (x86_64, same version as the target) runs the build backend;
#   what a Debian interpreter's headers and a cross-compile to ARCH need of
#   the target comes from build/cross/VERSION-ARCH, which build-wheels.sh
#   prepares.
# test: installs WHEEL, then the suite's requirements, into a fresh virtual
#   environment of PYTHON and runs the suite from an empty directory, so that
#   nothing of the source tree can be imported. NAME names the environment;
#   WHEELDIR, if given, is where the requirements come from, instead of the index.
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
pipq=(-m pip --quiet --disable-pip-version-check)

build() {
    local python=$1 arch=$2 out=$3 v
    v=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    local env=$top/build/wheel-build/$v defines=()
    [[ -x $env/bin/python ]] || "$python" -m venv "$env"
    # CMake from PyPI, the same on the host and in the roots: FindPython takes
    # a cross-compile's answers from the "emulator" only since 4.1.
    "$env/bin/python" "${pipq[@]}" install "scikit-build-core>=0.11" "cmake>=4.1" ninja
    local cross=$top/build/cross/$v-$arch
    # Stripped by the linker: the strip the install step finds may not read
    # the target's objects (binutils in the roots knows x86 alone).
    defines+=(
        -C cmake.define.CMAKE_CXX_COMPILER="$top/build/zig/c++-$arch"
        -C cmake.define.CMAKE_MODULE_LINKER_FLAGS=-s
    )
    [[ ! -d $cross/include ]] || defines+=(-C cmake.define.Python_INCLUDE_DIR="$cross/include")
    if [[ $arch != x86_64 ]]; then
        # FindPython, told it cross-compiles, asks the interpreter through the
        # "emulator"; this one lends it the target's build-time configuration,
        # which names the extension suffix. The version is the same.
        printf '#!/bin/sh\nPYTHONPATH=%s _PYTHON_SYSCONFIGDATA_NAME=%s exec "$@"\n' \
            "$cross/sysconfig" "$(cat "$cross/sysconfig-name")" >"$cross/target-config"
        chmod +x "$cross/target-config"
        defines+=(
            -C cmake.define.CMAKE_SYSTEM_NAME=Linux
            -C cmake.define.CMAKE_SYSTEM_PROCESSOR="$arch"
            -C cmake.define.CMAKE_POLICY_DEFAULT_CMP0190=NEW
            -C cmake.define.CMAKE_CROSSCOMPILING_EMULATOR="$cross/target-config"
        )
        # The wheel's platform tag; the suffix only informs the backend.
        export _PYTHON_HOST_PLATFORM=linux-$arch
        export SETUPTOOLS_EXT_SUFFIX
        SETUPTOOLS_EXT_SUFFIX=$(cat "$cross/ext-suffix")
    fi
    rm -rf "$out"
    KESTROVA_WERROR=ON "$env/bin/python" "${pipq[@]}" wheel --no-build-isolation --no-deps \
        -w "$out" -C build-dir="build/wheel-cmake/$v-$arch" "${defines[@]}" .
}

test_wheel() {
    local python=$1 wheel=$2 name=$3 from=()
    local fresh=$top/build/wheel-test/$name outside
    local t=$SECONDS
    [[ -z ${4:-} ]] || from=(--no-index --find-links "$4")
    rm -rf "$fresh"
    # The tools are not byte-compiled: compiling all of them costs minutes
    # under emulation, and the suite compiles what it imports. Nor is the
    # bundled pip installed first only to be replaced by one that has --group.
    if ((${#from[@]})); then
        "$python" -m venv --without-pip "$fresh"
        "$fresh/bin/python" "$(ls "$4"/pip-*.whl)/pip" --quiet --disable-pip-version-check \
            install "${from[@]}" --no-compile pip
    else
        "$python" -m venv "$fresh"
        "$fresh/bin/python" "${pipq[@]}" install --no-compile --upgrade pip
    fi
    "$fresh/bin/python" "${pipq[@]}" install "$wheel"
    "$fresh/bin/python" "${pipq[@]}" install "${from[@]}" --no-compile --group "$top/pyproject.toml:test"
    echo "wheel: $name installed with the suite's requirements in $((SECONDS - t))s"
    outside=$(mktemp -d)
    trap 'rm -rf "$outside"' RETURN
    cd "$outside"
    "$fresh/bin/python" -c 'import kestrova._norvel_core as m, sys
sys.exit(not m.__file__.startswith(sys.prefix + "/"))' ||
        { echo "wheel: the module was not imported from the fresh environment" >&2; return 1; }
    "$fresh/bin/python" -m pytest -q -p no:cacheprovider --rootdir "$outside" "$top/tests"
}

# Each branch exits: nothing after this is read, should the file change meanwhile.
case ${1:-} in
build) build "${@:2}"; exit ;;
test) test_wheel "${@:2}"; exit ;;
*) sed -n 2p "$0" >&2; exit 2 ;;
esac
