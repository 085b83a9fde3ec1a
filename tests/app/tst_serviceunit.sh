#!/usr/bin/env bash
# Installs the service's systemd unit as a user would and has systemd-analyze verify it: every
# key known to this systemd, and the executable it starts where the install put it.
# Usage: tst_serviceunit.sh CMAKE BUILD_DIR UNIT_DIR (UNIT_DIR relative to the install prefix)
set -euo pipefail
cmake=$1
build=$2
unit_dir=$3
command -v systemd-analyze >/dev/null || { echo "systemd-analyze not found: skipped"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Another prefix than the configured one: the unit has to follow it. The executable is built
# elsewhere; a stand-in is enough for verify, which only checks that it can be run.
prefix=$tmp/prefix
"$cmake" --install "$build" --component service --prefix "$prefix" >/dev/null
unit=$prefix/$unit_dir/zarvik-maild.service
[ -f "$unit" ] || fail "no unit at $unit"
mkdir -p "$prefix/bin"
printf '#!/bin/sh\n' >"$prefix/bin/zarvik-maild"
chmod 755 "$prefix/bin/zarvik-maild"

# verify exits 0 after mere warnings (an unknown key, a value it ignores): any line it says about
# our unit fails the test. Lines about the host's own units are not ours to judge.
status=0
out=$(cd "$tmp" && systemd-analyze verify --man=no --recursive-errors=no "$unit" 2>&1) || status=$?
[ -z "$out" ] || printf '%s\n' "$out"
[ "$status" -eq 0 ] || fail "systemd-analyze verify exited with $status"
if grep -q 'zarvik-maild' <<<"$out"; then fail "systemd-analyze verify warned about the unit"; fi

# A package build stages into DESTDIR: the unit names the executable's final place, not the stage.
DESTDIR=$tmp/stage "$cmake" --install "$build" --component service --prefix /usr >/dev/null
staged=$tmp/stage/usr/$unit_dir/zarvik-maild.service
grep -q '^ExecStart=/usr/bin/zarvik-maild ' "$staged" || fail "staged unit: $(grep ExecStart= "$staged")"
# Its man page for `systemctl status`; a missing settings file (status 1) is not retried in vain.
for key in 'Documentation=man:zarvik-maild(8)' 'RestartPreventExitStatus=1'; do
    grep -qxF "$key" "$unit" || fail "the unit lacks $key"
done
echo "unit verified: $unit"
