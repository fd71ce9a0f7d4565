#!/bin/sh
# The tool built for 30 MHz, on the simulated bench: each row a chip, the
# part's clearing time, and the clock the record must show. The outcome is
# the default build's (configured, nothing dropped while the part cleared);
# only the rate differs, and the full-speed chip stops at its 6 MHz.
#   load_at_30mhz.sh TAPLINE PRELOAD MAKE_BITFILE WORK_DIR
set -eu
tool=$1 preload=$2 make_bitfile=$3 work=$4
mkdir -p "$work" && cd "$work"
"$make_bitfile" s3e.bit 283776 --family=3e --idcode=0x01C22093 --part=3s500efg320
failed=0
while read -r chip clear_us khz; do
    rm -f run.rec
    status=0
    env LD_PRELOAD="$preload" TAPSIM_VARIANT="$chip" TAPSIM_IDCODE=0x01C22093 \
        TAPSIM_CLEAR_US="$clear_us" TAPSIM_KEEP_CONFIG=0 TAPSIM_RECORD=run.rec \
        "$tool" load s3e.bit >/dev/null 2>&1 || status=$?
    # The mean rate over every cycle, so a stretch at another rate shows.
    got=$(awk 'function f(k,   i) { for (i = 2; i <= NF; i++) if (index($i, k "=") == 1) return substr($i, length(k) + 2) }
        $1 == "clock" { printf "%.0f kHz ", f("tck_cycles") / f("wire_seconds") / 1000 }
        $1 == "config" { printf "done=%s error=%s dropped=%s", f("done"), f("error"), f("dropped") }' run.rec 2>/dev/null || true)
    want="$khz kHz done=1 error=none dropped=0"
    if [ "$status" = 0 ] && [ "$got" = "$want" ]; then
        echo "ok    $chip $clear_us us"
    else
        echo "FAIL  $chip $clear_us us: exit $status, record: $got (want $want)"
        failed=1
    fi
done <<ROWS
hs 500 30000
hs 5000 30000
fs 5000 6000
ROWS
exit $failed
