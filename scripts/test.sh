#!/usr/bin/env bash
# Builds everything and runs the whole test suite: on this machine, then
# against libftdi 1.x, then for the big-endian MIPS target under qemu-user
# (with the distribution-style build), then the static analysers, the suite
# under sanitizers, a bounded fuzz run and the footprint check. Each step is
# a script of its own that also runs alone; each reports how long it took.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"

# step NAME COMMAND...: runs one part and prints its wall time.
step() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}

host_suite() {
    ensure_packages "${HOST_PACKAGES[@]}"
    build_host "$BUILD"
    ctest --test-dir "$BUILD" --output-on-failure -j2
}

BUILD=${BUILD:-$ROOT/build}
step "host suite" host_suite
# The tool's suites again under libftdi 1.x, records compared with 0.x's.
step "libftdi 1.x suite" env BUILD_LIBFTDI1="${BUILD_LIBFTDI1:-$BUILD-libftdi1}" \
    "$ROOT/scripts/test-libftdi1.sh" "$BUILD"
# The same suite built for the big-endian MIPS target, run under qemu-user.
step "big-endian suite" env BUILD_MIPS="${BUILD_MIPS:-$BUILD-mips}" \
    "$ROOT/scripts/test-mips.sh" "$BUILD"
# The field's own tools, unmodified, against the bench.
step "field tools" "$ROOT/scripts/test-peers.sh" "$BUILD"
step "static analysis" "$ROOT/scripts/analyze.sh"
step "sanitizers" "$ROOT/scripts/sanitize.sh"
step "fuzzing" "$ROOT/scripts/fuzz.sh" 60
step "footprint" "$ROOT/scripts/footprint.sh"
