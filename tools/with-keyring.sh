#!/usr/bin/env bash
# Runs a command with a keyring of its own: a private D-Bus session bus with gnome-keyring's
# Secret Service on it, its "login" collection unlocked and the default, kept in a throw-away
# home. Bus, daemon and home are gone when the command ends; its exit status is passed on.
#
#   tools/with-keyring.sh secret-tool lookup service "ZARVIK Mail" key k
#
# Needs dbus-run-session (dbus-daemon, dbus-bin) and gnome-keyring-daemon (gnome-keyring).
set -euo pipefail

if [ "${1:-}" != --on-private-bus ]; then
    for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
        if ! command -v "$tool" >/dev/null; then
            echo "with-keyring.sh: $tool is missing; run tools/install-deps.sh" \
                "(packages dbus-daemon dbus-bin gnome-keyring)" >&2
            exit 127
        fi
    done
    [ $# -gt 0 ] || { echo "usage: with-keyring.sh COMMAND [ARGUMENT...]" >&2; exit 2; }
    exec dbus-run-session -- "$0" --on-private-bus "$@"
fi
shift

home=$(mktemp -d "${TMPDIR:-/tmp}/zarvik-keyring.XXXXXX")
daemon=
command=
cleanup() {
    for pid in $command $daemon; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
mkdir -m 700 "$home/runtime"
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config
export XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/runtime

# The password makes the "login" collection on the spot, unlocked and the default alias.
# No display: the daemon must never wait for someone to answer a prompt.
printf '%s' zarvik-test |
    env -u DISPLAY -u WAYLAND_DISPLAY gnome-keyring-daemon --foreground --unlock \
        --components=secrets >"$home/daemon.log" 2>&1 &
daemon=$!

owned() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
        grep -q true
}
# The bus would start a second, locked daemon for a caller that came before ours is up.
for _ in $(seq 200); do
    owned && break
    if ! kill -0 "$daemon" 2>/dev/null; then
        echo "with-keyring.sh: gnome-keyring-daemon ended at start:" >&2
        cat "$home/daemon.log" >&2
        exit 1
    fi
    sleep 0.05
done
if ! owned; then
    echo "with-keyring.sh: no Secret Service on the bus after 10 s:" >&2
    cat "$home/daemon.log" >&2
    exit 1
fi

# Not exec: the daemon is stopped when the command ends, whichever way it ends. In the
# background so that a signal to this script is handled at once; killed, it takes the command.
setpriv --pdeathsig KILL -- "$@" <&0 &
command=$!
status=0
wait "$command" || status=$?
command=
exit "$status"
