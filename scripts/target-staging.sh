#!/usr/bin/env bash
# Builds the MIPS target's libraries (cross/: the real libftdi 0.20 from
# Debian's source package over the simulator's libusb 0.1 front, or with
# "real" over the real libusb 0.1.12 from its source package) and installs
# them into a staging tree, /usr inside STAGING_DIR, as a distribution's
# staging holds them.
#   scripts/target-staging.sh BUILD_DIR STAGING_DIR [real]
# Then build against it with
#   PKG_CONFIG_SYSROOT_DIR=STAGING_DIR PKG_CONFIG_LIBDIR=STAGING_DIR/usr/lib/pkgconfig
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ] || [ $# -gt 3 ] || { [ $# -eq 3 ] && [ "$3" != real ]; }; then
    echo "usage: $0 BUILD_DIR STAGING_DIR [real]" >&2
    exit 2
fi
. "$ROOT/scripts/deps.sh"
ensure_packages cmake make g++-mips-linux-gnu libusb-dev
build=$1
staging=$(mkdir -p "$2" && cd "$2" && pwd)

source_dir=$("$ROOT/scripts/fetch-libftdi.sh")
libusb=()
if [ $# -eq 3 ]; then
    libusb=(-DLIBUSB_SOURCE_DIR="$("$ROOT/scripts/fetch-source.sh" libusb usb.h.in)")
fi
cmake -S "$ROOT/cross" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mips-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DTAPLINE_WERROR=ON -DLIBFTDI_SOURCE_DIR="$source_dir" "${libusb[@]}" >/dev/null
cmake --build "$build" -j2
rm -rf "${staging:?}/usr"
DESTDIR=$staging cmake --install "$build" >/dev/null
echo "target libraries staged in $staging/usr" >&2
