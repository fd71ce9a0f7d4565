#!/usr/bin/env bash
# Runs tapline's commands against the simulated adapter: the tool binary is
# the real one, linked to the system libftdi; the simulator is preloaded
# under it in place of libusb.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${HOST_PACKAGES[@]}" gzip
BUILD=${BUILD:-$ROOT/build}
build_host "$BUILD" >/dev/null

TOOL=$BUILD/src/tapline
SIM=$BUILD/sim/libtapsim.so
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# run [VAR=value ...] WORD [ARG]: one tapline run; variables set the bench.
run() {
    local vars=()
    while [[ "${1:-}" == TAPSIM_*=* ]]; do vars+=("$1"); shift; done
    echo "\$ ${vars[*]:+${vars[*]} }tapline $*"
    env LD_PRELOAD="$SIM" TAPSIM_RECORD="$WORK/record" TAPSIM_KEEP_CONFIG=0 "${vars[@]}" \
        "$TOOL" "$@" || echo "(exit status $?)"
}

# The same without the bit file header lines, messages in order.
run_no_header() {
    run "$@" 2>&1 | grep -v -e '^Bitstream information:' -e $'^\t' || true
}

run --version
run idcode
# The bench's board is a Spartan-3E: two user registers, no third or fourth.
for n in 1 2 3 4; do run "user$n"; done
run reset
"$BUILD/tests/make_bitfile" "$WORK/design.bit" 262144
run load "$WORK/design.bit"
echo "Simulated FPGA after the load (instructions loaded, configuration received):"
grep -E '^(instruction|config) ' "$WORK/record" || true
echo "The same bit file compressed, loaded from standard input:"
gzip -c "$WORK/design.bit" >"$WORK/design.bit.gz"
echo "\$ zcat design.bit.gz | tapline load -"
zcat "$WORK/design.bit.gz" |
    env LD_PRELOAD="$SIM" TAPSIM_RECORD="$WORK/record" TAPSIM_KEEP_CONFIG=0 \
        "$TOOL" load - || echo "(exit status $?)"
grep -E '^config ' "$WORK/record" || true
"$BUILD/tests/make_bitfile" "$WORK/mirrored.bit" 262144 --mirrored
echo "The same file with every byte stored bit-mirrored holds no ID code in any"
echo "family's packets: refused before anything is cleared, the design runs on:"
run load "$WORK/mirrored.bit" | grep -v -e '^Bitstream information:' -e $'^\t' || true
grep -E '^config ' "$WORK/record" || true
echo
echo "A 7-series board on a high-speed adapter: the load detects the chain, checks"
echo "the FPGA's ID code against the one the bitstream writes, waits for it to clear"
echo "(INIT) and ends with DONE confirmed; a file for another part is refused before"
echo "anything is cleared:"
"$BUILD/tests/make_bitfile" "$WORK/a35t.bit" 262144 --family=7
"$BUILD/tests/make_bitfile" "$WORK/a100t.bit" 262144 --family=7 --idcode=0x03631093 --part=7a100tcsg324
run TAPSIM_VARIANT=hs TAPSIM_IDCODE=0x0362D093 load "$WORK/a35t.bit"
grep -E '^(time|config) ' "$WORK/record" | sed 's/ hash=[^ ]*//' || true
echo "Polls of INIT after JPROGRAM: $(grep -c '^mpsse opcode=0x3b operands=04 .*out_data=05' "$WORK/record" || true)"
run TAPSIM_VARIANT=hs TAPSIM_IDCODE=0x0362D093 load "$WORK/a100t.bit"
grep -E '^(config) ' "$WORK/record" | sed 's/ hash=[^ ]*//' || true
echo
echo "Failures: an unpowered target, no adapter, a file that is not a bit file:"
run TAPSIM_POWER=0 idcode
run TAPSIM_ADAPTER=0 idcode
run load "$ROOT/README.md"
echo
echo "status names the FPGA, reads DONE, INIT and its status register, and says"
echo "why it is not configured (exit status 2). With TAPSIM_STATE the bench keeps"
echo "the board in a file between runs, as a powered board keeps its FPGA between"
echo "two commands: the first run finds no file and takes the board the variables"
echo "describe (an XC7A35T that powered up blank); every later one finds the board"
echo "the one before left. A status, the load (its header left out), a status:"
export TAPSIM_STATE="$WORK/board.state"
run TAPSIM_CONFIGURED=0 TAPSIM_IDCODE=0x0362D093 status
run_no_header load "$WORK/a35t.bit"
run status
echo
echo "A load cut short by a fault (the adapter fails a write in the middle of the"
echo "bitstream); the load clears the FPGA it cut, and the next status finds it so:"
run_no_header TAPSIM_ERROR_WRITE=34 load "$WORK/a35t.bit"
run status
echo
echo "user1 reads the loaded design's register; reset clears the FPGA, and user1"
echo "in the next command finds no user registers:"
run_no_header load "$WORK/a35t.bit"
run user1
run reset
run user1
unset TAPSIM_STATE
echo
echo "A load whose bitstream has one bit flipped, and one whose start-up waits"
echo "for a clock that never locks, end with the cause the FPGA reports:"
"$BUILD/tests/make_bitfile" "$WORK/flipped.bit" 262144 --family=7 --flip 800000
run_no_header TAPSIM_IDCODE=0x0362D093 load "$WORK/flipped.bit"
run_no_header TAPSIM_IDCODE=0x0362D093 TAPSIM_STARTUP_CLOCKS=5000 load "$WORK/a35t.bit"
echo
echo "Boards as they come. A Zynq-7000: the ARM debug port sits before the"
echo "programmable logic on one chain. detect lists the chain, nearest TDI first;"
echo "the load picks the device whose ID code the bitstream writes, and the debug"
echo "port gets nothing but BYPASS and IDCODE:"
"$BUILD/tests/make_bitfile" "$WORK/z020.bit" 262144 --family=7 --idcode=0x03727093 --part=7z020clg484
ZYNQ=(TAPSIM_CHAIN=4ba00477:4,fpga TAPSIM_IDCODE=0x03727093)
run "${ZYNQ[@]}" detect
run_no_header "${ZYNQ[@]}" load "$WORK/z020.bit"
grep -E '^(instruction|config) ' "$WORK/record" | sed 's/ hash=[^ ]*//' | sort | uniq -c || true
run "${ZYNQ[@]}" status
echo "A board with a Platform Flash PROM beside the FPGA, nearest TDO:"
run TAPSIM_CHAIN=fpga,05046093:8 detect
run TAPSIM_CHAIN=fpga,05046093:8 idcode
echo "Two FPGAs of one part: tapline will not guess; --device names the position"
echo "detect prints:"
run TAPSIM_CHAIN=fpga,0362d093:6 TAPSIM_IDCODE=0x0362D093 idcode
run TAPSIM_CHAIN=fpga,0362d093:6 TAPSIM_IDCODE=0x0362D093 --device 1 status
