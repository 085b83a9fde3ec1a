#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ (or $FUZZ_BUILD_DIR) and
# runs each for FUZZ_SECONDS (default 60) from a scratch copy of its seed corpus, so nothing new
# lands in the repository. Exits non-zero on any crash, broken invariant, leak, timeout or
# sanitizer report; the input that caused it is kept in <build>/fuzz-artifacts/.
# Usage: tools/fuzz.sh [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(fuzz_reply_decoder fuzz_inifile fuzz_mailmessage)
[ $# -gt 0 ] && targets=("$@")

"$root/tools/install-deps.sh"
"$root/tools/configure.sh" "$build" -DCMAKE_CXX_COMPILER=clang++ -DZARVIK_FUZZ=ON \
    -DBUILD_TESTING=OFF -DZARVIK_CI_BUILD=ON
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"

# The INI target saves a file on every run; on tmpfs its fsync calls cost nothing.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zarvik-fuzz.XXXXXX")
files=$(mktemp -d "$shm/zarvik-fuzz-files.XXXXXX")
trap 'rm -rf "$scratch" "$files"' EXIT
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0

# One target per core at a time: each still has the whole of its time on a core of its own.
run_target() {
    local target=$1 corpus=$scratch/$1 options=() status=0
    mkdir -p "$corpus"
    cp -R "$root/tests/fuzz/corpus/$target/." "$corpus/"
    # The board's reply is 8 bytes; longer inputs only make the status line longer.
    [ "$target" = fuzz_reply_decoder ] && options+=(-max_len=64)
    TMPDIR=$files "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
        "${options[@]}" "$corpus" >"$scratch/$target.log" 2>&1 || status=$?
    echo "$status" >"$scratch/$target.status"
}

running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    run_target "$target" &
    running=$((running + 1))
done
wait

failed=0
for target in "${targets[@]}"; do
    log=$scratch/$target.log
    status=$(cat "$scratch/$target.status")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    # Reports that do not stop the run still fail it.
    if grep -qE "runtime error:|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer" "$log"; then
        [ "$status" -ne 0 ] || status=1
    fi
    if [ "$status" -eq 0 ]; then
        echo "$target: ok, ${execs:-?} execs in $seconds s (${rate:-?}/s)"
    else
        failed=1
        echo "$target: FAILED (exit $status) after ${execs:-?} execs; log tail:"
        tail -n 60 "$log"
        echo "$target: inputs kept in $artifacts"
    fi
done
exit "$failed"
