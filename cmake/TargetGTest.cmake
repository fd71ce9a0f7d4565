# GoogleTest for the target of a cross build, built from Debian's sources
# (package googletest): the build machine's libgtest cannot be linked into
# target programs. Only gtest and gtest_main; the same GTest:: names as
# find_package(GTest) gives on the host.
set(TAPLINE_GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH
  "GoogleTest sources to build for the target")
if(NOT EXISTS ${TAPLINE_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${TAPLINE_GTEST_SOURCE_DIR}: install googletest")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "Install GoogleTest with tapline" FORCE)
add_subdirectory(${TAPLINE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own warning flags meet the project's -Werror (TAPLINE_WERROR); its
# warnings are not ours.
foreach(target gtest gtest_main)
  target_compile_options(${target} PRIVATE -Wno-error)
endforeach()
