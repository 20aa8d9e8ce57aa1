#!/usr/bin/env bash
# The player on a Wayland desktop, with no X server at all: a headless
# compositor, a private sound server with a null sink whose monitor is
# recorded. The player starts as a Wayland client; a film handed over by the
# `tunabel` command is heard and shown inside the player's window (a
# screenshot of the compositor); a WAV handed over after it is heard and the
# film's picture is gone; the session's end (SIGTERM) closes the player with
# its session saved.
#   test_wayland.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/support/session.sh" wayland
logs=(weston player pulse)
needs weston weston-screenshooter parec gst-launch-1.0
mkdir -p "$HOME/musique"

# Drawn in memory (pixman), with the screenshot interface (--debug) open.
weston --backend=headless-backend.so --use-pixman --debug --width=800 --height=600 \
  --socket=wayland-tunabel --idle-time=0 >"$tmp/weston.log" 2>&1 &
pids+=($!)
waitfor 30 test -S "$XDG_RUNTIME_DIR/wayland-tunabel" || fail "the compositor did not start"

start_sound_server
parec --device=out.monitor --format=s16le --rate=44100 --channels=1 --raw >"$tmp/heard.raw" &
pids+=($!)

song="$HOME/musique/la note.wav"
tone "$song" 130
# A green film, as wide as the player's media control, with a quiet tone:
# quiet enough to tell it from the WAV by ear.
mkdir -p "$HOME/films"
film="$HOME/films/vert.mpg"
gst-launch-1.0 -q videotestsrc pattern=solid-color foreground-color=0xff00ff00 num-buffers=250 \
  ! video/x-raw,format=I420,width=448,height=96,framerate=25/1 ! mpeg2enc format=0 sequence-header-every-gop=true ! mux. \
  audiotestsrc freq=330 volume=0.1 num-buffers=430 ! audio/x-raw,format=S16LE,rate=44100,channels=2 \
  ! avenc_mp2 ! avmux_mpeg name=mux ! filesink location="$film" || fail "the test film could not be made"

export WAYLAND_DISPLAY=wayland-tunabel QT_QPA_PLATFORM=wayland
"$build/tunabel-player" >"$tmp/player.log" 2>&1 &
player=$!
pids+=($player)
waitfor 60 test -S "$XDG_RUNTIME_DIR/tunabel.socket" || fail "the player did not start"
waitfor 30 grep -q libQt6WaylandClient "/proc/$player/maps" || fail "the player is not a Wayland client"

heard() { # threshold [bytes to skip]: a sample over it heard since then
  # Without pipefail: awk stops at the first loud sample, and od, cut off,
  # would fail the pipeline.
  (
    set +o pipefail
    tail -c +$((${2:-0} + 1)) "$tmp/heard.raw" | od -An -td2 -v |
      awk -v t="$1" '{for (i = 1; i <= NF; ++i) if ($i > t || $i < -t) {found = 1; exit}} END {exit !found}'
  )
}
# Green pixels on the compositor's screen, by a screenshot read back as RGB.
green() {
  rm -f "$tmp"/shots/*.png
  (cd "$tmp/shots" && weston-screenshooter >/dev/null 2>&1) || return 1
  local shots=("$tmp"/shots/*.png)
  local shot=${shots[0]}
  [ -f "$shot" ] || return 1
  gst-launch-1.0 -q filesrc location="$shot" ! pngdec ! videoconvert ! video/x-raw,format=RGB \
    ! filesink location="$tmp/shot.rgb" >/dev/null 2>&1 || return 1
  od -An -tu1 -v -w3 "$tmp/shot.rgb" | awk '$2 > 200 && $1 < 60 && $3 < 60 {n++} END {print n + 0}'
}
shown() { # the film's picture, the size of the control: not a window of its own
  local n
  n=$(green) || return 1
  echo "$n" >"$tmp/green"
  [ "$n" -ge 1200 ] && [ "$n" -le 4000 ]
}
mkdir -p "$tmp/shots"
[ "$(green)" = 0 ] || fail "green is on the screen before any film"

"$build/tunabel" "$film" || fail "the hand-over of the film failed"
waitfor 30 heard 2000 || fail "the film's sound was not heard"
waitfor 20 shown || fail "the film was not shown in the player's window ($(cat "$tmp/green" 2>/dev/null || echo no) green pixels)"

mark=$(stat -c %s "$tmp/heard.raw")
"$build/tunabel" "$song" || fail "the hand-over failed"
waitfor 30 heard 8000 "$mark" || fail "the WAV handed over was not heard"
[ "$(green)" = 0 ] || fail "the film's picture stayed after a sound file replaced it"
grep -qi "tunabel-player.*crash\|segmentation" "$tmp/player.log" && fail "the player reported a crash"

kill -TERM "$player"
status=0
wait "$player" || status=$?
[ "$status" -eq 0 ] || fail "the player ended with status $status"
grep -q '^Volume=' "$XDG_CONFIG_HOME/Tunabel/Tunabel.ini" || fail "the session was not saved"
echo "played a film shown and a WAV, handed over and closed on Wayland"
