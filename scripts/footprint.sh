#!/usr/bin/env bash
# Builds the release tapline for the MIPS host as a distribution does
# (tests/dist/check_dist_build.sh: tests off, against a staging tree with
# the real libftdi 0.20, installed with DESTDIR), and prints and checks the
# installed binary's footprint: stripped size under 64 KiB and no C++
# runtime among its dynamic dependencies.
#   scripts/footprint.sh [BUILD_DIR]   (default: a fresh temporary directory)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
limit=65536

ROOT=$root
. "$root/scripts/deps.sh"
ensure_packages cmake make pkg-config g++-mips-linux-gnu dpkg-dev libusb-dev

if [ $# -ge 1 ]; then
    mkdir -p "$1"
    build=$(cd "$1" && pwd)
else
    build=$(mktemp -d "${TMPDIR:-/tmp}/tapline-footprint.XXXXXX")
    trap 'rm -rf "$build"' EXIT
fi

"$root/scripts/target-staging.sh" "$build/target-libs" "$build/staging" >/dev/null
# -Os (MinSizeRel): flash is what is scarce on the target, and the tool
# spends its time waiting on USB, not computing.
sh "$root/tests/dist/check_dist_build.sh" "$root" "$root/cmake/mips-linux-gnu.cmake" \
    "$build/staging" "$build/dist" mips-linux-gnu-readelf

# The installed binary carries no build-tree run path.
binary="$build/dist/target/usr/bin/tapline"
stripped="$build/tapline.stripped"
mips-linux-gnu-strip -o "$stripped" "$binary"
size=$(stat -c %s "$stripped")
needed=$(mips-linux-gnu-readelf -d "$stripped" |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
header=$(mips-linux-gnu-readelf -h "$stripped")

echo "compiler: $(mips-linux-gnu-g++ --version | head -n 1)"
echo "binary:   $(sed -n 's/^ *Class: *//p' <<<"$header"), $(sed -n 's/^ *Data: *2.s complement, //p' <<<"$header")"
echo "stripped: $size bytes (limit $limit)"
echo "NEEDED:   $(echo $needed)"

status=0
if ! grep -q 'ELF32' <<<"$header" || ! grep -q 'big endian' <<<"$header"; then
    echo "FAIL: not a 32-bit big-endian binary" >&2
    status=1
fi
if [ "$size" -ge "$limit" ]; then
    echo "FAIL: stripped size $size >= $limit" >&2
    status=1
fi
if grep -q '^libstdc++' <<<"$needed"; then
    echo "FAIL: libstdc++ is a dynamic dependency" >&2
    status=1
fi
# A 64-bit division or an unwinder would bring it in on the 32-bit target.
if grep -q '^libgcc_s' <<<"$needed"; then
    echo "FAIL: libgcc_s is a dynamic dependency" >&2
    status=1
fi
if ! grep -qx 'libftdi.so.1' <<<"$needed"; then
    echo "FAIL: libftdi.so.1 is not a dynamic dependency" >&2
    status=1
fi
exit $status
