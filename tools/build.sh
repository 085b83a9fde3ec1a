#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Arguments name targets; none builds all.
# $ZARVIK_CMAKE_ARGS adds configure options (tools/test.sh passes -DZARVIK_CI_BUILD=ON).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
# shellcheck disable=SC2086 # options are words
"$root/tools/configure.sh" "$build" ${ZARVIK_CMAKE_ARGS:-}
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
