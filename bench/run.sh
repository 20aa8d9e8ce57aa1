#!/usr/bin/env bash
# Runs the benchmarks of a build folder (built beforehand: make bench) and
# prints one "bench ..." line per figure. Missed targets are reported, not
# failed; the exit status is non-zero only when a benchmark crashed.
#   BENCH_RUNS      measured runs per figure (default 10, plus one warm-up)
#   BENCH_CPU_RUNS  runs of the one-minute CPU figure (default 3)
#   BENCH_ONLY      names of the benchmarks to run, e.g. "open gap desktop handover" (default all)
#   BENCH_GAP_KINDS the gap figure's kinds, e.g. "short,modern" (default all)
#   BENCH_FLASH_SECONDS  length of each flash-window figure (default 10)
#   BENCH_ALARM_SECONDS  idle and armed time of the armed-alarm CPU figure, each (default 30)
#   BENCH_VERBOSE   also print what each benchmark wrote to its error stream
set -uo pipefail

build=${1:-build/release}
bin="$build/bench"
runs=${BENCH_RUNS:-10}
cpu_runs=${BENCH_CPU_RUNS:-3}

for b in bench_startup bench_listing bench_play bench_heard bench_desktop bench_playlist bench_options bench_alarm bench_handover; do
  if [ ! -x "$bin/$b" ]; then
    echo "run.sh: $bin/$b is missing; build first (make bench)" >&2
    exit 2
  fi
done
if ! command -v gst-launch-1.0 >/dev/null; then
  echo "run.sh: gst-launch-1.0 is missing (gstreamer1.0-tools)" >&2
  exit 2
fi

tmp=$(mktemp -d /tmp/tunabel-bench.XXXXXX)
xvfb_pid=""
pulse_pid=""
bus_pid=""
cleanup() {
  if [ -n "$bus_pid" ]; then kill "$bus_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  if [ -n "$pulse_pid" ]; then kill "$pulse_pid" 2>/dev/null; wait "$pulse_pid" 2>/dev/null; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Private settings, caches and plugin registry: the user's own are never touched.
export HOME="$tmp/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$HOME/Music"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export GST_REGISTRY="$tmp/gst-registry.bin"
gst-inspect-1.0 >/dev/null 2>&1 # warms the registry

# A real X server so "shown" means mapped and painted.
display="xvfb"
if [ -n "${DISPLAY:-}" ]; then
  display="x11 $DISPLAY"
  export QT_QPA_PLATFORM=xcb
elif command -v Xvfb >/dev/null; then
  n=99
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  if [ -e "/tmp/.X11-unix/X$n" ]; then
    export DISPLAY=":$n" QT_QPA_PLATFORM=xcb
  else
    display="offscreen (Xvfb did not start)"
    export QT_QPA_PLATFORM=offscreen
  fi
else
  display="offscreen (no Xvfb: windows are not really mapped)"
  export QT_QPA_PLATFORM=offscreen
fi

# A private session bus, as every desktop session has. Without one, the
# first widget that speaks to the accessibility bus makes libdbus start
# dbus-launch, which a desktop user never pays: 20 ms in every start-up.
if command -v dbus-daemon >/dev/null; then
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null) || bus=""
  if [ -n "$bus" ]; then
    export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
    bus_pid=$(sed -n 2p <<<"$bus")
  fi
fi

# A private sound server whose only output is a null sink named "bench": what
# the player sends it is recorded from its monitor. Its socket lives in this
# run's own runtime folder, so parallel runs never meet.
heard="no sound server"
if command -v pulseaudio >/dev/null && command -v parec >/dev/null; then
  unset PULSE_SERVER
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    --load="module-native-protocol-unix" --load="module-null-sink sink_name=bench rate=44100" \
    >"$tmp/pulse.log" 2>&1 &
  pulse_pid=$!
  # The loaded gap figure renices it as a desktop's server is.
  export BENCH_PULSE_PID=$pulse_pid
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if pactl set-default-sink bench >/dev/null 2>&1; then
    heard="null sink recorded"
  else
    heard="sound server did not start"
  fi
