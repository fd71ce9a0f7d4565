# Sourced by the scripts: installs Debian packages that are missing.
# Everything these functions and apt print goes to standard error: a
# script's standard output carries only its result (a path, a figure),
# which another script may read.
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# Makes the source package PKG known to apt: adds a deb-src entry for the
# suite and mirror of the first deb entry when no deb-src entry has it.
ensure_source_index() {
    local pkg=$1
    apt-cache showsrc "$pkg" 2>/dev/null | grep -q '^Package:' && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    local list=/etc/apt/sources.list.d/tapline-src.sources
    if [ ! -f "$list" ]; then
        local uri suite
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            uri=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources | head -n 1)
            suite=$(sed -n 's/^Suites: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources | head -n 1)
        else
            read -r uri suite < <(sed -n 's/^deb \(\[[^]]*\] \)\?\([^ ]*\) \([^ ]*\).*/\2 \3/p' \
                /etc/apt/sources.list | head -n 1)
        fi
        [ -n "$uri" ] && [ -n "$suite" ] || {
            echo "no deb entry in /etc/apt to derive a deb-src entry from" >&2
            return 1
        }
        echo "Adding deb-src $uri $suite main ($list)" >&2
        printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$uri" "$suite" | $sudo tee "$list" >/dev/null
    fi
    $sudo apt-get update -qq >&2
}

# Packages the host build and its tests need. libusb-1.0-0-dev: the
# simulator's second preload library is the libusb-1.0 front, written
# against its libusb.h. The field's programs run over the simulator; the
# tests that check their imports skip a program that is missing.
FIELD_TOOL_PACKAGES=(openfpgaloader openocd xc3sprog urjtag)
HOST_PACKAGES=(build-essential cmake pkg-config libftdi-dev libusb-dev libusb-1.0-0-dev
    googletest libgtest-dev groff-base "${FIELD_TOOL_PACKAGES[@]}")

# Packages the host build under libftdi 1.x needs on top: libftdi1-dev
# (shared and static libftdi1) and libusb-1.0-0-dev, whose libusb.h the
# simulator's libusb-1.0 front is written against (nothing links libusb).
LIBFTDI1_PACKAGES=(libftdi1-dev libusb-1.0-0-dev)

# Packages the MIPS cross build and its tests under qemu need: GoogleTest is
# built from the googletest sources, libftdi from Debian's source package
# (dpkg-dev for apt-get source), usb.h is the host's (libusb-dev).
CROSS_PACKAGES=(cmake make pkg-config g++-mips-linux-gnu qemu-user googletest dpkg-dev libusb-dev)

# Configures and builds the host tree in $1.
build_host() {
    cmake -S "$ROOT" -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPLINE_WERROR=ON >/dev/null &&
        cmake --build "$1" -j2
}
