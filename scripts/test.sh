#!/usr/bin/env bash
# Builds everything and runs the whole test suite, on the build machine
# and then for the MIPS target under qemu-user (scripts/test-mips.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${HOST_PACKAGES[@]}"
BUILD=${BUILD:-$ROOT/build}
build_host "$BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j2
# The same suite built for the big-endian MIPS target, run under qemu-user.
BUILD_MIPS=${BUILD_MIPS:-$BUILD-mips} "$ROOT/scripts/test-mips.sh" "$BUILD"
