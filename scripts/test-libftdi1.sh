#!/usr/bin/env bash
# Builds the tool and its test suite against libftdi 1.x (Debian's
# libftdi1, over the simulator's libusb-1.0 front) and runs the suite
# through CTest: the in-process tool tests and the whole-program tests,
# fault cases included.
#   scripts/test-libftdi1.sh [HOST_BUILD_DIR]
# BUILD_LIBFTDI1 names the build tree (default: build-libftdi1). Given the
# host build tree under libftdi 0.x, both libraries must also leave the
# same records for the same runs, apart from what they do differently.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${HOST_PACKAGES[@]}" "${LIBFTDI1_PACKAGES[@]}"

BUILD_LIBFTDI1=${BUILD_LIBFTDI1:-$ROOT/build-libftdi1}
host_build=()
if [ $# -ge 1 ]; then
    host_build=(-DTAPLINE_HOST_BUILD_DIR="$(cd "$1" && pwd)")
fi

cmake -S "$ROOT" -B "$BUILD_LIBFTDI1" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAPLINE_LIBFTDI=1 "${host_build[@]}" >/dev/null
cmake --build "$BUILD_LIBFTDI1" -j2
ctest --test-dir "$BUILD_LIBFTDI1" --output-on-failure -j2
