#!/usr/bin/env bash
# Static analysis of the tool's sources: clang-tidy (checks in .clang-tidy),
# cppcheck and the clang-format layout check. Any finding fails the run.
#   scripts/analyze.sh [BUILD_DIR]   (default: build-analyze)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages build-essential cmake pkg-config libftdi-dev libusb-dev \
    clang-14 clang-tidy-14 clang-format-14 cppcheck
BUILD=${1:-$ROOT/build-analyze}

# Directories held to .clang-format.
FORMAT_DIRS=(src sim tests bench cross fuzz)

cd "$ROOT"
# clang-tidy reads the compiler flags from compile_commands.json, so they
# are clang's (GCC-only options would stop it); nothing is built. Only the
# tool itself is analysed: the test tree is left out of the configure.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++-14 \
    -DBUILD_TESTING=OFF -DTAPLINE_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
mapfile -t sources < <(find src -name '*.cpp' | sort)

status=0
echo "== clang-tidy (${#sources[@]} files)"
if ! clang-tidy-14 -p "$BUILD" --quiet "${sources[@]}" 2>/dev/null; then
    # Again with the notes the quiet run dropped, so the log says why.
    clang-tidy-14 -p "$BUILD" "${sources[@]}" || true
    status=1
fi

echo "== cppcheck"
# cstyleCast: the tool is C-style by design and casts malloc's result the C
# way; clang-tidy's casting checks are off for the same reason.
if ! cppcheck --enable=warning,style,performance,portability \
    --error-exitcode=1 --inline-suppr --quiet \
    --std=c++17 --language=c++ --library=posix -I src \
    --suppress=cstyleCast src/; then
    status=1
fi

echo "== clang-format"
mapfile -t formatted < <(find "${FORMAT_DIRS[@]}" \
    \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
if ! clang-format-14 --dry-run --Werror "${formatted[@]}"; then
    echo "layout differs from .clang-format: clang-format-14 -i FILE" >&2
    status=1
fi

[ $status -eq 0 ] && echo "analysis clean: clang-tidy, cppcheck, clang-format"
exit $status
