#!/usr/bin/env bash
# Starts the real program on a virtual X display (Xvfb) in a fresh temporary game directory
# and captures the screen as it opens, in the connect layout:
#   scripts/screenshot.sh [OUT.png]      (default: build/screenshot.png)
# There is no window manager on that display, so the window's client area sits exactly at
# its designed position, 515,150: a control designed at (x, y) is at (515 + x, 150 + y).
# The script also writes OUT-window.png, the window's client area cut out of the screen.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out=$(realpath -m "${1:-$root/build/screenshot.png}")
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
mkdir -p "$(dirname "$out")"

game=$(mktemp -d)
trap 'rm -rf "$game"' EXIT
mkdir "$game/data"
cd "$game"

export BRISAL_BIN="$root/build/app/brisal" OUT="$out"
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    "$BRISAL_BIN" &
    pid=$!
    for _ in $(seq 100); do
        if xwininfo -root -tree | grep -q "\"Brisal v2.3\""; then break; fi
        sleep 0.1
    done
    sleep 1 # let it paint
    import -window root "$OUT"
    kill "$pid"
    wait "$pid" || true
'
convert "$out" -crop 910x660+515+150 +repage "${out%.png}-window.png"
echo "Screen: $out"
echo "Window: ${out%.png}-window.png"
