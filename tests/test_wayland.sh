#!/usr/bin/env bash
# The player on a Wayland desktop, with no X server at all: a headless
# compositor, a private sound server with a null sink whose monitor is
# recorded. The player starts as a Wayland client, a WAV handed over by the
# `tunabel` command is heard, and the session's end (SIGTERM) closes it with
# its session saved.
#   test_wayland.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/tunabel-wayland.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in weston player pulse; do [ -s "$tmp/$log.log" ] && { echo "--- $log" >&2; tail -n 60 "$tmp/$log.log" >&2; }; done
  exit 1
}
waitfor() { # seconds, command...
  local n=$(($1 * 10))
  shift
  for ((i = 0; i < n; ++i)); do "$@" && return 0; sleep 0.1; done
  return 1
}
for tool in weston pulseaudio parec pactl gst-launch-1.0; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$HOME/musique" "$XDG_CONFIG_HOME"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
unset DISPLAY PULSE_SERVER
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/pas-de-bus"

weston --backend=headless-backend.so --socket=wayland-tunabel --idle-time=0 >"$tmp/weston.log" 2>&1 &
pids+=($!)
waitfor 30 test -S "$XDG_RUNTIME_DIR/wayland-tunabel" || fail "the compositor did not start"

pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=out rate=44100" >"$tmp/pulse.log" 2>&1 &
pids+=($!)
waitfor 30 pactl info >/dev/null 2>&1 || fail "the sound server did not start"
pactl set-default-sink out
parec --device=out.monitor --format=s16le --rate=44100 --channels=1 --raw >"$tmp/heard.raw" &
pids+=($!)

song="$HOME/musique/la note.wav"
gst-launch-1.0 -q audiotestsrc freq=440 volume=0.5 num-buffers=130 ! audio/x-raw,rate=44100,channels=2 \
  ! wavenc ! filesink location="$song" || fail "the test tone could not be made"

export WAYLAND_DISPLAY=wayland-tunabel QT_QPA_PLATFORM=wayland
"$build/tunabel-player" >"$tmp/player.log" 2>&1 &
player=$!
pids+=($player)
waitfor 60 test -S "$XDG_RUNTIME_DIR/tunabel.socket" || fail "the player did not start"
waitfor 30 grep -q libQt6WaylandClient "/proc/$player/maps" || fail "the player is not a Wayland client"

"$build/tunabel" "$song" || fail "the hand-over failed"
loud() { # a sample over a quarter of full scale: the tone, not noise
  od -An -td2 -v "$tmp/heard.raw" | awk '{for (i = 1; i <= NF; ++i) if ($i > 8000 || $i < -8000) {found = 1; exit}} END {exit !found}'
}
waitfor 30 loud || fail "the WAV handed over was not heard"
grep -qi "tunabel-player.*crash\|segmentation" "$tmp/player.log" && fail "the player reported a crash"

kill -TERM "$player"
status=0
wait "$player" || status=$?
[ "$status" -eq 0 ] || fail "the player ended with status $status"
grep -q '^Volume=' "$XDG_CONFIG_HOME/Tunabel/Tunabel.ini" || fail "the session was not saved"
echo "played, handed over and closed on Wayland"
