#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each for a while on a copy of its corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 30); TARGETs are names such as "cache" or "punycode" (default: all).
# The build goes to $KELVARA_FUZZ_BUILD_DIR (default build-fuzz). Each target runs on a working
# copy of tests/fuzz/corpus/<target> under the build directory, so that what it learns is kept for
# the next run there and the checked-in seeds stay small. Crash, leak, time-out and broken-property
# inputs land in BUILD/fuzz-artifacts/. The script fails when any target finds something, and
# prints for each target its executions and the coverage it reached (libFuzzer's cov: and ft:).
# docs/fuzzing.md tells how to replay a finding.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${KELVARA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
SECONDS_PER_TARGET=${1:-30}
shift || true
JOBS=${KELVARA_FUZZ_JOBS:-2}

if ! [[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || [ "$SECONDS_PER_TARGET" -eq 0 ]; then
    echo "usage: $0 [SECONDS] [TARGET...]" >&2
    exit 2
fi
CXX_CLANG=${KELVARA_FUZZ_CXX:-$(command -v clang++ || true)}
if [ -z "$CXX_CLANG" ]; then
    echo "fuzz.sh: clang++ is needed for the fuzz targets (apt-get install clang)" >&2
    exit 2
fi

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$CXX_CLANG" -DKELVARA_FUZZ=ON \
    -DKELVARA_BUILD_GUI=OFF -DKELVARA_BUILD_TESTS=OFF -DKELVARA_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target kelvara_fuzzers

if [ $# -gt 0 ]; then
    TARGETS=("$@")
else
    TARGETS=()
    for dir in "$ROOT"/tests/fuzz/corpus/*/; do
        TARGETS+=("$(basename "$dir")")
    done
fi

ARTIFACTS=$BUILD/fuzz-artifacts
LOGS=$BUILD/fuzz-logs
mkdir -p "$ARTIFACTS" "$LOGS"
# Leaks count as findings; a sanitizer report ends the run with a stack that names the line.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for target in "${TARGETS[@]}"; do
    binary=$BUILD/fuzz/fuzz_$target
    seeds=$ROOT/tests/fuzz/corpus/$target
    if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
        echo "fuzz.sh: no fuzz target \"$target\"" >&2
        failed+=("$target")
        continue
    fi
    work=$BUILD/fuzz-corpus/$target
    mkdir -p "$work"
    cp -n "$seeds"/* "$work"/ 2>/dev/null || true
    args=(-max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$ARTIFACTS/$target-")
    dict=$ROOT/tests/fuzz/$target.dict
    [ -f "$dict" ] && args+=(-dict="$dict")
    log=$LOGS/$target.log
    echo "== $target: ${SECONDS_PER_TARGET} s"
    status=0
    "$binary" "${args[@]}" "$work" >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    # The last status line of libFuzzer ("#N DONE cov: C ft: F ...", or the last pulse/new line).
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corpus=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
    line=$(printf '%-14s execs %-10s cov %-6s ft %-7s corpus %s' "$target" "${execs:-?}" \
        "${cov:-?}" "${ft:-?}" "${corpus:-?}")
    if [ "$status" -ne 0 ]; then
        line+="   FAILED (exit $status, see $log)"
        failed+=("$target")
        grep -E 'ERROR: |property violated|SUMMARY: |Test unit written' "$log" | head -8 || true
    fi
    summary+=("$line")
    echo "$line"
done

echo
echo "== fuzz summary (${SECONDS_PER_TARGET} s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: findings in: ${failed[*]} (inputs in $ARTIFACTS)" >&2
    exit 1
fi
