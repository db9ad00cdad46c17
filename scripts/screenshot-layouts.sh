#!/usr/bin/env bash
# Plays one session on a virtual X display (Xvfb) and captures the window in each of its
# three layouts, as a player sees them:
#   scripts/screenshot-layouts.sh [OUTDIR]      (default: build/screenshots)
# writes OUTDIR/connect.png, OUTDIR/join.png and OUTDIR/chat.png (the window's client area).
# A private ngircd on a free local port plays the IRC server and ii a second user; xdotool
# types and clicks as the player would; the game drops its command file into data/.
# There is no window manager on that display, so the client area sits at 515,150 and a
# control designed at (x, y) is at (515 + x, 150 + y).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out=$(realpath -m "${1:-$root/build/screenshots}")
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"
mkdir -p "$out"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/game/data" "$work/irc" "$work/ii"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/irc/ngircd.conf" <<CONF
[Global]
    Name = irc.brisal.test
    Info = Brisal screenshot server
    AdminInfo1 = Brisal
    AdminInfo2 = 127.0.0.1
    AdminEMail = screenshots@brisal.test
    Listen = 127.0.0.1
    Ports = $port
    MotdFile = $work/irc/motd
[Limits]
    MaxPenaltyTime = 0
[Options]
    IncludeDir = $work/irc/conf.d
    DNS = no
    Ident = no
    PAM = no
CONF
echo "Brisal screenshot server" >"$work/irc/motd"
mkdir -p "$work/irc/conf.d"
/usr/sbin/ngircd --nodaemon --config "$work/irc/ngircd.conf" >"$work/irc/log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
    sleep 0.1
done

# The second user: in the channel first, so the player meets a conversation.
ii -s 127.0.0.1 -p "$port" -n alice -i "$work/ii" >"$work/ii.log" 2>&1 &
pids+=($!)
in="$work/ii/127.0.0.1/in"
for _ in $(seq 100); do [ -p "$in" ] && break; sleep 0.1; done
exec 4>"$in"
# A leading "/" makes ii send the rest to the server as written.
alice() { echo "/$1" >&4; }
echo "/j #velmor" >&4
for _ in $(seq 100); do [ -e "$work/ii/127.0.0.1/#velmor/out" ] && break; sleep 0.1; done
alice "TOPIC #velmor :Raid on the northern keep at nine"

cd "$work/game"
export BRISAL_BIN="$root/build/app/brisal" OUT="$out" PORT="$port" WORK="$work"
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    set -euo pipefail
    "$BRISAL_BIN" &
    pid=$!
    for _ in $(seq 100); do
        if xwininfo -root -tree | grep -q "\"Brisal v2.3\""; then break; fi
        sleep 0.1
    done
    sleep 1 # let it paint
    shot() { import -window root "$WORK/screen.png"; convert "$WORK/screen.png" -crop 910x660+515+150 +repage "$OUT/$1.png"; }
    # A control of the design at (x, y, w, h): click its middle.
    click() { xdotool mousemove $((515 + $1 + $3 / 2)) $((150 + $2 + $4 / 2)) click 1; sleep 0.2; }
    typein() { click "$@"; xdotool key ctrl+a; xdotool type --delay 20 "$5"; }

    typein 432 232 169 21 "player"
    typein 432 256 169 21 "127.0.0.1"
    typein 432 280 169 21 "$PORT"
    shot connect
    click 480 312 75 25                      # Connect
    sleep 1
    shot join
    click 293 360 75 25                      # Join Channel
    sleep 1
    alice() { echo "/$1" >"$WORK/ii/127.0.0.1/in"; }
    alice "PRIVMSG #velmor :Welcome, player! The keep is on fire."
    alice "MODE #velmor +v player"
    alice "PRIVMSG #velmor :$(printf "\001")ACTION sharpens her sword$(printf "\001")"
    click 8 592 873 21                       # the input line
    xdotool type --delay 20 "On my way."
    xdotool key Return
    sleep 0.5
    printf "SAY Velmor says hello\r\n" > data/X.txt
    sleep 2
    shot chat
    kill "$pid"
    wait "$pid" || true
'
alice "PRIVMSG #velmor :(screenshots taken)"
echo "Screenshots: $out/connect.png $out/join.png $out/chat.png"
