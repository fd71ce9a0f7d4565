#!/usr/bin/env bash
# Fetches the upstream sources of a Debian source package into a cache
# outside the work tree, checks the tarball against the SHA-256 the .dsc
# names, unpacks it and prints the unpacked directory.
#   scripts/fetch-source.sh PACKAGE FILE [CACHE_DIR]   (default: ~/.cache/tapline)
# FILE is one the unpacked sources must hold (e.g. src/ftdi.c). Only the
# .orig tarball is used: the Debian part of the package (patches,
# packaging) may be missing from the mirror and is not needed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ]; then
    echo "usage: $0 PACKAGE FILE [CACHE_DIR]" >&2
    exit 2
fi
. "$ROOT/scripts/deps.sh"
ensure_packages dpkg-dev
pkg=$1 marker=$2
CACHE=${3:-${XDG_CACHE_HOME:-$HOME/.cache}/tapline}
dir=$CACHE/$pkg-source
mkdir -p "$dir"

ensure_source_index "$pkg"

fetch() {
    # apt-get source fails when a file of the package cannot be fetched;
    # what counts is whether the .dsc and the tarball arrived.
    (cd "$dir" && apt-get source --download-only "$pkg" >&2) ||
        echo "apt-get source $pkg did not fetch every file; checking what arrived" >&2
}

# verify: sets tarball and want; fails unless the tarball the .dsc names
# is there with the SHA-256 the .dsc gives for it.
verify() {
    local dsc line have
    dsc=$(ls "$dir/${pkg}"_*.dsc 2>/dev/null | sort | tail -n 1)
    [ -n "$dsc" ] || { echo "no $pkg .dsc in $dir" >&2; return 1; }
    # The Checksums-Sha256 field: " HASH SIZE NAME" lines after its header.
    line=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/p' "$dsc" |
        grep -E '^ [0-9a-f]{64} [0-9]+ .*\.orig\.tar\.' | sed -n 1p)
    [ -n "$line" ] || { echo "$dsc names no .orig tarball" >&2; return 1; }
    read -r want _ name <<<"$line"
    tarball=$dir/$name
    [ -f "$tarball" ] || { echo "$name was not fetched" >&2; return 1; }
    have=$(sha256sum "$tarball" | cut -d' ' -f1)
    [ "$have" = "$want" ] || {
        echo "$name has SHA-256 $have, $dsc says $want" >&2
        return 1
    }
}

if ! verify 2>/dev/null; then
    # Nothing cached yet, or a damaged or stale copy: fetch afresh.
    rm -f "$dir/${pkg}"_*
    fetch
    verify || { echo "FAIL: $pkg's source package did not verify" >&2; exit 1; }
fi

# Unpacked afresh whenever the tarball changed.
top=$(tar -tf "$tarball" | sed -n '1s,/.*,,p')
stamp=$dir/$top.sha256
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ] || [ ! -f "$dir/$top/$marker" ]; then
    rm -rf "${dir:?}/$top"
    tar -xf "$tarball" -C "$dir"
    echo "$want" >"$stamp"
fi
[ -f "$dir/$top/$marker" ] || { echo "FAIL: no $marker in $name" >&2; exit 1; }
echo "$dir/$top"
