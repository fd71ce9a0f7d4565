#!/usr/bin/env bash
# Builds everything (tool, simulator, tests) with AddressSanitizer and
# UBSan in a build directory of its own and runs the whole test suite
# there, whole-program tests included.
#   scripts/sanitize.sh [BUILD_DIR]   (default: build-sanitize)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
# libasan8 and libubsan1 come with g++ (build-essential).
ensure_packages "${HOST_PACKAGES[@]}"
BUILD=${1:-$ROOT/build-sanitize}

# Findings end the process with a status no test expects (the tool itself
# exits 0 or 1), so a whole-program test cannot mistake one for a failure
# of the tool. The same settings reach the tool under test: the runner
# passes the environment on.
export ASAN_OPTIONS="exitcode=99:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_leaks=1"
export UBSAN_OPTIONS="exitcode=99:print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT/cmake/lsan.supp:print_suppressions=0"

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAPLINE_SANITIZE=ON -DTAPLINE_WERROR=ON >/dev/null
cmake --build "$BUILD" -j2
ctest --test-dir "$BUILD" --output-on-failure -j2
