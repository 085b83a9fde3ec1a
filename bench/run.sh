#!/usr/bin/env bash
# Builds the program and the benchmarks into build-bench/ (or $BUILD_DIR) and prints the
# benchmark report as markdown. Everything runs inside a private network namespace with only
# loopback up; the program only ever talks to the simulated board and SMTP server on 127.0.0.1.
#
#   bench/run.sh [--quick] [--runs N] [--samples N] [--mails N]
#
# --quick skips the 60-second idle CPU measurement. See bench/README.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
command_line="bench/run.sh${*:+ $*}"

if [ -z "${ZARVIK_BENCH_ISOLATED:-}" ]; then
    export ZARVIK_BENCH_ISOLATED=1
    isolate=(unshare -n)
    [ "$(id -u)" -eq 0 ] || isolate=(unshare -r -n)
    exec "${isolate[@]}" -- bash -c 'ip link set lo up && exec "$@"' isolated \
        "$root/bench/run.sh" "$@"
fi

missing=()
for tool in cmake Xvfb curl /usr/bin/python3; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || missing+=("python3-aiosmtpd")
if [ ${#missing[@]} -gt 0 ]; then
    echo "Not installed: ${missing[*]} (Debian packages: cmake, xvfb, curl, python3," \
        "python3-aiosmtpd). Without Xvfb the windows run offscreen; without curl the mail" \
        "timing has no peer." >&2
fi

build=${BUILD_DIR:-$root/build-bench}
# An existing build (the test command's) is reused as it is configured.
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -G "Unix Makefiles" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}" \
    --target ZARVIK_Mail zarvik-sim bench_inprocess minimal_sender >/dev/null

exec /usr/bin/python3 "$root/bench/measure.py" --build "$build" --command "$command_line" "$@"
