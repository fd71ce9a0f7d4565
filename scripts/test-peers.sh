#!/usr/bin/env bash
# The field's own JTAG tools as fidelity checks of the simulated bench:
# OpenOCD, openFPGALoader, xc3sprog and UrJTAG, from Debian's packages,
# unmodified (no shim, no wrapper library), each run as a black box with the
# simulator preloaded. One row per (tool, action, family, chip, bench, what
# the bench must show); a row says what the bench shows, never how the tool
# got there. Where real hardware accepts a load, the bench must too; where
# silicon refuses, so must the bench.
#   scripts/test-peers.sh [HOST_BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
. "$ROOT/scripts/peer-tools.sh"
ensure_packages "${HOST_PACKAGES[@]}" "${LIBFTDI1_PACKAGES[@]}" "${FIELD_TOOL_PACKAGES[@]}"

BUILD=${1:-${BUILD:-$ROOT/build}}
mkdir -p "$BUILD" && BUILD=$(cd "$BUILD" && pwd)
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPLINE_WERROR=ON >/dev/null
cmake --build "$BUILD" -j2 --target tapline tapsim_preload tapsim_preload1 make_bitfile >/dev/null
export PEER_SIM0=$BUILD/sim/libtapsim.so PEER_SIM1=$BUILD/sim/libtapsim1.so
export PEER_TAPLINE=$BUILD/src/tapline
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# Bit files of the parts' real sizes: family, ID code, bitstream bytes.
declare -A FAMILY_ID=([3e]=0x01C22093 [3a]=0x02218093 [6]=0x04001093 [7]=0x0362D093)
declare -A FAMILY_SIZE=([3e]=283776 [3a]=149516 [6]=340604 [7]=2192012)
declare -A FAMILY_PART=([3e]=3s500efg320 [3a]=3s200aft256 [6]=6slx9tqg144 [7]=7a35tcpg236)
for f in "${!FAMILY_ID[@]}"; do
    "$BUILD/tests/make_bitfile" "$f.bit" "${FAMILY_SIZE[$f]}" --family="$f" \
        --idcode="${FAMILY_ID[$f]}" --part="${FAMILY_PART[$f]}"
done
# UltraScale parts at a fraction of their real sizes (tens of megabytes):
# a KU040, and a VU9P whose master forwards its two slave SLRs' streams.
FAMILY_ID+=([us]=0x03822093 [vu9p]=0x04B31093)
"$BUILD/tests/make_bitfile" us.bit 400000 --family=us
"$BUILD/tests/make_bitfile" vu9p.bit 200000 --stacked
# A stream for the XC7A100T, loaded into the XC7A35T.
"$BUILD/tests/make_bitfile" other7.bit "${FAMILY_SIZE[7]}" --family=7 \
    --idcode=0x03631093 --part=7a100tcsg324
# The XC7Z020's programmable logic, for the Zynq-7000 chain (32,364,512 bits).
FAMILY_ID[z]=0x03727093
"$BUILD/tests/make_bitfile" z.bit 4045564 --family=7 --idcode=0x03727093 --part=7z020clg484

# Boards' chains, nearest TDI first: the chain and the FPGA it holds.
declare -A CHAIN=([zynq]="4ba00477:4,fpga" [prom]="fpga,05046093:8" [two]="fpga,0362d093:6")

# ids KIND FILE: the ID codes a tool printed, nearest TDI first, without
# the revision nibble. tapline, openFPGALoader and xc3sprog number from 0
# nearest TDI; OpenOCD declares and reports its taps nearest TDO first.
ids() {
    case "$1" in
    tapline) awk '$2 == "ID" && $3 == "code" { sub(",", "", $4); print "0x" $4 }
                  $2 == "no" { print "none" }' "$2" ;;
    openfpgaloader) awk '$1 == "idcode" { print $2 }' "$2" ;;
    xc3sprog) awk '{ for (i = 1; i < NF; i++) if ($i == "IDCODE:") print $(i + 1) }' "$2" ;;
    openocd) sed -n 's/.*tap\/device found: \(0x[0-9a-fA-F]*\).*/\1/p' "$2" | tac ;;
    esac | while read -r id; do
        if [ "$id" = none ]; then echo none; else printf '%07x\n' $((id & 0x0FFFFFFF)); fi
    done
}

# instructions RECORD N: the names of the instructions device N was given.
instructions() {
    awk -v dev="device=$2" '$1 == "instruction" && $2 == dev { for (i = 3; i <= NF; i++) if ($i ~ /^name=/) print substr($i, 6) }' "$1"
}

# config_field RECORD N KEY: KEY on device N's config line.
config_field() {
    awk -v dev="device=$2" -v key="$3" '
        $1 == "config" && $2 == dev { for (i = 3; i <= NF; i++) { n = index($i, "="); if (substr($i, 1, n - 1) == key) { print substr($i, n + 1); exit } } }' "$1"
}

