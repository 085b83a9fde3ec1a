#!/usr/bin/env bash
# Runs a command chrooted in ROOT with /proc, /sys and /dev mounted, and unmounts them after.
# The mounts are made in a mount namespace of the command's own, so even a killed run leaves none
# behind on the machine. Needs root. Usage: tools/in-root.sh ROOT COMMAND [ARGUMENT...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 ROOT COMMAND [ARGUMENT...]" >&2; exit 2; }
root=$(realpath "$1")
shift
# Inside another such root (tools/prove-fresh.sh running the tests) "/" is no mount point and
# cannot be made private; its mounts already are, being this script's own.
propagation=private
unshare -m --propagation private true 2>/dev/null || propagation=unchanged
# shellcheck disable=SC2016 # expanded by the inner shell
exec unshare -m --propagation "$propagation" -- bash -c '
    set -euo pipefail
    root=$1
    shift
    trap "umount -R \"\$root/dev\" \"\$root/sys\" \"\$root/proc\" 2>/dev/null || true" EXIT
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    status=0
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@" || status=$?
    exit "$status"' in-root "$root" "$@"
