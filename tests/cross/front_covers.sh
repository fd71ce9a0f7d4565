#!/bin/sh
# Every libusb function the shared LIBRARY imports must be defined by the
# preloaded simulator FRONT: LIBRARY still loads the real libusb, and any
# function the front lacks would reach it with the simulator's objects.
#   front_covers.sh FRONT LIBRARY
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 FRONT LIBRARY" >&2
    exit 2
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tapline-front.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
nm -D --undefined-only "$2" | awk '$NF ~ /^libusb_/ { sub(/@.*/, "", $NF); print $NF }' |
    sort -u >"$scratch/imported" || exit 1
nm -D --defined-only "$1" | awk '$NF ~ /^libusb_/ { print $NF }' | sort -u >"$scratch/defined" || exit 1
count=$(wc -l <"$scratch/imported")
if [ "$count" -eq 0 ]; then
    echo "FAIL: $2 imports no libusb function: not the library expected" >&2
    exit 1
fi
missing=$(comm -23 "$scratch/imported" "$scratch/defined")
if [ -n "$missing" ]; then
    echo "FAIL: $1 lacks:" $missing >&2
    exit 1
fi
echo "$count libusb functions imported by $2, all defined by $1"
