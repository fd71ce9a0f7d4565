#!/usr/bin/env bash
# Builds everything and runs the whole test suite: on this machine, then
# against libftdi 1.x, then for the big-endian MIPS target under qemu-user,
# then the static analysers, the suite under sanitizers, a bounded fuzz run
# and the footprint check.
# Each step is a script of its own that also runs alone.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${HOST_PACKAGES[@]}"
BUILD=${BUILD:-$ROOT/build}
build_host "$BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j2
# The tool's suites again under libftdi 1.x, records compared with 0.x's.
BUILD_LIBFTDI1=${BUILD_LIBFTDI1:-$BUILD-libftdi1} "$ROOT/scripts/test-libftdi1.sh" "$BUILD"
# The same suite built for the big-endian MIPS target, run under qemu-user.
BUILD_MIPS=${BUILD_MIPS:-$BUILD-mips} "$ROOT/scripts/test-mips.sh" "$BUILD"
"$ROOT/scripts/analyze.sh"
"$ROOT/scripts/sanitize.sh"
"$ROOT/scripts/fuzz.sh" 60
"$ROOT/scripts/footprint.sh"
