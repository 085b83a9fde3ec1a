#!/usr/bin/env bash
# Configures a build folder with Ninja: usage tools/configure.sh BUILD_DIR [cmake options...].
# Ninja keeps both cores busy where make waits on each target's code generation in turn. A
# folder configured earlier with another generator is configured afresh (its cache is dropped;
# compiled objects are rebuilt).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
cache=$build/CMakeCache.txt
if [ -f "$cache" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$cache"; then
    rm -rf "$cache" "$build/CMakeFiles"
fi
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
