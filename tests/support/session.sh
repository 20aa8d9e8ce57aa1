# Sourced by the shell tests that start the player:
#   . session.sh <name>
# A temporary folder ($tmp) holding a private home and runtime folder, the
# processes to end with it ($pids), and a private sound server whose only
# output is a null sink named "out". On a failure the logs named in $logs
# ($tmp/<name>.log) are shown.
tmp=$(mktemp -d "/tmp/tunabel-$1.XXXXXX")
pids=()
logs=(player pulse)
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "${logs[@]}"; do [ -s "$tmp/$log.log" ] && { echo "--- $log" >&2; tail -n 60 "$tmp/$log.log" >&2; }; done
  exit 1
}
waitfor() { # seconds, command...
  local n=$(($1 * 10))
  shift
  for ((i = 0; i < n; ++i)); do "$@" && return 0; sleep 0.1; done
  return 1
}
needs() { # tools...
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
  done
}

export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
unset DISPLAY PULSE_SERVER
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/pas-de-bus"

start_sound_server() {
  needs pulseaudio pactl
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    --load=module-native-protocol-unix --load="module-null-sink sink_name=out rate=44100" >"$tmp/pulse.log" 2>&1 &
  pids+=($!)
  waitfor 30 pactl info >/dev/null 2>&1 || fail "the sound server did not start"
  pactl set-default-sink out
}

tone() { # file, buffers of 1024 samples: a 440 Hz WAV
  gst-launch-1.0 -q audiotestsrc freq=440 volume=0.5 "num-buffers=$2" ! audio/x-raw,rate=44100,channels=2 \
    ! wavenc ! filesink location="$1" || fail "the test tone could not be made"
}
