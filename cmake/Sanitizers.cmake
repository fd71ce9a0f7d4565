# -DTAPLINE_SANITIZE=ON builds everything here (tool, simulator, tests) with
# AddressSanitizer and UndefinedBehaviorSanitizer; every finding is fatal.
# scripts/sanitize.sh configures such a build and runs the whole suite.
#
# Sets TAPLINE_ASAN_RUNTIME (cache) and the compile definition of the same
# name to the ASan runtime's path: a library preloaded into an instrumented
# program (libtapsim.so under tapline) must come after it in LD_PRELOAD,
# because ASan refuses to start unless its runtime is loaded first.
option(TAPLINE_SANITIZE "Build with AddressSanitizer and UBSan (GCC)" OFF)

if(NOT TAPLINE_SANITIZE)
  unset(TAPLINE_ASAN_RUNTIME CACHE)
  return()
endif()

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # Clang links its ASan runtime statically unless told otherwise, which
  # the preloaded simulator (linked with -z defs) cannot use.
  message(FATAL_ERROR "TAPLINE_SANITIZE needs GCC, not ${CMAKE_CXX_COMPILER_ID}")
endif()

set(TAPLINE_SANITIZE_FLAGS
  -fsanitize=address,undefined
  -fno-omit-frame-pointer
  -fno-sanitize-recover=all)
add_compile_options(${TAPLINE_SANITIZE_FLAGS})
add_link_options(${TAPLINE_SANITIZE_FLAGS})

execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
  OUTPUT_VARIABLE asan_runtime
  OUTPUT_STRIP_TRAILING_WHITESPACE)
# The compiler echoes the bare name when it has no such file.
if(NOT IS_ABSOLUTE "${asan_runtime}" OR NOT EXISTS "${asan_runtime}")
  message(FATAL_ERROR "ASan runtime not found (${asan_runtime}): install libasan8 / gcc")
endif()
get_filename_component(asan_runtime "${asan_runtime}" REALPATH)
set(TAPLINE_ASAN_RUNTIME "${asan_runtime}" CACHE FILEPATH
  "ASan runtime to put first in LD_PRELOAD" FORCE)
add_compile_definitions(TAPLINE_ASAN_RUNTIME="${TAPLINE_ASAN_RUNTIME}")
message(STATUS "Sanitizers: address, undefined; runtime ${TAPLINE_ASAN_RUNTIME}")
