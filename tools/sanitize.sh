#!/usr/bin/env bash
# Builds the test suite with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (or
# $SANITIZE_BUILD_DIR) and runs every test, inside a private network namespace with only
# loopback up. Any sanitizer report, leaks included, fails the test it happens in.
# Extra arguments go to ctest, e.g. tools/sanitize.sh -R tst_inifile
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SANITIZE_BUILD_DIR:-$root/build-asan}

"$root/tools/install-deps.sh"
"$root/tools/configure.sh" "$build" -DZARVIK_SANITIZE=ON -DZARVIK_CI_BUILD=ON
# Only what the suite runs: each test target brings the peers it needs, the benchmarks stay out.
mapfile -t tests < <(ctest --test-dir "$build" -N | sed -n 's/^ *Test *#[0-9]*: *//p')
# A test that runs a script (tst_serviceunit) has no target of its own: only names the build knows.
known=$(cmake --build "$build" --target help | sed -n 's/^\([^ :]*\): .*/\1/p')
targets=()
for t in "${tests[@]}"; do
    if grep -qxF -- "$t" <<<"$known"; then targets+=(--target "$t"); fi
done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"

# Children of the tests (the simulated board, the program itself) inherit these. An ASan or
# LSan report exits with 1, a UBSan one aborts: the test fails either way.
asan=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1
# intercept_strndup=0: libxkbcommon-x11 hands strndup() a buffer shorter than its limit (legal,
# strndup stops at the NUL), which the interceptor reports as an overflow when the program
# connects to an X server.
export ASAN_OPTIONS=$asan:strict_string_checks=1:check_initialization_order=1:intercept_strndup=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0

run_isolated() {
    if [ "$(id -u)" -eq 0 ]; then
        unshare -n -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    else
        unshare -r -n -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    fi
}

run_isolated ctest --test-dir "$build" --output-on-failure "$@"
