# Cross build for the 32-bit big-endian MIPS host on uClibc-ng, with
# Debian's g++-mips-linux-gnu and a uClibc-ng root made by
# scripts/uclibc-sysroot.sh, named by PKG_CONFIG_SYSROOT_DIR (the staging
# tree is the root: uClibc-ng, its headers and the target's libraries):
#   PKG_CONFIG_SYSROOT_DIR=ROOT PKG_CONFIG_LIBDIR=ROOT/usr/lib/pkgconfig \
#     cmake -S . -B B -DCMAKE_TOOLCHAIN_FILE=cmake/mips-uclibc.cmake
# Debian's cross compiler is built for glibc and searches glibc's headers
# and libraries in /usr/mips-linux-gnu whatever --sysroot says, so its
# standard places are replaced here: the root's headers after GCC's own
# (and libstdc++'s, which need only the C library), the root's crt files
# and libraries first, and uClibc-ng's loader.
include(${CMAKE_CURRENT_LIST_DIR}/mips-linux-gnu.cmake)

set(uclibc_root "$ENV{PKG_CONFIG_SYSROOT_DIR}")
if(uclibc_root STREQUAL "" OR NOT EXISTS "${uclibc_root}/usr/include/features.h")
  message(FATAL_ERROR "PKG_CONFIG_SYSROOT_DIR must name a uClibc-ng root (scripts/uclibc-sysroot.sh)")
endif()
set(CMAKE_SYSROOT "${uclibc_root}")
set(CMAKE_FIND_ROOT_PATH "${uclibc_root}")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips;-L;${uclibc_root})

execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
  OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
# libstdc++'s header folders, in the compiler's own order.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v /dev/null
  OUTPUT_QUIET ERROR_VARIABLE cxx_search)
string(REGEX MATCHALL "\n [^\n]*/c\\+\\+/[^\n]*" cxx_dirs "${cxx_search}")
# libstdc++'s configuration as it fits uClibc-ng (scripts/uclibc-sysroot.sh).
set(cxx_includes "")
if(EXISTS "${uclibc_root}/usr/include/c++-uclibc-ng")
  set(cxx_includes " -isystem ${uclibc_root}/usr/include/c++-uclibc-ng")
endif()
foreach(dir IN LISTS cxx_dirs)
  string(STRIP "${dir}" dir)
  string(APPEND cxx_includes " -isystem ${dir}")
endforeach()

set(c_includes "-nostdinc -isystem ${gcc_include} -isystem ${uclibc_root}/usr/include")
set(CMAKE_C_FLAGS_INIT "${c_includes}")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT} -nostdinc ${cxx_includes} -isystem ${gcc_include} -isystem ${uclibc_root}/usr/include")
# No libstdc++ is built for uClibc-ng: the glibc one may only be linked
# statically, and the tool takes nothing from it (the footprint check).
set(root_libs "-B${uclibc_root}/usr/lib/ -L${uclibc_root}/usr/lib -L${uclibc_root}/lib -Wl,-rpath-link,${uclibc_root}/lib:${uclibc_root}/usr/lib -Wl,--dynamic-linker=/lib/ld-uClibc.so.0")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT} ${root_libs} -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${root_libs}")
