#!/usr/bin/env bash
# Side by side on the simulated bench: tapline and the field's four JTAG
# tools (OpenOCD, openFPGALoader, xc3sprog, UrJTAG, from Debian, unmodified)
# loading the same generated bit files of three parts' real sizes, on both
# chip variants, and four trials each: a file for another part, a write
# that fails in the middle of the bitstream, an adapter that stops answering
# there, and a part that takes the data sheets' 5 ms to clear. One table row a run: model time and its ratio to the pure TCK time,
# bulk transfers, TCK cycles, peak RSS (the same simulator in every
# process), exit status, and what the FPGA was left with. Prints only.
# A second table does the same at 30 MHz on the high-speed chip: tapline
# built for that rate, the others asked for it, and a column with the rate
# the record shows each ran at.
#   bench/peers.sh [BUILD_DIR]    (scripts/bench.sh runs it too)
# PEER_PARTS (e.g. "xc7a35t") limits the tables to those parts, PEER_RATES
# ("6", "30", default both) to those TCK rates in MHz, PEER_TOOLS (e.g.
# "tapline") to those tools.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
# A tool that spins for ever shows as exit 124 after this long.
export PEER_TIMEOUT=${PEER_TIMEOUT:-30}
. "$ROOT/scripts/peer-tools.sh"
ensure_packages "${HOST_PACKAGES[@]}" "${LIBFTDI1_PACKAGES[@]}" "${FIELD_TOOL_PACKAGES[@]}"
BUILD=${1:-${BUILD:-$ROOT/build-bench}}
mkdir -p "$BUILD" && BUILD=$(cd "$BUILD" && pwd)
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTAPLINE_WERROR=ON >/dev/null
cmake --build "$BUILD" -j2 --target tapline tapsim_preload tapsim_preload1 make_bitfile measure >/dev/null
export PEER_SIM0=$BUILD/sim/libtapsim.so PEER_SIM1=$BUILD/sim/libtapsim1.so
export PEER_TAPLINE=$BUILD/src/tapline PEER_WRAP=$BUILD/bench/measure
PEER_RATES=${PEER_RATES:-6 30}
if [[ " $PEER_RATES " == *" 30 "* ]]; then
    # The tool alone, beside the tree above (scripts/bench.sh builds it too).
    cmake -S "$ROOT" -B "$BUILD-30mhz" -DCMAKE_BUILD_TYPE=Release -DTAPLINE_WERROR=ON \
        -DBUILD_TESTING=OFF -DTAPLINE_TCK_HZ=30000000 >/dev/null
    cmake --build "$BUILD-30mhz" -j2 --target tapline >/dev/null
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# name family ID code bitstream bytes part
PARTS=("xc3s500e 3e 0x01C22093 283776 3s500efg320"
       "xc6slx9 6 0x04001093 340604 6slx9tqg144"
       "xc7a35t 7 0x0362D093 2192012 7a35tcpg236"
       # An UltraScale+ part at the XC7A35T's size (its own is 12 MB).
       "xcku3p us+ 0x04A63093 2192012 ku3pffva676")
for p in "${PARTS[@]}"; do
    read -r name family id size part <<<"$p"
    "$BUILD/tests/make_bitfile" "$name.bit" "$size" --family="$family" --idcode="$id" --part="$part"
    # The same family, another part: the device's ID code plus one in the
    # part field.
    other=$(printf '0x%08X' $((id + 0x1000)))
    "$BUILD/tests/make_bitfile" "$name-other.bit" "$size" --family="$family" --idcode="$other" --part="$part"
done

# run TOOL FILE CHIP ID [VAR=value...]: one load; leaves run.rec, run.out.
run() {
    local tool=$1 file=$2 chip=$3 id=$4
    shift 4
    rm -f run.rec
    env TAPSIM_VARIANT="$chip" TAPSIM_IDCODE="$id" TAPSIM_KEEP_CONFIG=0 TAPSIM_RECORD=run.rec "$@" \
        bash -c '. "$0"; peer_run "$1" load "$2"' "$ROOT/scripts/peer-tools.sh" "$tool" "$file" \
        >run.out 2>&1 || true
}

# The bulk write at which half of the bytes sent have gone, and the number
# of reads before it: where "the middle of the bitstream" is in a clean run.
midpoint() {
    awk '
        function field(k,   i, n) { for (i = 2; i <= NF; i++) { n = index($i, "="); if (substr($i, 1, n - 1) == k) return substr($i, n + 1) } }
        /^bulk / { if (field("dir") == "out") { w++; bytes[w] = field("len"); reads_before[w] = r; total += bytes[w] } else r++ }
        END { half = total / 2; for (i = 1; i <= w; i++) { sum += bytes[i]; if (sum >= half) { print i, reads_before[i] + 1; exit } } }' run.rec
}

