#!/usr/bin/env bash
# Eight boards at once: eight tapline processes, each loading the same
# XC7A35T-sized file into a board of its own through its own adapter
# (--serial), against one board alone. Wall time from the shell; model
# time (what the hardware takes: TCK, USB transfers, clearing) from each
# run's record. Usage: bench/boards.sh BUILD
set -euo pipefail
BUILD=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
SERIALS=(TL01 TL02 TL03 TL04 TL05 TL06 TL07 TL08)
ADAPTERS=$(IFS=,; echo "${SERIALS[*]}")
"$BUILD/tests/make_bitfile" "$WORK/a7.bit" 2192012 --family=7 >/dev/null

board() { # board SERIAL: one load on that adapter's board
    env LD_PRELOAD="$BUILD/sim/libtapsim.so" TAPSIM_ADAPTERS="$ADAPTERS" \
        TAPSIM_STATE="$WORK/board" TAPSIM_IDCODE=0x0362D093 TAPSIM_VARIANT=hs \
        TAPSIM_KEEP_CONFIG=0 TAPSIM_RECORD="$WORK/$1.rec" \
        "$BUILD/src/tapline" -s "$1" load "$WORK/a7.bit" >/dev/null 2>"$WORK/$1.err"
}
model_s() { # model_s RECORD: model time in seconds, and whether DONE rose
    awk '/^time / { for (i = 2; i <= NF; i++) if ($i ~ /^us=/) { sub("us=", "", $i); us = $i } }
         /^config / { for (i = 2; i <= NF; i++) if ($i ~ /^done=/) { sub("done=", "", $i); done = $i } }
         END { printf "%.3f s, DONE %s", us / 1e6, done }' "$1"
}
now() { date +%s.%N; }

echo "== one board, then eight at once ($(nproc) cores)"
t0=$(now)
board TL01
t1=$(now)
echo "one board: wall $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') s, model $(model_s "$WORK/TL01.rec")"
rm -f "$WORK"/board.*
t0=$(now)
for s in "${SERIALS[@]}"; do board "$s" & done
status=0
for job in $(jobs -p); do wait "$job" || status=1; done
t1=$(now)
echo "eight boards: wall $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') s (exit status $status)"
for s in "${SERIALS[@]}"; do
    echo "  $s: model $(model_s "$WORK/$s.rec")$( [ -s "$WORK/$s.err" ] && echo ", stderr: $(head -c 200 "$WORK/$s.err")")"
done
