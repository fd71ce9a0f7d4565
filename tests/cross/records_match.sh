#!/bin/sh
# Runs the same tapline commands on the build machine (Debian's libftdi over
# libtapsim.so) and on the target (under qemu, libftdi 0.20 built for it
# over the simulator as its libusb) and requires the same exit status,
# output and record file from both: the tool and libftdi put the same bytes
# on the wire whatever the byte order and word size.
#   records_match.sh HOST_BUILD_DIR TARGET_RUNNER [FILTER.awk]
# TARGET_RUNNER runs the target's tapline with its arguments. The same
# script compares a build under libftdi 1.x (TARGET_RUNNER) with the host
# build under libftdi 0.x: then both records first go through FILTER.awk
# (awk -f FILTER.awk RECORD RECORD), which keeps what the two libraries
# have in common.
set -u
if [ $# -ne 2 ] && [ $# -ne 3 ]; then
    echo "usage: $0 HOST_BUILD_DIR TARGET_RUNNER [FILTER.awk]" >&2
    exit 2
fi
host=$1 target=$2 filter=${3:-}
for f in "$host/src/tapline" "$host/sim/libtapsim.so" "$host/tests/make_bitfile"; do
    [ -e "$f" ] || { echo "FAIL: $f missing: build the host tree first" >&2; exit 1; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tapline-records.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$host/tests/make_bitfile" "$scratch/design.bit" 300000 >/dev/null || exit 1
bit=$scratch/design.bit

failures=0 runs=0
# compare NAME [VAR=VALUE...] -- ARGS...   (values without spaces)
compare() {
    name=$1
    shift
    vars=
    while [ "$1" != "--" ]; do
        vars="$vars $1"
        shift
    done
    shift
    # shellcheck disable=SC2086
    env $vars TAPSIM_RECORD="$scratch/host.record" LD_PRELOAD="$host/sim/libtapsim.so" \
        "$host/src/tapline" "$@" >"$scratch/host.out" 2>"$scratch/host.err"
    echo $? >"$scratch/host.status"
    # shellcheck disable=SC2086
    env $vars TAPSIM_RECORD="$scratch/target.record" \
        "$target" "$@" >"$scratch/target.out" 2>"$scratch/target.err"
    echo $? >"$scratch/target.status"
    runs=$((runs + 1))
    if [ -n "$filter" ]; then
        for side in host target; do
            [ -e "$scratch/$side.record" ] || continue
            awk -f "$filter" "$scratch/$side.record" "$scratch/$side.record" \
                >"$scratch/$side.filtered" || exit 1
            mv "$scratch/$side.filtered" "$scratch/$side.record"
        done
    fi
    for part in status out err record; do
        if ! cmp -s "$scratch/host.$part" "$scratch/target.$part"; then
            echo "FAIL: $name: $part differs (host, then target):" >&2
            diff "$scratch/host.$part" "$scratch/target.$part" | head -n 20 >&2
            failures=$((failures + 1))
            return
        fi
    done
    rm -f "$scratch/host.record" "$scratch/target.record"
}

compare idcode -- idcode
compare "idcode, high-speed chip behind two others" \
    TAPSIM_VARIANT=hs TAPSIM_EXTRA_DEVICES=0403:6010,2a5e:0c42 -- idcode
compare user3 TAPSIM_USER3=0x89ABCDEF -- user3
compare reset -- reset
compare load -- load "$bit"
compare "load, high-speed chip" TAPSIM_VARIANT=hs -- load "$bit"
compare "load, short write in a chunk" TAPSIM_SHORT_WRITE=40 -- load "$bit"
compare "load, failed write" TAPSIM_ERROR_WRITE=45 -- load "$bit"
compare "user2, late answer" TAPSIM_EMPTY_READS=7 -- user2
compare "idcode, failed read" TAPSIM_ERROR_READ=2 -- idcode
compare "target unpowered" TAPSIM_POWER=0 -- idcode
compare "no adapter" TAPSIM_ADAPTER=0 -- idcode

if [ "$failures" -ne 0 ]; then
    echo "$failures of $runs runs differ" >&2
    exit 1
fi
echo "$runs runs: host and target agree"
