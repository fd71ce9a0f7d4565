#!/usr/bin/env bash
# Cross-builds the tool, the simulated adapter and the test suite for the
# 32-bit big-endian MIPS host and runs the suite under qemu-user through
# CTest (see docs/big-endian.md).
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

cmake -S "$ROOT" -B "$BUILD_MIPS" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mips-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${host_build[@]}" >/dev/null
cmake --build "$BUILD_MIPS" -j2
ctest --test-dir "$BUILD_MIPS" --output-on-failure -j2
