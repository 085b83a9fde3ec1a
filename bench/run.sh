#!/usr/bin/env bash
# Builds the program and the benchmarks into build-bench/ (or $BUILD_DIR) and prints the
# benchmark report as markdown. Everything runs inside a private network namespace with only
# loopback up; the program only ever talks to the simulated board and SMTP server on 127.0.0.1.
#
#   bench/run.sh [--quick] [--runs N] [--samples N] [--mails N]
#   bench/run.sh --history [--samples N]
#   bench/run.sh --metrics [--runs N]
#   bench/run.sh --pushbox [--seconds S]
#
# --quick skips the 60-second idle CPU measurements. --history measures reply handling with the
# trend window closed and open over histories up to a day (bench_history) instead. See
# bench/README.md. --metrics measures memory after start with the metrics server off and on.
# --pushbox measures the CPU the retry rounds take with 1,000 and 5,000 kept pushes against a
# server answering 503 (bench_pushbox).
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
    "$root/tools/configure.sh" "$build" -DBUILD_TESTING=OFF
if [ "${1:-}" = --history ]; then
    samples=1000
    [ "${2:-}" = --samples ] && samples=$3
    cmake --build "$build" -j"${JOBS:-$(nproc)}" --target bench_history >/dev/null
    echo "Command: \`$command_line\`; $(nproc) CPUs; $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo
    echo "| configuration | history | chart points | reply → handler done, median / p99 µs |" \
        "reply → alert pass done, median / p99 µs | reply → chart repainted, median / p99 µs |" \
        "view step µs | start with the log loaded ms | VmRSS MiB |"
    echo "|---|---|---|---|---|---|---|---|---|"
    for config in closed-empty closed-day open-hour open-day-hourview open-day-dayview; do
        out=$(QT_QPA_PLATFORM=offscreen "$build/bench/bench_history" --config "$config" \
            --samples "$samples" 2>/dev/null)
        v() { awk -v k="$1" '$1 == k { printf "%.0f", $2; found = 1 } END { if (!found) printf "–" }' <<<"$out"; }
        echo "| $config | $(v history_points) | $(v chart_points) |" \
            "$(v handler_median_us) / $(v handler_p99_us) | $(v pass_median_us) / $(v pass_p99_us) |" \
            "$(v paint_median_us) / $(v paint_p99_us) | $(v axis_step_median_us) |" \
            "$(v start_with_history_ms) | $(awk '$1 == "vmrss_mib" { printf "%.1f", $2 }' <<<"$out") |"
    done
    exit 0
fi
if [ "${1:-}" = --pushbox ]; then
    seconds=20
    [ "${2:-}" = --seconds ] && seconds=$3
    cmake --build "$build" -j"${JOBS:-$(nproc)}" --target bench_pushbox >/dev/null
    echo "Command: \`$command_line\`; $(nproc) CPUs; $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo
    echo "| kept pushes | window s | CPU s | CPU share of one core | requests to the server |"
    echo "|---|---|---|---|---|"
    for kept in 1000 5000; do
        out=$("$build/bench/bench_pushbox" --sink "$root/tools/http_sink.py" --kept "$kept" \
            --seconds "$seconds")
        v() { awk -v k="$1" '$1 == k { print $2 }' <<<"$out"; }
        echo "| $kept | $(v wall_seconds) | $(v cpu_seconds) | $(v cpu_share_percent) % | $(v requests) |"
    done
    exit 0
fi
cmake --build "$build" -j"${JOBS:-$(nproc)}" \
    --target ZARVIK_Mail zarvik-maild zarvik-sim bench_inprocess minimal_sender \
    minimal_core_sender >/dev/null

exec /usr/bin/python3 "$root/bench/measure.py" --build "$build" --command "$command_line" "$@"