row() { # TOOL FILE CHIP TRIAL [rate]: "rate" adds the rate the record shows
    awk -v tool="$1" -v file="$2" -v chip="$3" -v trial="$4" -v show_rate="${5:-}" \
        -v status="$(sed -n 's/^measure: exit \(-\?[0-9]*\).*/\1/p' run.out | tail -1)" \
        -v rss="$(sed -n 's/.*peak_rss_kib \([0-9]*\).*/\1/p' run.out | tail -1)" '
        function field(k,   i, n) { for (i = 2; i <= NF; i++) { n = index($i, "="); if (substr($i, 1, n - 1) == k) return substr($i, n + 1) } }
        /^bulk / { bulk++ }
        /^clock / { tck = field("tck_cycles"); wire = field("wire_seconds"); div = field("divisor"); base = field("base_hz") }
        /^time / { us = field("us") }
        /^instruction .*name=JPROGRAM/ { cleared = 1 }
        /^config / { done = field("done"); init = field("init"); err = field("error") }
        END {
            if (status == "") status = "none"
            if (us == "") { printf "| %-14s | %-12s | %s | %-11s | no record (exit %s) |\n", tool, file, chip, trial, status; exit }
            erased = (cleared && done == 0) ? "yes" : "no"
            printf "| %-14s | %-12s | %s | %-11s | %10.3f s | %6.3f | %7d | %10d | %7.1f MB | %4s | %s | %s | %-5s | %-6s |",
                tool, file, chip, trial, us / 1e6, (wire > 0 ? us / 1e6 / wire : 0), bulk, tck, rss / 1024, status, done, init, err, erased
            # The mean over every cycle (cycles / wire time), and the
            # divisor and base in force at the end: one rate throughout
            # when the two agree.
            if (show_rate != "")
                printf " %6.3f MHz (divisor %d, base %d MHz) |", (wire > 0 ? tck / wire / 1e6 : 0), div, base / 1e6
            printf "\n"
        }' run.rec 2>/dev/null || printf '| %-14s | %-12s | %s | %-11s | no record |\n' "$1" "$2" "$3" "$4"
}

# table CHIPS TOOLS [rate]: one row per part, chip, tool and trial.
table() {
    local chips=$1 tools=$2 rate=${3:-} p name family id size part chip tool write read
    for p in "${PARTS[@]}"; do
        read -r name family id size part <<<"$p"
        [ -z "${PEER_PARTS:-}" ] || [[ " $PEER_PARTS " == *" $name "* ]] || continue
        for chip in $chips; do
            for tool in $tools; do
                # The same part for every tool: one that clears in 500 us, as
                # OpenOCD needs (it waits a fixed 1 ms after JPROGRAM without
                # polling INIT). The last trial gives the data sheets' 5 ms.
                run "$tool" "$name.bit" "$chip" "$id" TAPSIM_CLEAR_US=500
                row "$tool" "$name" "$chip" clean $rate
                read -r write read <<<"$(midpoint)"
                run "$tool" "$name-other.bit" "$chip" "$id" TAPSIM_CLEAR_US=500
                row "$tool" "$name" "$chip" other-part $rate
                if [ -n "${write:-}" ]; then
                    run "$tool" "$name.bit" "$chip" "$id" TAPSIM_CLEAR_US=500 TAPSIM_ERROR_WRITE="$write"
                    row "$tool" "$name" "$chip" failed-write $rate
                    run "$tool" "$name.bit" "$chip" "$id" TAPSIM_CLEAR_US=500 TAPSIM_SILENT_FROM="$read"
                    row "$tool" "$name" "$chip" silent $rate
                fi
                run "$tool" "$name.bit" "$chip" "$id" TAPSIM_CLEAR_US=5000
                row "$tool" "$name" "$chip" 5ms-clear $rate
            done
        done
    done
}

HEADER="| tool | file | chip | trial | model time | / TCK time | bulk transfers | TCK cycles | peak RSS | exit | DONE | INIT | error | erased |"
if [[ " $PEER_RATES " == *" 6 "* ]]; then
    echo "$HEADER"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    table "fs hs" "${PEER_TOOLS:-tapline openocd openfpgaloader xc3sprog urjtag}"
fi
if [[ " $PEER_RATES " == *" 30 "* ]]; then
    # Only the high-speed chip goes past 6 MHz. UrJTAG is left out: it loads
    # none of these files at any rate.
    [[ " $PEER_RATES " == *" 6 "* ]] && echo
    echo "$HEADER TCK in the record |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    PEER_TAPLINE=$BUILD-30mhz/src/tapline PEER_TCK_HZ=30000000 \
        table hs "${PEER_TOOLS:-tapline openocd openfpgaloader xc3sprog}" rate
fi
