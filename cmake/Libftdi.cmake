# Which libftdi the tool is built against, found through pkg-config alone:
#   TAPLINE_LIBFTDI=0     libftdi 0.x (pkg-config module libftdi)
#   TAPLINE_LIBFTDI=1     libftdi 1.x (pkg-config module libftdi1)
#   TAPLINE_LIBFTDI=auto  0.x when present, else 1.x
# The tool's calls exist in both with the same meaning. auto prefers 0.x:
# it is what the target boards ship.
#
# Sets the FTDI_* variables of pkg_check_modules, and
#   TAPLINE_LIBFTDI_MAJOR  0 or 1, the library found
#   TAPLINE_LIBFTDI_NAME   its library name (ftdi or ftdi1)
set(TAPLINE_LIBFTDI auto CACHE STRING "libftdi to build against: 0, 1 or auto")
set_property(CACHE TAPLINE_LIBFTDI PROPERTY STRINGS 0 1 auto)

find_package(PkgConfig REQUIRED)
if(TAPLINE_LIBFTDI STREQUAL "0")
  pkg_check_modules(FTDI REQUIRED libftdi)
  set(TAPLINE_LIBFTDI_MAJOR 0)
elseif(TAPLINE_LIBFTDI STREQUAL "1")
  pkg_check_modules(FTDI REQUIRED libftdi1)
  set(TAPLINE_LIBFTDI_MAJOR 1)
elseif(TAPLINE_LIBFTDI STREQUAL "auto")
  pkg_check_modules(FTDI QUIET libftdi)
  if(FTDI_FOUND)
    set(TAPLINE_LIBFTDI_MAJOR 0)
  else()
    pkg_check_modules(FTDI REQUIRED libftdi1)
    set(TAPLINE_LIBFTDI_MAJOR 1)
  endif()
else()
  message(FATAL_ERROR "TAPLINE_LIBFTDI is '${TAPLINE_LIBFTDI}': use 0, 1 or auto")
endif()

if(TAPLINE_LIBFTDI_MAJOR EQUAL 0)
  set(TAPLINE_LIBFTDI_NAME ftdi)
else()
  set(TAPLINE_LIBFTDI_NAME ftdi1)
  # libftdi1 lists adapters as libusb devices and has no getter for their
  # bus and address: the tool calls libusb's two, nothing else of it.
endif()
message(STATUS "libftdi ${FTDI_VERSION} (${TAPLINE_LIBFTDI_NAME})")
