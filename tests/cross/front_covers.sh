#!/bin/sh
# Every libusb function the shared LIBRARY imports must be defined by the
# preloaded simulator FRONT: LIBRARY still loads the real libusb, and any
# function the front lacks would reach it with the simulator's objects.
# More than one LIBRARY: the functions any of them imports. PREFIX picks
# the API: libusb_ (libusb-1.0, the default) or usb_ (libusb 0.1).
#   front_covers.sh [-p PREFIX] FRONT LIBRARY...
set -u
prefix=libusb_
if [ "${1:-}" = -p ]; then
    prefix=$2
    shift 2
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [-p PREFIX] FRONT LIBRARY..." >&2
    exit 2
fi
front=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tapline-front.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
nm -D --undefined-only "$@" | awk -v p="^$prefix" '$NF ~ p { sub(/@.*/, "", $NF); print $NF }' |
    sort -u >"$scratch/imported" || exit 1
nm -D --defined-only "$front" | awk -v p="^$prefix" '$NF ~ p { print $NF }' | sort -u >"$scratch/defined" || exit 1
count=$(wc -l <"$scratch/imported")
if [ "$count" -eq 0 ]; then
    echo "FAIL: $* import no ${prefix}* function: not the libraries expected" >&2
    exit 1
fi
missing=$(comm -23 "$scratch/imported" "$scratch/defined")
if [ -n "$missing" ]; then
    echo "FAIL: $front lacks:" $missing >&2
    exit 1
fi
echo "$count ${prefix}* functions imported by $*, all defined by $front"