fi

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "# tunabel bench: $(nproc) cores, ${cpu:-unknown CPU}; display: $display; sound: $heard; runs=$runs"

status=0
# One benchmark: its "bench" lines to stdout, the rest to a log shown on failure.
run() {
  local name=$1
  shift
  if [ -n "${BENCH_ONLY:-}" ] && [ "$name" != media ] && [[ " $BENCH_ONLY " != *" $name "* ]]; then
    return
  fi
  # Timings on a loaded machine are noise: wait for any build to finish.
  flock -w 1800 /tmp/tunabel-build.lock true 2>/dev/null
  "$@" >"$tmp/$name.out" 2>"$tmp/$name.err"
  local rc=$?
  grep '^bench ' "$tmp/$name.out"
  if [ -n "${BENCH_VERBOSE:-}" ]; then cat "$tmp/$name.err" >&2; fi
  if [ $rc -ne 0 ]; then
    echo "run.sh: $name failed (exit $rc)" >&2
    tail -n 20 "$tmp/$name.err" >&2
    status=1
  fi
}

media="$tmp/media"
run media "$bin/bench_play" media "$media" "$runs"
run startup "$bin/bench_startup" "$runs"
run listing "$bin/bench_listing" "$tmp/listing" "$runs"
run playlist "$bin/bench_playlist" "$tmp/playlist" "$runs"
run open "$bin/bench_play" open "$media" "$runs"
run click "$bin/bench_heard" click "$tmp/heard" "$runs"
run gap "$bin/bench_heard" gap "$tmp/heard" "$runs" "${BENCH_GAP_KINDS:-wav,mp3,aiff,programme,mixed,modern,short}"
run loaded "$bin/bench_heard" gap "$tmp/heard" "$runs" loaded
run speed "$bin/bench_heard" speed "$tmp/heard" "$runs"
# The clicks and joins again through the stock pulsesink: what our own output wins.
run output "$bin/bench_heard" output "$tmp/heard-stock" "$runs"
run restart "$bin/bench_heard" restart "$tmp/heard" "$runs"
# The output's buffer swept (20 to 100 ms): clicks, and silences idle and loaded.
run buffer "$bin/bench_heard" buffer "$tmp/heard" "$runs"
run fade "$bin/bench_play" fade "$media" "$runs"
run fade "$bin/bench_heard" fade "$tmp/heard" "$runs"
run memory "$bin/bench_heard" memory "$tmp/heard" "$runs"
run hostile "$bin/bench_heard" hostile "$tmp/heard" "$runs"
run av "$bin/bench_heard" av "$tmp/heard" "$runs"
run cpu "$bin/bench_play" cpu "$media" "$cpu_runs"
run desktop "$bin/bench_desktop" "$build/tunabel" "$tmp/desktop" "$runs"
# Flash: BENCH_FLASH_SECONDS per figure (default 10); the CPU figure is scaled to a minute.
run options "$bin/bench_options" flash "${BENCH_FLASH_SECONDS:-10}"
run options "$bin/bench_options" chooser "$runs"
mkdir -p "$tmp/speed"
run options "$bin/bench_options" speed "$tmp/speed" "$runs"
# Alarm: lateness at the due minute, CPU while armed (BENCH_ALARM_SECONDS each, idle and armed, default 30), organiser.
run alarm "$bin/bench_alarm" lateness "$tmp/alarm" "$runs"
run alarm "$bin/bench_alarm" cpu "${BENCH_ALARM_SECONDS:-30}"
run alarm "$bin/bench_alarm" organiser "$runs"
# The hand-over under attack: descriptors held under a flood of idle
# connections, and hand-overs lost or doubled among 1,000 from 20 threads.
mkdir -p "$tmp/handover"
run handover "$bin/bench_handover" fds "$build/tunabel-player" "$build/tunabel" "$tmp/handover"
run handover "$bin/bench_handover" flood 20 1000
run handover "$bin/bench_handover" flood 20 1000 "$build/tunabel-player"
# The Debian package: time of its making, its size and installed size.
run package bash "$(dirname "$0")/bench_package.sh" "$build" "$tmp/package" 3
exit $status
