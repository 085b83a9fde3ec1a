#!/usr/bin/env bash
# Builds and runs every test. The tests run inside a private network namespace with only
# loopback up, so nothing they do can reach beyond this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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

run_isolated ctest --test-dir "$build" --output-on-failure "$@"
