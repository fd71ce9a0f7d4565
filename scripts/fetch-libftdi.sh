#!/usr/bin/env bash
# Fetches libftdi 0.20's upstream sources from Debian's source package into
# the cache and prints the unpacked directory (scripts/fetch-source.sh).
#   scripts/fetch-libftdi.sh [CACHE_DIR]   (default: ~/.cache/tapline)
exec "$(dirname "$0")/fetch-source.sh" libftdi src/ftdi.c "$@"
