#!/usr/bin/env bash
# Usage: tools/debian-root.sh SUITE ARCH [COMMAND [ARG...]]
# Makes, once, a Debian root of SUITE (sid, bookworm, ...) and ARCH (amd64,
# arm64) at build/roots/SUITE-ARCH with the packages the table below names for
# it, then runs COMMAND inside, as root, with the project root as the working
# directory; without COMMAND it only makes the root. A foreign ARCH runs under
# qemu's user emulation, which this script installs and registers.
#
# The project tree is mounted at the same absolute path inside, so a virtual
# environment made under build/ inside the root works from either side (it
# runs only inside, where its interpreter is). Each invocation mounts /proc,
# /dev and the tree in a mount namespace of its own: the mounts vanish with
# COMMAND's exit, whatever the exit, parallel invocations on one root do not
# touch each other's, and the host never sees them, so `rm -rf build` cannot
# walk into the host's /dev or the tree. Prefer `rm -rf --one-file-system
# build` all the same.
#
# DEBIAN_ROOT_PACKAGES="pkg ..." adds packages (apt-installed into an existing
# root when missing). DEBIAN_MIRROR overrides the mirror, which is otherwise the
# one the host's apt sources use. COMMAND sees the caller's environment, with
# PATH, HOME and PIP_CERT (the host's CA bundle) set for the root, and PYTHON,
# VIRTUAL_ENV, PYTHONHOME and PIP_FIND_LINKS unset (they name the host's files).
set -euo pipefail
(($# >= 2)) || { sed -n '2,22s/^# \{0,1\}//p' "$0" >&2; exit 2; }
suite=$1 arch=$2
shift 2
top=$(cd "$(dirname "$0")/.." && pwd -P)
name=$suite-$arch
root=$top/build/roots/$name
ready=$root/.kestrova-root-ready
cacert=/etc/ssl/certs/ca-certificates.crt
# The host's bundle again where no package rewrites it (ca-certificates, which
# apt may install into the root, regenerates the one above): pip's.
pipcert=/etc/ssl/host-ca-certificates.crt

# Keep one name a line.
case $name in
sid-amd64) packages=(
    python3.14 python3.14-dev python3.14-venv
    python3.15 python3.15-dev python3.15-venv python3.15-dbg
    g++ cmake ninja-build binutils
) ;;
bookworm-arm64) packages=(
    # python3-distutils provides python3.11-venv's python3.11-distutils, a virtual
    # package that debootstrap does not resolve
    python3.11 python3.11-dev python3.11-venv python3-distutils
) ;;
sid-arm64) packages=(
    python3.13 python3.13-dev python3.13-venv
    python3.14 python3.14-dev python3.14-venv
    python3.15 python3.15-dev python3.15-venv
) ;;
*) packages=() ;;
esac
read -r -a extra <<<"${DEBIAN_ROOT_PACKAGES:-}"
packages+=("${extra[@]}")

if ((EUID != 0)); then
    exec sudo --preserve-env "$0" "$suite" "$arch" "$@"
fi

log() { echo "debian-root: $*" >&2; }

host_install() {  # Debian package...
    local missing=() p
    for p; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    log "installing on the host: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# The first Debian archive among the host's apt sources (not the security one).
host_mirror() {
    local uri
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
        /etc/apt/sources.list.d/*.sources 2>/dev/null |
        sed -nE 's,^(URIs:|deb)[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+/debian)/?([[:space:]].*)?$,\3,p' |
        head -n 1)
    echo "${uri:-http://deb.debian.org/debian}"
}

# Runs its arguments inside the root in a mount namespace of their own.
in_root() {  # command...
    unshare --mount --propagation private -- /bin/sh -euc '
        root=$1 top=$2
        shift 2
        mount --bind /proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mkdir -p "$root$top"
        mount --bind "$top" "$root$top"
        exec chroot "$root" /bin/sh -c '\''cd "$0" && exec "$@"'\'' "$top" "$@"
    ' sh "$root" "$top" env -u PYTHON -u VIRTUAL_ENV -u PYTHONHOME -u PIP_FIND_LINKS \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root PIP_CERT="$pipcert" DEBIAN_FRONTEND=noninteractive "$@"
}

# What the root needs from the host, on every run since it may have changed;
# replaced whole, as a parallel run may be reading it.
refresh() {
    local file
    mkdir -p "$root${cacert%/*}"
    for file in /etc/resolv.conf /etc/hosts "$cacert" "$cacert:$pipcert"; do
        local to=$root${file#*:}
        file=${file%:*}
        cmp -s "$file" "$to" || { cp "$file" "$to.new" && mv "$to.new" "$to"; }
    done
}

mkdir -p "$top/build/roots"
host_arch=$(dpkg --print-architecture)
if [[ $arch != "$host_arch" ]]; then
    # Roots made side by side share the host's emulator setup (apt, the
    # binfmt_misc mount, the registration): one of them at a time.
    exec {setup}>"$top/build/roots/.emulator.lock"
    flock "$setup"
    host_install qemu-user-static binfmt-support
    case $arch in
    arm64)
        emulator=qemu-aarch64
        # Debian unstable's arm64 binaries sign their return addresses, and
        # qemu's default signing algorithm made its interpreters (and the
        # root's making) five times slower than bookworm's. The
        # implementation-defined one behaves the same and costs next to nothing.
        export QEMU_CPU=${QEMU_CPU:-max,pauth-impdef=on}
        ;;
    armhf | armel) emulator=qemu-arm ;;
    *) emulator=qemu-$arch ;;
    esac
    [[ -e /proc/sys/fs/binfmt_misc/register ]] ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [[ $(head -n 1 /proc/sys/fs/binfmt_misc/$emulator 2>/dev/null) == enabled ]] ||
        update-binfmts --enable "$emulator"
    [[ $(head -n 1 /proc/sys/fs/binfmt_misc/$emulator 2>/dev/null) == enabled ]] ||
        { log "cannot register $emulator with binfmt_misc"; exit 1; }
    exec {setup}>&-
fi

exec {lock}>"$root.lock"
flock "$lock"
if [[ ! -e $ready ]]; then
    host_install debootstrap
    if [[ -e $root ]]; then
        log "$root is half made; starting again"
        rm -rf --one-file-system "$root"
    fi
    mirror=${DEBIAN_MIRROR:-$(host_mirror)}
    include=$(
        IFS=,
        echo "${packages[*]}"
    )
    log "making $name from $mirror${include:+ with $include}"
    start=$SECONDS
    # debootstrap mounts /proc and /sys in the root; the namespace drops them
    # even when it dies half-way.
    unshare --mount --propagation private -- debootstrap --variant=minbase \
        --arch="$arch" ${include:+--include="$include"} "$suite" "$root" "$mirror" \
        >"$root.log" 2>&1 || {
        tail -n 20 "$root.log" >&2
        log "debootstrap failed; its log is $root.log"
        exit 1
    }
    # The suite's Release file may be past its validity date on a dated mirror.
    cat >"$root/etc/apt/apt.conf.d/90kestrova" <<'EOF'
Acquire::Check-Valid-Until "false";
APT::Install-Recommends "false";
EOF
    touch "$ready"
    log "made $name in $((SECONDS - start)) s"
fi
refresh
missing=()
for p in "${extra[@]}"; do
    [[ $(chroot "$root" dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] ||
        missing+=("$p")
done
if ((${#missing[@]})); then
    log "installing into $name: ${missing[*]}"
    in_root sh -c 'apt-get update -qq && apt-get install -y -qq "$@" >/dev/null' sh "${missing[@]}"
fi
exec {lock}>&-

(($#)) || exit 0
in_root "$@"