# expect KIND RECORD: does the bench show KIND?
#   idcode      the ID code register was shifted out whole
#   configured  DONE high, no configuration error
#   race        the sync word was lost while the device cleared: no DONE
#   id-error    the device refused a stream for another part
#   same-ids    the tool listed the chain's ID codes as tapline detect does
#               (every device, in chain order)
#   chosen      device INDEX configured from blank; every other device had
#               nothing but BYPASS and IDCODE, and an FPGA among them no bits
expect() {
    local rec=$1 kind=$2
    case "$kind" in
    same-ids)
        ids tapline "$WORK/ref" >"$WORK/ref.ids"
        ids "$tool" "$WORK/out" >"$WORK/out.ids"
        # A short tapline list would make the comparison empty.
        [ "$(wc -l <"$WORK/ref.ids")" -eq "$(tr , '\n' <<<"$chain" | wc -l)" ] &&
            cmp -s "$WORK/ref.ids" "$WORK/out.ids" &&
            # OpenOCD checks each declared tap's ID code and IR capture.
            { [ "$tool" != openocd ] || ! grep -q '^Error' "$WORK/out"; } ;;
    chosen)
        [ "$(config_field "$rec" "$index" "done")" = 1 ] &&
            [ "$(config_field "$rec" "$index" sync)" = 1 ] &&
            [ "$(config_field "$rec" "$index" error)" = none ] &&
            [ "$(config_field "$rec" "$index" bits)" -gt 0 ] || return 1
        local n count
        count=$(tr , '\n' <<<"$chain" | wc -l)
        for ((n = 0; n < count; n++)); do
            [ "$n" = "$index" ] && continue
            ! instructions "$rec" "$n" | grep -qvx -e BYPASS -e IDCODE || return 1
            [ "$(config_field "$rec" "$n" bits)" = "" ] || [ "$(config_field "$rec" "$n" bits)" = 0 ] || return 1
        done ;;
    idcode) [ "$(record_field "$rec" jtag idcode_reads)" -ge 1 ] ;;
    configured) [ "$(record_field "$rec" config done)" = 1 ] &&
        [ "$(record_field "$rec" config error)" = none ] ;;
    race) [ "$(record_field "$rec" config sync)" = 0 ] &&
        [ "$(record_field "$rec" config done)" = 0 ] &&
        [ "$(record_field "$rec" config dropped)" -gt 0 ] ;;
    id-error) [ "$(record_field "$rec" config error)" = id ] &&
        [ "$(record_field "$rec" config done)" = 0 ] ;;
    esac
}

# The table: tool action file chip clear_us expectation [bench [position]].
# The file names the FPGA's part (its ID code) for a detection too; bench is
# one of CHAIN, position the load's target counted from 0 nearest TDI.
# The clearing time (JPROGRAM to INIT) is the data sheets' 5 ms, except
# where a tool waits a fixed time without polling INIT: OpenOCD's 1 ms is
# enough for a part that clears in 500 µs and loses the sync word to one
# that takes 5 ms.
ROWS=()
for chip in fs hs; do
    for tool in openocd openfpgaloader xc3sprog urjtag; do
        ROWS+=("$tool detect 3e $chip 5000 idcode")
    done
    for f in 3e 3a 6 7; do
        ROWS+=("openocd load $f $chip 500 configured")
        ROWS+=("openfpgaloader load $f $chip 5000 configured")
        ROWS+=("xc3sprog load $f $chip 5000 configured")
    done
    ROWS+=("openocd load 7 $chip 5000 race")
    # A declared 6-bit TAP takes a monolithic UltraScale stream; a stacked
    # part loads through its master, every SLR started (DONE).
    ROWS+=("openocd load us $chip 500 configured")
    ROWS+=("openfpgaloader load vu9p $chip 5000 configured")
    for tool in openocd openfpgaloader xc3sprog; do
        ROWS+=("$tool load other7 $chip 500 id-error")
    done
    # Chains: bench name, and for a load the target's position from TDI.
    for tool in openocd openfpgaloader xc3sprog; do
        ROWS+=("$tool detect z $chip 5000 same-ids zynq")
        ROWS+=("$tool detect 3e $chip 5000 same-ids prom")
        ROWS+=("$tool detect 7 $chip 5000 same-ids prom")
        ROWS+=("$tool detect 7 $chip 5000 same-ids two")
    done
    for tool in openocd openfpgaloader xc3sprog; do
        clear_us=5000
        [ "$tool" = openocd ] && clear_us=500
        ROWS+=("$tool load z $chip $clear_us chosen zynq 1")
        ROWS+=("$tool load 3e $chip $clear_us chosen prom 0")
        ROWS+=("$tool load 7 $chip $clear_us chosen prom 0")
        ROWS+=("$tool load 7 $chip $clear_us chosen two 0")
        ROWS+=("$tool load 7 $chip $clear_us chosen two 1")
    done
done

passed=0 failed=0
for row in "${ROWS[@]}"; do
    bench='' index=''
    read -r tool action file chip clear_us kind bench index <<<"$row"
    family=${file#other}
    rec=$WORK/run.record
    rm -f "$rec"
    status=0
    chain=''
    [ -n "$bench" ] && chain=${CHAIN[$bench]}
    # Blank FPGAs on a chain load, so that DONE is the tool's doing.
    configured=1
    [ "$kind" = chosen ] && configured=0
    export TAPSIM_VARIANT=$chip TAPSIM_IDCODE=${FAMILY_ID[$family]} TAPSIM_CLEAR_US=$clear_us \
        TAPSIM_KEEP_CONFIG=0 TAPSIM_CHAIN=$chain PEER_CHAIN_INDEX=$index TAPSIM_CONFIGURED=$configured
    if [ "$kind" = same-ids ]; then
        TAPSIM_RECORD=$WORK/ref.record peer_run tapline detect >"$WORK/ref" 2>&1 || true
    fi
    TAPSIM_RECORD=$rec peer_run "$tool" "$action" "$file.bit" >"$WORK/out" 2>&1 || status=$?
    if [ -f "$rec" ] && expect "$rec" "$kind"; then
        passed=$((passed + 1))
        echo "ok    $row"
    else
        failed=$((failed + 1))
        echo "FAIL  $row (exit $status)"
        tail -n 5 "$WORK/out" | sed 's/^/      /'
        [ -f "$rec" ] && grep -E '^(config|time|end)' "$rec" | sed 's/^/      /'
        if [ "$kind" = same-ids ]; then
            echo "      tapline: $(paste -sd' ' "$WORK/ref.ids"); $tool: $(paste -sd' ' "$WORK/out.ids")"
        fi
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
