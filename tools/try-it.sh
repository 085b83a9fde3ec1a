#!/usr/bin/env bash
# Builds ZARVIK Mail and runs it against the simulated board and a local mail server, so the
# whole thing can be tried without a board: live readings at once, and after a few seconds the
# simulated temperature crosses the upper limit, the window shows the alert and the mail that
# the program sent is printed here.
#
# Everything stays on 127.0.0.1: board on port 10001, mail server on port 2525. The program
# runs from try/ with its own settings file there. Without a display, the window runs under
# Xvfb for a while, a screenshot is saved and its path printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh" ZARVIK_Mail zarvik-sim
build=${BUILD_DIR:-$root/build}
work=$root/try
mkdir -p "$work"
cp "$build/app/ZARVIK_Mail" "$work/ZARVIK_Mail"
ini=$work/ZARVIK_Mail.ini

if [ ! -f "$ini" ]; then
    printf '%s\r\n' \
        '[Location]' 'Left=40' 'Top=40' \
        '[ZARVIK]' 'Address=127.0.0.1' 'Port=10001' 'Cycle=5000' \
        '[Temp]' 'UTemp=30' 'LTemp=0' 'Check_U=1' 'Check_L=0' \
        '[Sensor]' 'RB1=0' 'RB0=2' \
        '[Mail]' 'Priority=1' 'Address=127.0.0.1:2525' 'User=try-it' \
        'From=ZARVIK Mail <zarvik@localhost>' 'To=you@localhost' >"$ini"
fi
# This script's peers live on loopback only; never let it poll a board elsewhere.
if ! grep -qiE '^[[:space:]]*Address[[:space:]]*=[[:space:]]*(127\.|localhost)' "$ini"; then
    echo "try/ZARVIK_Mail.ini names a board that is not on 127.0.0.1; delete it to start afresh." >&2
    exit 1
fi

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$work/sim.in"
}
trap cleanup EXIT

rm -f "$work/sim.in"
mkfifo "$work/sim.in"
"$build/tools/zarvik-sim" --port 10001 --temp 25.0 <"$work/sim.in" >"$work/board.log" 2>&1 &
pids+=($!)
exec 3>"$work/sim.in"

/usr/bin/python3 "$root/tools/smtp_sink.py" --port 2525 --print --maildir "$work/mail" &
pids+=($!)
sleep 1

# After a few seconds the board warms up past the limit and RB1 goes high.
(sleep 5 && echo "temp 31.5" >&3 && echo "rb1 1" >&3) &
pids+=($!)

if [ -n "${DISPLAY:-}" ]; then
    echo "ZARVIK Mail is running; close its window to stop."
    (cd "$work" && ./ZARVIK_Mail)
    exit 0
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
(cd "$work" && DISPLAY=$display ./ZARVIK_Mail) &
app=$!
pids+=($app)
sleep "${ZARVIK_TRY_SECONDS:-12}"
DISPLAY=$display import -window root "$work/screenshot.png"
kill -TERM "$app" # closes the window the normal way, so the settings are saved
wait "$app" || true
echo "Screenshot: $work/screenshot.png"
echo "Settings saved in: $ini"
