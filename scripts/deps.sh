# Sourced by the scripts: installs Debian packages that are missing.
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Packages the host build and its tests need.
HOST_PACKAGES=(build-essential cmake pkg-config libftdi-dev libusb-dev googletest libgtest-dev groff-base)

# Packages the host build under libftdi 1.x needs on top: libftdi1-dev
# (shared and static libftdi1) and libusb-1.0-0-dev, whose libusb.h the
# simulator's libusb-1.0 front is written against (nothing links libusb).
LIBFTDI1_PACKAGES=(libftdi1-dev libusb-1.0-0-dev)

# Packages the MIPS cross build and its tests under qemu need: GoogleTest is
# built from the googletest sources, ftdi.h and usb.h are the host's.
CROSS_PACKAGES=(cmake make g++-mips-linux-gnu qemu-user googletest libftdi-dev libusb-dev)

# Configures and builds the host tree in $1.
build_host() {
    cmake -S "$ROOT" -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
        cmake --build "$1" -j2
}
