#!/bin/sh
# A program run over a preloaded front: every libusb function it or any
# library it loads imports must be defined by the front.
#   tool_covers.sh PREFIX FRONT PROGRAM
# Exits 77 (skipped) when PROGRAM is not installed.
set -u
if [ $# -ne 3 ]; then
    echo "usage: $0 PREFIX FRONT PROGRAM" >&2
    exit 2
fi
program=$(command -v "$3") || {
    echo "SKIP: $3 is not installed"
    exit 77
}
libraries=$(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }') || exit 1
exec sh "$(dirname "$0")/../cross/front_covers.sh" -p "$1" "$2" "$program" $libraries
