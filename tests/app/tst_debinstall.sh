#!/usr/bin/env bash
# The Debian package in a fresh Debian 12 root: installed, enabled by the administrator, upgraded,
# removed and purged with apt, as dh_installsystemd would look after its service. systemd is not
# PID 1 in a chroot; a stand-in systemctl records what the maintainer scripts ask of it.
# Usage: tst_debinstall.sh CMAKE BUILD_DIR [--prepare]
# --prepare only makes the cached root (needs Debian's package registry), for tools/test.sh to
# run before it enters its network namespace.
set -euo pipefail
cmake=$1
build=$(realpath "$2")
prepare=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
# A fresh root and the package's dependencies take minutes to fetch: made once, copied per run.
cache=${ZARVIK_ROOT_CACHE:-/var/cache/zarvik-mail-tests}/bookworm-package
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "needs root to chroot into a root of its own"
[ -z "$prepare" ] || [ ! -d "$cache" ] || exit 0
for tool in debootstrap chroot unshare dpkg-deb; do
    command -v "$tool" >/dev/null || skip "$tool not found: run tools/install-deps.sh"
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cpack=$(dirname "$cmake")/cpack
make_deb() { # make_deb FOLDER [cpack options]: the package as a user makes it
    local out=$1
    shift
    (cd "$tmp" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" "$@") \
        >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log" >&2; fail "cpack" >&2; }
    ls "$out"/*.deb
}
deb=$(make_deb "$tmp/deb")
version=$(dpkg-deb -f "$deb" Version)

if [ ! -d "$cache" ]; then
    echo "making the cached root $cache (once; minutes)"
    rm -rf "$cache.new"
    mkdir -p "$(dirname "$cache")"
    # The package brings its dependencies in, then goes: the root keeps them, and systemd, which
    # a machine running the service has.
    if ! "$tools/fresh-root.sh" "$cache.new" systemd "$deb" >"$tmp/root.log" 2>&1 ||
        ! "$tools/in-root.sh" "$cache.new" dpkg --purge zarvik-mail >>"$tmp/root.log" 2>&1; then
        tail -n 5 "$tmp/root.log"
        rm -rf "$cache.new"
        skip "no cached root at $cache, and none could be made here (Debian's package registry" \
            "unreachable?): run tools/test.sh, which makes it before it cuts the network, or" \
            "this test outside a network namespace"
    fi
    "$tools/in-root.sh" "$cache.new" apt-get clean
    mv "$cache.new" "$cache"
fi
[ -z "$prepare" ] || exit 0

root=$tmp/root
cp -a "$cache" "$root"
mkdir -p "$root/tmp/debs"
cp "$deb" "$root/tmp/debs/"
# The upgrade: the same build as a later version.
cp "$(make_deb "$tmp/deb2" -R "$version.1")" "$root/tmp/debs/"
in_root() { "$tools/in-root.sh" "$root" "$@"; }
apt_get() {
    in_root apt-get -y -q --no-install-recommends "$@" >"$tmp/apt.log" 2>&1 || {
        cat "$tmp/apt.log"
        if grep -Eq 'Failed to fetch|Temporary failure resolving|Unable to fetch' "$tmp/apt.log"; then
            skip "$cache lacks a dependency of the package: remove it to have it made again"
        fi
        fail "apt-get $*"
    }
}
new=/tmp/debs/$(basename "$deb")
newer=/tmp/debs/zarvik-mail_${version}.1_$(dpkg-deb -f "$deb" Architecture).deb
wants=/etc/systemd/system/multi-user.target.wants/zarvik-maild.service
dsh=/var/lib/systemd/deb-systemd-helper-enabled
has() { [ -e "$root$1" ] || [ -L "$root$1" ]; }
# What systemd would have made at the service's first start (DynamicUser=, StateDirectory=), and
# the administrator's settings.
used() {
    mkdir -p "$root/var/lib/private/zarvik-mail/ZARVIK_Mail.outbox" "$root/etc/zarvik-mail"
    ln -sfn private/zarvik-mail "$root/var/lib/zarvik-mail"
    echo 'time,temperature_celsius,rb1,rb0' >"$root/var/lib/private/zarvik-mail/ZARVIK_Mail-x.csv"
    printf '[ZARVIK]\r\nAddress=127.0.0.1\r\n' >"$root/etc/zarvik-mail/ZARVIK_Mail.ini"
}
purged() {
    for path in $wants $dsh/zarvik-maild.service.dsh-also /var/lib/private/zarvik-mail \
        /var/lib/zarvik-mail; do
        ! has "$path" || fail "left after purge: $path"
    done
    ! in_root dpkg-query -W zarvik-mail >/dev/null 2>&1 || fail "still known to dpkg after purge"
    while read -r file; do
        [ -d "$root$file" ] || ! has "$file" || fail "left after purge: $file"
    done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's,^\.,,')
    has /etc/zarvik-mail/ZARVIK_Mail.ini || fail "purge took the administrator's settings"
}

echo "== installed, enabled, removed, purged"
apt_get install "$new"
! has "$wants" || fail "enabled on a fresh install"
grep -qx "$wants" "$root$dsh/zarvik-maild.service.dsh-also" ||
    fail "deb-systemd-helper does not know the enable link: purge would leave it"
in_root systemctl enable zarvik-maild.service >/dev/null 2>&1 || fail "systemctl enable"
has "$wants" || fail "no enable link after systemctl enable"
used
apt_get remove zarvik-mail
! has /usr/bin/zarvik-maild || fail "removed, but the executable is still there"
has /var/lib/private/zarvik-mail/ZARVIK_Mail-x.csv || fail "remove took the service's state"
apt_get purge zarvik-mail
purged

echo "== with systemd running (a stand-in): installed, enabled, upgraded, purged"
mkdir -p "$root/run/systemd/system"
mv "$root/usr/bin/systemctl" "$root/usr/bin/systemctl.real"
# Says the unit is enabled and active, as after `systemctl enable --now`, and notes each call.
cat >"$root/usr/bin/systemctl" <<'STUB'
#!/bin/sh
echo "$*" >>/tmp/systemctl.log
exit 0
STUB
chmod 755 "$root/usr/bin/systemctl"
rm -f "$root/usr/sbin/policy-rc.d" # the machine's services may be started and stopped
calls() { cat "$root/tmp/systemctl.log" 2>/dev/null; : >"$root/tmp/systemctl.log"; }
apt_get install "$new"
said=$(calls)
grep -q 'daemon-reload' <<<"$said" || fail "no daemon-reload on install: $said"
! grep -Eq '(start|restart|enable) ' <<<"$said" || fail "started or enabled on a fresh install: $said"
in_root systemctl.real --root=/ enable zarvik-maild.service >/dev/null 2>&1 || fail "systemctl enable"
used
apt_get install "$newer"
said=$(calls)
grep -q 'daemon-reload' <<<"$said" || fail "no daemon-reload on upgrade: $said"
grep -qx 'try-restart zarvik-maild.service' <<<"$said" || fail "not restarted on upgrade: $said"
! grep -q '^stop ' <<<"$said" || fail "stopped for an upgrade: $said"
has "$wants" || fail "the upgrade lost the enable link"
[ "$(in_root dpkg-query -W -f='${Version}' zarvik-mail)" = "$version.1" ] || fail "not upgraded"
apt_get purge zarvik-mail
said=$(calls)
grep -qx 'stop zarvik-maild.service' <<<"$said" || fail "not stopped on purge: $said"
grep -A100 '^stop ' <<<"$said" | grep -q 'daemon-reload' || fail "no daemon-reload after the stop: $said"
purged
echo "package installed, upgraded, removed and purged in a fresh root"
echo "not checked here (no systemd as PID 1): that systemd stops, restarts and forgets the" \
    "service when asked, and makes its state folder"
