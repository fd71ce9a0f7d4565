#!/usr/bin/env bash
# Builds the release tapline for the MIPS host as a distribution does
# (tests/dist/check_dist_build.sh: tests off, against a staging tree with
# the real libftdi 0.20, installed with DESTDIR), once on glibc (Debian's
# cross toolchain) and once on uClibc-ng, the target's C library
# (scripts/uclibc-sysroot.sh), and prints and checks each binary's
# footprint: stripped size under 64 KiB and no C++ runtime among its
# dynamic dependencies. The uClibc-ng binary then runs under qemu-mips in
# its root and must answer as the tool does without an adapter.
#   scripts/footprint.sh [BUILD_DIR]   (default: build-footprint)
# Kept in BUILD_DIR: glibc/tapline and uclibc/tapline (stripped), and the
# uClibc-ng root they run in, uclibc/sysroot.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
limit=65536

ROOT=$root
. "$root/scripts/deps.sh"
ensure_packages cmake make pkg-config g++-mips-linux-gnu dpkg-dev libusb-dev qemu-user

build=${1:-$root/build-footprint}
mkdir -p "$build"
build=$(cd "$build" && pwd)

status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}
# timed NAME COMMAND...: runs a part and records its wall time.
times=()
timed() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    times+=("$name $((SECONDS - start)) s")
}

# dist_build LIBC TOOLCHAIN STAGING: the distribution-style build of LIBC,
# stripped to BUILD_DIR/LIBC/tapline.
dist_build() {
    local libc=$1 toolchain=$2 staging=$3
    sh "$root/tests/dist/check_dist_build.sh" "$root" "$toolchain" \
        "$staging" "$build/$libc/dist" mips-linux-gnu-readelf >&2
    # The installed binary carries no build-tree run path.
    mips-linux-gnu-strip -o "$build/$libc/tapline" "$build/$libc/dist/target/usr/bin/tapline"
}

glibc() {
    mkdir -p "$build/glibc"
    "$root/scripts/target-staging.sh" "$build/glibc/target-libs" "$build/glibc/staging" real >&2
    dist_build glibc "$root/cmake/mips-linux-gnu.cmake" "$build/glibc/staging"
}

uclibc() {
    local cached
    cached=$("$root/scripts/uclibc-sysroot.sh")
    rm -rf "$build/uclibc"
    mkdir -p "$build/uclibc"
    cp -a "$cached" "$build/uclibc/sysroot"
    dist_build uclibc "$root/cmake/mips-uclibc.cmake" "$build/uclibc/sysroot"
}

# measure LIBC LIBC_SO LOADER: prints the stripped binary's figures and
# checks its limits, its C library and its loader.
measure() {
    local libc=$1 libc_so=$2 loader=$3 binary=$build/$1/tapline size needed header
    size=$(stat -c %s "$binary")
    needed=$(mips-linux-gnu-readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
    header=$(mips-linux-gnu-readelf -h "$binary")
    echo "$libc: $(sed -n 's/^ *Class: *//p' <<<"$header"), $(sed -n 's/^ *Data: *2.s complement, //p' <<<"$header"), stripped $size bytes (limit $limit), NEEDED $(echo $needed)"
    grep -q 'ELF32' <<<"$header" && grep -q 'big endian' <<<"$header" ||
        fail "$libc: not a 32-bit big-endian binary"
    [ "$size" -lt "$limit" ] || fail "$libc: stripped size $size >= $limit"
    ! grep -q '^libstdc++' <<<"$needed" || fail "$libc: libstdc++ is a dynamic dependency"
    # A 64-bit division or an unwinder would bring it in on the 32-bit target.
    ! grep -q '^libgcc_s' <<<"$needed" || fail "$libc: libgcc_s is a dynamic dependency"
    grep -qx 'libftdi.so.1' <<<"$needed" || fail "$libc: libftdi.so.1 is not a dynamic dependency"
    grep -qx "$libc_so" <<<"$needed" || fail "$libc: $libc_so is not a dynamic dependency"
    mips-linux-gnu-readelf -l "$binary" | grep -qF "[Requesting program interpreter: $loader]" ||
        fail "$libc: the program interpreter is not $loader"
}

# expect STATUS TEXT ARGS...: runs the uClibc-ng binary under qemu-mips in
# its root, as ./tapline; it must exit STATUS and print TEXT as a line.
expect() {
    local want=$1 text=$2 out rc=0
    shift 2
    out=$(cd "$build/uclibc" && qemu-mips -L sysroot ./tapline "$@" 2>&1) || rc=$?
    [ "$rc" -eq "$want" ] || fail "uclibc: tapline $* exited $rc, not $want: $out"
    grep -qxF -- "$text" <<<"$out" || fail "uclibc: tapline $* did not print '$text': $out"
}

runs() {
    local version
    version=$(sed -n 's/^project(tapline VERSION \([^ ]*\) .*/\1/p' "$root/CMakeLists.txt")
    expect 0 "tapline $version" --version
    expect 0 "Usage: tapline [-d N] [-s SERIAL] COMMAND [FILE]" --help
    expect 1 "./tapline [idcode/reset/load <bitstream.bit>] "
    expect 1 "Can't open device 2a5e:0c41" idcode
}

timed "glibc build" glibc
timed "uClibc-ng root and build" uclibc
echo "compiler: $(mips-linux-gnu-g++ --version | head -n 1)"
echo "uClibc-ng: $(dpkg-query -W -f='${Version}' uclibc-source) (uclibc-source), root $build/uclibc/sysroot"
measure glibc libc.so.6 /lib/ld.so.1
measure uclibc libc.so.0 /lib/ld-uClibc.so.0
timed "uClibc-ng runs under qemu-mips" runs
[ $status -ne 0 ] || echo "uclibc: --version, --help, no arguments and idcode without an adapter answer as expected under qemu-mips"
printf 'time: %s\n' "${times[@]}"
exit $status
