#!/usr/bin/env bash
# Builds and runs every test: the suite, the package checks (left out of a plain `ctest`), the
# same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, each fuzz target for
# FUZZ_SECONDS (default 10 here), and the quick benchmarks (their table is printed; a missed
# target does not fail the run).
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
ZARVIK_CMAKE_ARGS=-DZARVIK_CI_BUILD=ON "$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}

run_isolated() {
    if [ "$(id -u)" -eq 0 ]; then
        unshare -n -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    else
        unshare -r -n -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    fi
}

suite_log=$(mktemp)
package_log=$(mktemp)
sanitized_log=$(mktemp)
trap 'rm -f "$suite_log" "$package_log" "$sanitized_log"' EXIT
# ctest's own summary line ("100% tests passed, 0 tests failed out of N"), as it printed it.
summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n 1; }
# The tests are independent (own ports, folders, windows), so they run side by side.
jobs=-j$(nproc)

# tst_debinstall's fresh Debian root is fetched once, while the network is still there.
if [ "$quick" -eq 0 ] && [ "$(id -u)" -eq 0 ]; then
    "$root/tests/app/tst_debinstall.sh" "$(command -v cmake)" "$build" --prepare ||
        echo "no cached Debian root: tst_debinstall will skip"
fi

echo "== Test suite"
status=0
run_isolated ctest --test-dir "$build" --output-on-failure "$jobs" "$@" | tee "$suite_log" ||
    status=$?
if [ "$quick" -eq 1 ] || [ "$status" -ne 0 ]; then
    echo "suite: $(summary "$suite_log")"
    exit "$status"
fi

echo "== Package checks (the installed files, the Debian package and its install with apt)"
run_isolated ctest --test-dir "$build" --output-on-failure "$jobs" -C package -L package "$@" |
    tee "$package_log" || status=$?
if [ "$status" -eq 0 ]; then
    echo "== Test suite with AddressSanitizer and UndefinedBehaviorSanitizer"
    "$root/tools/sanitize.sh" "$jobs" "$@" | tee "$sanitized_log" || status=$?
fi
if [ "$status" -eq 0 ]; then
    echo "== Fuzzing"
    # Long enough to try each target's corpus and a little beyond; tools/fuzz.sh alone runs longer.
    FUZZ_SECONDS=${FUZZ_SECONDS:-10} "$root/tools/fuzz.sh" || status=$?
fi
if [ "$status" -eq 0 ]; then
    echo "== Benchmarks (quick: without the 60-second idle measurement)"
    BUILD_DIR=$build "$root/bench/run.sh" --quick || status=$?
fi
# ctest's summaries come last, so they are the last thing a reader sees.
echo "suite: $(summary "$suite_log")"
echo "package checks: $(summary "$package_log")"
echo "sanitizer suite: $(summary "$sanitized_log")"
exit "$status"
