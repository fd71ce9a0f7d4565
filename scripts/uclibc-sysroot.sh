#!/usr/bin/env bash
# Builds the uClibc-ng root of the 32-bit big-endian MIPS host and prints
# its path: uClibc-ng from Debian's uclibc-source with the kernel headers
# of linux-libc-dev-mips-cross (configured by cross/uclibc-ng.config), then
# the real libusb 0.1.12 and libftdi 0.20 from Debian's source packages
# built against it (cross/ with LIBUSB_SOURCE_DIR). The root holds the
# loader /lib/ld-uClibc.so.0, the libraries, headers and pkg-config files:
# it is the staging tree a build finds the target's libraries in
# (cmake/mips-uclibc.cmake) and the root the tool runs in under qemu-mips.
#   scripts/uclibc-sysroot.sh [CACHE_DIR]   (default: ~/.cache/tapline)
# Kept in CACHE_DIR in two steps, each keyed by the packages' versions and
# the hash of what builds it: the C library alone (the long part), and the
# root with the libraries, made from a copy of it. A key not seen yet
# builds that step afresh.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
# build-essential: uClibc-ng's configuration tool is built for this host.
ensure_packages build-essential make cmake xz-utils uclibc-source dpkg-dev \
    gcc-mips-linux-gnu g++-mips-linux-gnu linux-libc-dev-mips-cross
CACHE=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/tapline}
mkdir -p "$CACHE"
CACHE=$(cd "$CACHE" && pwd)

tarball=$(ls /usr/src/uClibc-ng-*.tar.xz 2>/dev/null | sort -V | tail -n 1)
[ -n "$tarball" ] || { echo "FAIL: no uClibc-ng tarball in /usr/src (uclibc-source)" >&2; exit 1; }
libftdi_src=$("$ROOT/scripts/fetch-libftdi.sh" "$CACHE")
libusb_src=$("$ROOT/scripts/fetch-source.sh" libusb usb.h.in "$CACHE")

# build_libc DIR: uClibc-ng, the kernel headers and libstdc++'s
# configuration for it in DIR/root.
build_libc() {
    local work=$1 root=$1/root dir src fragment line file cxxconfig
    mkdir -p "$root/usr/include"
    # Kernel headers: the folders linux-libc-dev-mips-cross installs beside
    # glibc's headers, and nothing of glibc.
    while read -r dir; do
        cp -a "$dir" "$root/usr/include/"
    done < <(dpkg -L linux-libc-dev-mips-cross | grep -E '^/usr/mips-linux-gnu/include/[^/]+$')

    # The MIPS defconfig, the fragment on top, then every line of the
    # fragment must have survived the configuration tool's dependencies.
    tar -xf "$tarball" -C "$work"
    src=$work/$base
    fragment=$work/fragment.config
    sed "s|@KERNEL_HEADERS@|$root/usr/include|" "$ROOT/cross/uclibc-ng.config" |
        grep -E '^[A-Z0-9_]+=|^# [A-Z0-9_]+ is not set$' >"$fragment"
    (
        cd "$src"
        make ARCH=mips defconfig
        cat "$fragment" >>.config
        # yes ends on SIGPIPE when the tool is done asking.
        { yes '' || true; } | make ARCH=mips oldconfig
    ) >"$work/config.log" 2>&1 || { cat "$work/config.log" >&2; return 1; }
    while read -r line; do
        grep -qxF "$line" "$src/.config" || { echo "FAIL: uClibc-ng's .config lost: $line" >&2; return 1; }
    done <"$fragment"
    # The libraries and start files only: no utilities, no tests.
    (make -C "$src" -j2 && make -C "$src" PREFIX="$root" install) >"$work/build.log" 2>&1 ||
        { tail -n 40 "$work/build.log" >&2; echo "FAIL: uClibc-ng build" >&2; return 1; }
    for file in lib/ld-uClibc.so.0 lib/libc.so.0 usr/lib/crt1.o usr/lib/libc.so; do
        [ -e "$root/$file" ] || { echo "FAIL: uClibc-ng installed no $file" >&2; return 1; }
    done
    rm -rf "$src"

    # libstdc++'s headers are Debian's, configured for glibc: what they take
    # from the C library and uClibc-ng lacks is switched off in a copy of
    # their configuration header, which cmake/mips-uclibc.cmake puts first.
    cxxconfig=$(mips-linux-gnu-g++ -xc++ -E -H - <<<'#include <bits/c++config.h>' 2>&1 >/dev/null |
        sed -n 's/^\. //p' | head -n 1)
    [ -f "$cxxconfig" ] || { echo "FAIL: no bits/c++config.h for mips-linux-gnu-g++" >&2; return 1; }
    mkdir -p "$root/usr/include/c++-uclibc-ng/bits"
    sed -E 's/^#define (_GLIBCXX_HAVE_(AT_QUICK_EXIT|QUICK_EXIT|TIMESPEC_GET)) 1$/#undef \1/' \
        "$cxxconfig" >"$root/usr/include/c++-uclibc-ng/bits/c++config.h"
}

