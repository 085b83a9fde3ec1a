#!/usr/bin/env bash
# Makes a Debian 12 root at DIR as a fresh minimal machine has it (debootstrap, minbase), and
# installs the packages named after DIR into it (a path to a .deb installs that package and
# what it depends on). Needs root and Debian's package registry.
# Usage: tools/fresh-root.sh DIR [PACKAGE|./FILE.deb...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { echo "usage: $0 DIR [PACKAGE...]" >&2; exit 2; }
dir=$1
shift
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "$0: debootstrap not found: run tools/install-deps.sh" >&2; exit 1; }
if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    echo "$0: $dir is not empty" >&2
    exit 1
fi
mirror=${ZARVIK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
debootstrap --variant=minbase bookworm "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 || {
    tail -n 20 "$dir.debootstrap.log" >&2
    exit 1
}
rm -f "$dir.debootstrap.log"
# A root never boots: services installed into it are not started (invoke-rc.d, deb-systemd-invoke).
printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
chmod 755 "$dir/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null || true
if [ $# -gt 0 ]; then
    args=()
    for p in "$@"; do
        if [[ $p == *.deb ]]; then
            mkdir -p "$dir/tmp/debs"
            cp "$p" "$dir/tmp/debs/"
            args+=("/tmp/debs/$(basename "$p")")
        else
            args+=("$p")
        fi
    done
    "$here/in-root.sh" "$dir" apt-get update -q
    "$here/in-root.sh" "$dir" apt-get install -y -q --no-install-recommends "${args[@]}"
    rm -rf "$dir/tmp/debs"
fi
