#!/usr/bin/env bash
# Prints the performance figures: bit mirror and framing against memcpy, a
# load's peak memory from 100 KB to 256 MiB against idcode's, a 16 MiB load
# through the preloaded simulated adapter (wire time against pure data
# time), the model time of each command on both chip variants, and the
# simulator's own cost.
# Nothing here is a pass/fail test.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
# script (bsdutils) gives a load a terminal for its progress line.
ensure_packages "${HOST_PACKAGES[@]}" bsdutils
BUILD=${BUILD:-$ROOT/build-bench}
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTAPLINE_WERROR=ON >/dev/null
cmake --build "$BUILD" -j2 --target tapline tapsim_preload make_bitfile mirror_bench measure load_report tapsim_bench >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(g++ --version | head -1)"
echo
echo "== bit mirror + chunk framing"
"$BUILD/bench/mirror_bench"
echo

LENGTH=$((16 * 1024 * 1024))
"$BUILD/tests/make_bitfile" "$WORK/big.bit" "$LENGTH"
load() { # load FILE RECORD: one measured load; prints the measure line
    env LD_PRELOAD="$BUILD/sim/libtapsim.so" TAPSIM_KEEP_CONFIG=0 TAPSIM_RECORD="$2" \
        "$BUILD/bench/measure" "$BUILD/src/tapline" load "$1" 2>&1 >/dev/null | grep '^measure:'
}
rss() { sed -n 's/.*peak_rss_kib \([0-9]*\).*/\1/p'; }
# Peak RSS over nine runs (minimum, median, maximum): one run's figure
# moves by up to ~200 KiB with where the loader puts the libraries. The
# bench keeps only the configuration's hash and 64 entries per record list,
# so that what grows is the tool's.
peaks() { # peaks ARGS...: "min / median / max" of nine runs
    local i
    for i in 1 2 3 4 5 6 7 8 9; do
        env LD_PRELOAD="$BUILD/sim/libtapsim.so" TAPSIM_KEEP_CONFIG=0 TAPSIM_MAX_ENTRIES=64 \
            TAPSIM_VARIANT=hs TAPSIM_IDCODE=0x0362D093 TAPSIM_RECORD="$WORK/peak.rec" \
            "$BUILD/bench/measure" "$BUILD/src/tapline" "$@" 2>&1 >/dev/null | grep '^measure:' | rss
    done | sort -n | awk '{ v[NR] = $1 } END { printf "%d / %d / %d", v[1], v[5], v[9] }'
}
echo "== peak RSS of a load against idcode (KiB: min / median / max of nine runs)"
base=$(peaks idcode)
echo "idcode: $base"
base_median=$(echo "$base" | cut -d/ -f2)
for size in 100000 $((1024 * 1024)) $((16 * 1024 * 1024)) $((64 * 1024 * 1024)) $((256 * 1024 * 1024)); do
    "$BUILD/tests/make_bitfile" "$WORK/peak.bit" "$size" --family=7 >/dev/null
    p=$(peaks load "$WORK/peak.bit")
    echo "load, $size bytes: $p (median $(( $(echo "$p" | cut -d/ -f2) - base_median )) KiB above idcode's)"
    rm -f "$WORK/peak.bit"
done
echo
big=$(load "$WORK/big.bit" "$WORK/big.rec")
# The same load with standard error on a pseudo-terminal, so the progress
# line is drawn after every chunk; the measure line follows it.
tty=$(script -qec "env LD_PRELOAD='$BUILD/sim/libtapsim.so' TAPSIM_KEEP_CONFIG=0 \
    TAPSIM_RECORD='$WORK/tty.rec' '$BUILD/bench/measure' '$BUILD/src/tapline' \
    load '$WORK/big.bit' >/dev/null" /dev/null | tr '\r' '\n' | grep '^measure:')