# build_libs LIBC_ROOT DIR: a copy of LIBC_ROOT in DIR/root with libusb and
# libftdi built against it and installed into it.
build_libs() {
    local work=$2 root=$2/root
    cp -a "$1" "$root"
    (
        export PKG_CONFIG_SYSROOT_DIR=$root
        cmake -S "$ROOT/cross" -B "$work/libs" \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mips-uclibc.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX=/usr \
            -DLIBFTDI_SOURCE_DIR="$libftdi_src" -DLIBUSB_SOURCE_DIR="$libusb_src" &&
            cmake --build "$work/libs" -j2 &&
            DESTDIR=$root cmake --install "$work/libs"
    ) >"$work/libs.log" 2>&1 ||
        { tail -n 40 "$work/libs.log" >&2; echo "FAIL: libusb and libftdi for uClibc-ng" >&2; return 1; }
    rm -rf "$work/libs"
}

# cached PREFIX KEY FUNCTION ARGS...: sets cached_root to PREFIX-KEY/root,
# made by FUNCTION ARGS... PREFIX-KEY unless an earlier run finished it;
# other keys of PREFIX are stale and go. Called plainly, not in $(...), so
# that any failure inside ends the script.
cached() {
    local prefix=$1 dir=$1-$2 make=$3
    shift 3
    if [ ! -f "$dir/done" ]; then
        rm -rf "$prefix"-*
        mkdir -p "$dir"
        echo "building $dir" >&2
        "$make" "$@" "$dir"
        touch "$dir/done"
    fi
    cached_root=$dir/root
}

base=$(basename "$tarball" .tar.xz)
libc_key=$({
    dpkg-query -W -f='${Package} ${Version}\n' uclibc-source linux-libc-dev-mips-cross \
        gcc-mips-linux-gnu g++-mips-linux-gnu
    sha256sum "$tarball" "$ROOT/cross/uclibc-ng.config" | cut -d' ' -f1
    declare -f build_libc
} | sha256sum | cut -c1-16)
root_key=$({
    echo "$libc_key"
    dpkg-query -W -f='${Package} ${Version}\n' cmake
    basename "$libftdi_src"
    basename "$libusb_src"
    sha256sum "$ROOT/cross/CMakeLists.txt" "$ROOT/cross/libusb.cmake" \
        "$ROOT/cmake/mips-linux-gnu.cmake" "$ROOT/cmake/mips-uclibc.cmake" | cut -d' ' -f1
    declare -f build_libs
} | sha256sum | cut -c1-16)

cached "$CACHE/$base" "$libc_key" build_libc
cached "$CACHE/uclibc-ng-root" "$root_key" build_libs "$cached_root"
echo "$cached_root"
