#!/usr/bin/env bash
# Builds Brisal and starts it in a game directory.
#   scripts/run.sh            starts it in run/game (created, with its data/ directory)
#   scripts/run.sh GAME_DIR   starts it in GAME_DIR, the directory that holds the game's data/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build" -DBRISAL_BUILD_TESTS=OFF

game_dir=${1:-"$root/run/game"}
mkdir -p "$game_dir/data"
cd "$game_dir"
echo "Starting Brisal in $(pwd)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running on a virtual X display (xvfb-run), so no window is visible."
    exec xvfb-run -a "$root/build/app/brisal"
fi
exec "$root/build/app/brisal"
