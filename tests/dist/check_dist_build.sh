#!/bin/sh
# Builds the tool for the target as Buildroot's cmake-package and OpenWrt's
# cmake.mk do, and checks what that gives: tests off, the toolchain file,
# pkg-config pointed at a staging tree holding the target's libftdi, prefix
# /usr, make, then make install with DESTDIR; no network.
#   check_dist_build.sh SOURCE_DIR TOOLCHAIN_FILE STAGING_DIR WORK_DIR READELF
# WORK_DIR/build is the build tree, WORK_DIR/target the installed tree;
# both are kept (scripts/footprint.sh measures the binary there). The same
# tree installed without the udev rule goes to WORK_DIR/target-no-udev.
set -u
if [ $# -ne 5 ]; then
    echo "usage: $0 SOURCE_DIR TOOLCHAIN_FILE STAGING_DIR WORK_DIR READELF" >&2
    exit 2
fi
src=$1 toolchain=$2 staging=$3 work=$4 readelf=$5
build=$work/build target=$work/target
[ -f "$staging/usr/lib/pkgconfig/libftdi.pc" ] || {
    echo "FAIL: no libftdi.pc in $staging: stage the target's libraries first" >&2
    exit 1
}
rm -rf "$work"
mkdir -p "$build" "$target" "$work/source"
# The tool's part of the tree, as OpenWrt's package copies it: the build
# must need nothing from the simulator, tests, benchmarks or fuzzers.
for part in CMakeLists.txt cmake src man packaging; do
    cp -R "$src/$part" "$work/source/" || exit 1
done

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A distribution builds offline: here in a network namespace of its own
# (no interface but a downed loopback) where the kernel allows one.
isolate=
if unshare -rn true 2>/dev/null; then
    isolate="unshare -rn"
    echo "building without network (unshare -rn)" >&2
else
    echo "note: no network namespace available; building with the network present" >&2
fi

# One make job per core, as the distributions' builds pass it.
jobs=$(nproc 2>/dev/null || echo 1)
log=$work/build.log
(
    cd "$build" &&
        PKG_CONFIG_SYSROOT_DIR=$staging \
            PKG_CONFIG_LIBDIR=$staging/usr/lib/pkgconfig:$staging/usr/share/pkgconfig \
            $isolate cmake "$work/source" \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_INSTALL_PREFIX=/usr \
            -DCMAKE_BUILD_TYPE=MinSizeRel \
            -DCMAKE_COLOR_MAKEFILE=OFF \
            -DBUILD_TESTING=OFF &&
        $isolate make -j"$jobs" &&
        $isolate make DESTDIR="$target" install/fast
) >"$log" 2>&1 || {
    cat "$log" >&2
    echo "FAIL: distribution-style build" >&2
    exit 1
}

# --- staged tree: the binary, its man page, the udev rule, nothing else
found=$(cd "$target" && find . ! -type d | sort)
want="./usr/bin/tapline
./usr/lib/udev/rules.d/60-tapline.rules
./usr/share/man/man1/tapline.1"
[ "$found" = "$want" ] || fail "installed tree differs; expected:
$want
got:
$found"

# --- the binary: the target's architecture, libftdi and the C library
binary=$target/usr/bin/tapline
if [ -f "$binary" ]; then
    header=$("$readelf" -h "$binary")
    printf '%s\n' "$header" | grep -q 'Class: *ELF32' || fail "not a 32-bit ELF"
    printf '%s\n' "$header" | grep -q 'Data:.*big endian' || fail "not big-endian"
    printf '%s\n' "$header" | grep -q 'Machine: *MIPS' || fail "not a MIPS binary"
    dynamic=$("$readelf" -d "$binary")
    needed=$(printf '%s\n' "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort)
    others=$(printf '%s\n' "$needed" | grep -vxE 'libftdi\.so\.1|libc\.so\.[0-9]+')
    [ -z "$others" ] || fail "NEEDED beyond libftdi and the C library: $others"
    printf '%s\n' "$needed" | grep -qx 'libftdi.so.1' || fail "libftdi.so.1 is not NEEDED"
    printf '%s\n' "$needed" | grep -qE '^libc\.so\.' || fail "the C library is not NEEDED"
    ! printf '%s\n' "$dynamic" | grep -qE '\((RPATH|RUNPATH)\)' ||
        fail "the installed binary carries a run path"
fi

# --- without udev (Buildroot with mdev, OpenWrt) the rule stays out
no_udev=$work/target-no-udev
if (cd "$build" && PKG_CONFIG_SYSROOT_DIR=$staging \
    PKG_CONFIG_LIBDIR=$staging/usr/lib/pkgconfig:$staging/usr/share/pkgconfig \
    $isolate cmake -DTAPLINE_INSTALL_UDEV_RULE=OFF . &&
    $isolate make DESTDIR="$no_udev" install/fast) >"$work/no-udev.log" 2>&1; then
    found=$(cd "$no_udev" && find . ! -type d | sort)
    [ "$found" = "./usr/bin/tapline
./usr/share/man/man1/tapline.1" ] || fail "TAPLINE_INSTALL_UDEV_RULE=OFF installed: $found"
else
    cat "$work/no-udev.log" >&2
    fail "install with TAPLINE_INSTALL_UDEV_RULE=OFF"
fi

# --- only the tool was built: no simulator, tests, GoogleTest, downloads
grep -q '^BUILD_TESTING:BOOL=OFF$' "$build/CMakeCache.txt" || fail "BUILD_TESTING is not OFF"
built=$(sed -n 's/^\[ *[0-9]*%\] Built target \(.*\)$/\1/p' "$log" | sort -u | tr '\n' ' ')
[ "$built" = "tapline tapline_core " ] || fail "targets built beyond the tool: $built"
for dir in sim tests bench googletest _deps; do
    [ ! -e "$build/$dir" ] || fail "$dir/ in the build tree"
done
stray=$(find "$build" -name '*-download' -o -name '*-subbuild' -o -name '*.tar.*')
[ -z "$stray" ] || fail "something was fetched: $stray"
# -Werror is the project's own builds' choice, not a user's.
if grep -rqs -- '-Werror' "$build/src/CMakeFiles"; then
    fail "-Werror in the compile flags"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures distribution build check(s) failed" >&2
    exit 1
fi
echo "distribution build checks passed: $(printf '%s\n' "$needed" | tr '\n' ' ')in $target"
