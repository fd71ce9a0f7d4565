# The real libusb 0.1.12 for the target, built as its autotools build does
# on Linux: usb.c, error.c, descriptors.c and linux.c in one shared library,
# soname libusb-0.1.so.4 (libtool's -version-info 8:4:4 and -release 0.1),
# and usb.h from usb.h.in. Its C++ wrapper is left out: nothing uses it.
# Sets TAPSIM_USB_INCLUDE_DIR to the folder of the generated usb.h.
if(NOT EXISTS "${LIBUSB_SOURCE_DIR}/usb.h.in")
  message(FATAL_ERROR "No libusb sources in '${LIBUSB_SOURCE_DIR}': run scripts/fetch-source.sh libusb usb.h.in")
endif()

include(TestBigEndian)
test_big_endian(target_big_endian)
if(target_big_endian)
  set(BIGENDIAN 1)
else()
  set(BIGENDIAN 0)
endif()
set(LINUX_API 1)
set(TAPSIM_USB_INCLUDE_DIR ${CMAKE_CURRENT_BINARY_DIR}/include CACHE PATH "usb.h for the target" FORCE)
configure_file(${LIBUSB_SOURCE_DIR}/usb.h.in ${TAPSIM_USB_INCLUDE_DIR}/usb.h @ONLY)

add_library(usb SHARED
  ${LIBUSB_SOURCE_DIR}/usb.c
  ${LIBUSB_SOURCE_DIR}/error.c
  ${LIBUSB_SOURCE_DIR}/descriptors.c
  ${LIBUSB_SOURCE_DIR}/linux.c)
set_target_properties(usb PROPERTIES OUTPUT_NAME usb-0.1 VERSION 4.4.4 SOVERSION 4)
target_include_directories(usb PRIVATE ${LIBUSB_SOURCE_DIR} ${TAPSIM_USB_INCLUDE_DIR})
# configure's defines for Linux; upstream's warnings are not ours to fix.
target_compile_definitions(usb PRIVATE LINUX_API=1 BSD_API=0 DARWIN_API=0)
target_compile_options(usb PRIVATE -Wall -Wno-error)
