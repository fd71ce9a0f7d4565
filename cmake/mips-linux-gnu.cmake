# Cross build for the 32-bit big-endian MIPS host with Debian's
# g++-mips-linux-gnu. Target programs (tests) run under qemu-user:
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-gnu.cmake
# with libftdi for the target found through pkg-config in a staging tree
# (PKG_CONFIG_SYSROOT_DIR, PKG_CONFIG_LIBDIR; scripts/target-staging.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips;-L;/usr/mips-linux-gnu)

# Flash on the target is small: let the linker drop unreferenced code.
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")

# A staging tree of the target's libraries (cross/, or a distribution's),
# named as pkg-config's sysroot, is a root to search as well: pkg-config
# gives paths inside it, which find_library may then use.
if(DEFINED ENV{PKG_CONFIG_SYSROOT_DIR} AND NOT "$ENV{PKG_CONFIG_SYSROOT_DIR}" STREQUAL "")
  list(APPEND CMAKE_FIND_ROOT_PATH "$ENV{PKG_CONFIG_SYSROOT_DIR}")
endif()
