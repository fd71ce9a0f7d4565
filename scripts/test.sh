#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages "${HOST_PACKAGES[@]}"
BUILD=${BUILD:-$ROOT/build}
build_host "$BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j2
