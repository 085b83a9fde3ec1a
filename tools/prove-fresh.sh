#!/usr/bin/env bash
# Proves that the project's own install step is all a fresh Debian 12 machine needs: makes a
# minimal bookworm root with debootstrap, copies the checkout's tracked files in, and runs
# tools/install-deps.sh and then tools/test.sh --quick inside it. Needs root and Debian's package
# registry; takes a while (the whole build, on the machine's cores).
# Usage: tools/prove-fresh.sh [DIR]   (default /var/tmp/zarvik-prove-fresh, made afresh, removed
# after unless KEEP_ROOT=1)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "$here/.." && pwd)
dir=${1:-/var/tmp/zarvik-prove-fresh}
started=$(date +%s)
rm -rf "$dir"
[ "${KEEP_ROOT:-0}" = 1 ] || trap 'rm -rf "$dir"' EXIT
echo "== fresh root in $dir"
"$here/fresh-root.sh" "$dir"
echo "== checkout (git ls-files) into $dir/src"
mkdir -p "$dir/src"
git -C "$checkout" ls-files -z | (cd "$checkout" && tar --null -T - -cf -) | tar -xf - -C "$dir/src"
status=0
"$here/in-root.sh" "$dir" bash -c 'cd /src && tools/install-deps.sh && tools/test.sh --quick' ||
    status=$?
echo "prove-fresh: exit $status after $(( ($(date +%s) - started) / 60 )) min"
exit "$status"
