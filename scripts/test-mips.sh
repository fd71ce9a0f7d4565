#!/usr/bin/env bash
# Cross-builds the tool, the simulated adapter and the test suite for the
# 32-bit big-endian MIPS host, over the real libftdi 0.20 built for it from
# Debian's sources, and runs the suite under qemu-user through CTest (see
# docs/big-endian.md).
#   scripts/test-mips.sh [HOST_BUILD_DIR]
# BUILD_MIPS names the cross build tree (default: build-mips). Given a host
# build tree of the same sources, target and host runs of the tool must
# also leave identical simulator records.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${CROSS_PACKAGES[@]}"

BUILD_MIPS=${BUILD_MIPS:-$ROOT/build-mips}
host_build=()
if [ $# -ge 1 ]; then
    host_build=(-DTAPLINE_HOST_BUILD_DIR="$(cd "$1" && pwd)")
fi

# The target's libftdi and the simulator's libusb front under it, staged
# as a distribution's staging tree holds them; the build finds libftdi
# there through pkg-config.
staging=$BUILD_MIPS/staging
"$ROOT/scripts/target-staging.sh" "$BUILD_MIPS/target-libs" "$staging"
export PKG_CONFIG_SYSROOT_DIR=$staging
export PKG_CONFIG_LIBDIR=$staging/usr/lib/pkgconfig
# The distribution-style build links against what a distribution stages:
# the real libusb, not the simulator, which also stands in for the C
# library's clocks and would be linked for them.
dist_staging=$BUILD_MIPS/staging-dist
"$ROOT/scripts/target-staging.sh" "$BUILD_MIPS/target-libs-dist" "$dist_staging" real

cmake -S "$ROOT" -B "$BUILD_MIPS" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mips-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPLINE_WERROR=ON \
    -DTAPLINE_TARGET_STAGING_DIR="$dist_staging" \
    "${host_build[@]}" >/dev/null
cmake --build "$BUILD_MIPS" -j2
ctest --test-dir "$BUILD_MIPS" --output-on-failure -j2
