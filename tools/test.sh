#!/usr/bin/env bash
# Builds and runs every test: the suite, the same suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz target for FUZZ_SECONDS (default 60), and the quick
# benchmarks (their table is printed; a missed target does not fail the run).
# `--quick` runs the suite alone. Extra arguments go to ctest.
#
# Tests run inside a private network namespace with only loopback up, so nothing they do can
# reach beyond this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
if [ "${1:-}" = --quick ]; then
    quick=1
    shift
fi
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}

run_isolated() {
    if [ "$(id -u)" -eq 0 ]; then
        unshare -n -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    else
        unshare -r -n -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    fi
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# ctest's own summary, "100% tests passed, 0 tests failed out of N", gives N.
count() { sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1; }

echo "== Test suite"
run_isolated ctest --test-dir "$build" --output-on-failure "$@" | tee "$log"
suite=$(count)
if [ "$quick" -eq 1 ]; then
    echo "tests: $suite passed, 0 failed"
    exit 0
fi

echo "== Test suite with AddressSanitizer and UndefinedBehaviorSanitizer"
"$root/tools/sanitize.sh" "$@" | tee "$log"
sanitized=$(count)
echo "== Fuzzing"
"$root/tools/fuzz.sh"
echo "== Benchmarks (quick: without the 60-second idle measurement)"
BUILD_DIR=$build "$root/bench/run.sh" --quick
echo "tests: $((suite + sanitized + 3)) passed, 0 failed"
