#!/usr/bin/env bash
# Fuzzes the bit file reader and the header printout with libFuzzer (clang,
# ASan, UBSan) for SECONDS (default 60), starting from a generated seed
# corpus. Fails on any crash, leak, sanitizer report, allocation larger
# than the input can justify, or the two read paths disagreeing. Inputs
# that fail are left in BUILD/artifacts/ and belong in
# tests/fuzz_regressions/inputs/ once fixed.
#   scripts/fuzz.sh [SECONDS]   (build directory: $FUZZ_BUILD or build-fuzz)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/deps.sh"
ensure_packages cmake make pkg-config libftdi-dev libusb-dev \
    clang-14 libclang-rt-14-dev
SECONDS_TO_RUN=${1:-60}
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}

cmake -S "$ROOT/fuzz" -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$BUILD" -j2

seeds=$BUILD/seeds
corpus=$BUILD/corpus         # kept between runs in the same build directory
artifacts=$BUILD/artifacts
rm -rf "$seeds" "$artifacts"
mkdir -p "$seeds" "$corpus" "$artifacts"
"$BUILD/make_corpus" "$seeds"

fuzzer=("$BUILD/bitfile_fuzz" -artifact_prefix="$artifacts/"
    -error_exitcode=77 -timeout=10 -malloc_limit_mb=16)

# Earlier findings first: each must pass now.
mapfile -t known < <(find "$ROOT/tests/fuzz_regressions/inputs" -type f 2>/dev/null | sort)
if [ ${#known[@]} -gt 0 ]; then
    echo "== ${#known[@]} earlier findings"
    "${fuzzer[@]}" "${known[@]}"
fi

# -malloc_limit_mb: a header's lengths are only believed as far as the
# file backs them, so no input of at most 64 KiB and a bit may make the
# reader ask for more than a few times that at once.
echo "== fuzzing for ${SECONDS_TO_RUN}s"
log=$BUILD/fuzz.log
status=0
"${fuzzer[@]}" -dict="$ROOT/fuzz/bitfile.dict" \
    -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 \
    "$corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -E '^Done|^#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
if [ $status -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "FAIL: fuzzer exit status $status; inputs in $artifacts:" >&2
    ls -l "$artifacts" >&2
    exit 1
fi
echo "fuzzing clean: no crash, leak or sanitizer report"