echo "16 MiB load: $big"
echo "16 MiB load, progress on a terminal: $tty"
echo
echo "== wire time of that load at the default TCK"
"$BUILD/bench/load_report" "$WORK/big.rec" "$LENGTH"
echo
echo "== model time of each command on both chips (deterministic bench clock)"
# Loads: an XC3S500E-sized Spartan-3E file, an XC7A35T-sized 7-series
# file, and 16 MiB of 7-series stream, each on a device of its family.
"$BUILD/tests/make_bitfile" "$WORK/s3e.bit" 283776 --family=3e
"$BUILD/tests/make_bitfile" "$WORK/a7.bit" 2192012 --family=7
"$BUILD/tests/make_bitfile" "$WORK/k7.bit" "$LENGTH" --family=7
model() { # model VARIANT IDCODE ARGS...: one run, one table row
    local variant=$1 id=$2; shift 2
    env LD_PRELOAD="$BUILD/sim/libtapsim.so" TAPSIM_KEEP_CONFIG=0 \
        TAPSIM_VARIANT="$variant" TAPSIM_IDCODE="$id" TAPSIM_RECORD="$WORK/m.rec" \
        "${TOOL:-$BUILD/src/tapline}" "$@" >/dev/null 2>&1 || true
    awk -v what="$*" -v variant="$variant" '
        function field(k,   i, a) { for (i = 2; i <= NF; i++) { split($i, a, "="); if (a[1] == k) return a[2] } }
        /^clock / { tck = field("tck_cycles"); wire = field("wire_seconds") }
        /^time / { us = field("us") }
        /^config / { done = field("done"); dropped = field("dropped") }
        END { sub(".*/", "", what); printf "| %-12s | %s | %12.3f ms | %12.3f ms | %11d | %s | %s |\n", what, variant, us / 1000, wire * 1000, tck, done, dropped }' "$WORK/m.rec"
}
echo "| command      | chip | model time | TCK time | TCK cycles | DONE | bits dropped |"
for variant in fs hs; do
    model "$variant" 0x01C22093 idcode
    model "$variant" 0x01C22093 user1
    model "$variant" 0x01C22093 reset
    model "$variant" 0x01C22093 load "$WORK/s3e.bit"
    model "$variant" 0x0362D093 load "$WORK/a7.bit"
    model "$variant" 0x0362D093 load "$WORK/k7.bit"
done
echo
echo "== the same loads from a build for a 30 MHz TCK (TAPLINE_TCK_HZ=30000000)"
# The tool alone: the simulator and the files come from the tree above.
cmake -S "$ROOT" -B "$BUILD-30mhz" -DCMAKE_BUILD_TYPE=Release -DTAPLINE_WERROR=ON \
    -DBUILD_TESTING=OFF -DTAPLINE_TCK_HZ=30000000 >/dev/null
cmake --build "$BUILD-30mhz" -j2 --target tapline >/dev/null
echo "| command      | chip | model time | TCK time | TCK cycles | DONE | bits dropped |"
for variant in fs hs; do
    TOOL=$BUILD-30mhz/src/tapline model "$variant" 0x01C22093 load "$WORK/s3e.bit"
    TOOL=$BUILD-30mhz/src/tapline model "$variant" 0x0362D093 load "$WORK/a7.bit"
    TOOL=$BUILD-30mhz/src/tapline model "$variant" 0x0362D093 load "$WORK/k7.bit"
done
echo
echo "== what the load's checks add (ID code read, INIT polls, DONE read)"
# Every read after the probe belongs to a check, and so do the ID code
# read's one write and every 13-byte IR capture scan; the rest is the
# load's own sequence. Each transfer costs the chip's frame or microframe.
checks() { # checks VARIANT IDCODE USB_US FILE
    env LD_PRELOAD="$BUILD/sim/libtapsim.so" TAPSIM_KEEP_CONFIG=0 \
        TAPSIM_VARIANT="$1" TAPSIM_IDCODE="$2" TAPSIM_RECORD="$WORK/c.rec" \
        "$BUILD/src/tapline" load "$4" >/dev/null 2>&1 || true
    awk -v variant="$1" -v usb="$3" -v what="$4" '
        function field(k,   i, a) { for (i = 2; i <= NF; i++) { split($i, a, "="); if (a[1] == k) return a[2] } }
        /^bulk / { all++
                   if (field("dir") == "out") { writes++; if (writes > 2 && field("len") == 13 && field("data") ~ /^4b0303/) scans++ }
                   else if (writes > 2) reads++ }
        /^mpsse opcode=0x3b .*out_data=05/ { polls++ }
        /^time / { us = field("us") }
        END { sub(".*/", "", what); added = 1 + scans + reads
              printf "| %-8s | %s | %6d | %4d (%d INIT polls) | %8.3f ms | %10.3f ms |\n", what, variant, all, added, polls, added * usb / 1000, us / 1000 }' "$WORK/c.rec"
}
echo "| file | chip | transfers | of them checks | checks' USB time | model time |"
for row in "fs 1000" "hs 125"; do
    set -- $row
    checks "$1" 0x01C22093 "$2" "$WORK/s3e.bit"
    checks "$1" 0x0362D093 "$2" "$WORK/a7.bit"
done
echo
echo "== simulator cost"
"$BUILD/tests/sim/tapsim_bench" 2>/dev/null || echo "(tapsim_bench not built)"
echo
"$ROOT/bench/boards.sh" "$BUILD"
echo
echo "== side by side: tapline and the field's four tools on the same files"
"$ROOT/bench/peers.sh" "$BUILD"
