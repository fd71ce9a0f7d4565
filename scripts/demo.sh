#!/usr/bin/env bash
# Runs tapline's commands against the simulated adapter: the tool binary is
# the real one, linked to the system libftdi; the simulator is preloaded
# under it in place of libusb.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${HOST_PACKAGES[@]}"
BUILD=${BUILD:-$ROOT/build}
build_host "$BUILD" >/dev/null

TOOL=$BUILD/src/tapline
SIM=$BUILD/sim/libtapsim.so
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

run() {
    echo "\$ tapline $*"
    env LD_PRELOAD="$SIM" TAPSIM_RECORD="$WORK/record" "$TOOL" "$@" || echo "(exit status $?)"
}

run idcode
for n in 1 2 3 4; do run "user$n"; done
run reset
"$BUILD/tests/make_bitfile" "$WORK/design.bit" 262144
run load "$WORK/design.bit"
echo "Simulated FPGA after the load:"
grep -E '^(done|config_bits|instruction) ' "$WORK/record" || true
