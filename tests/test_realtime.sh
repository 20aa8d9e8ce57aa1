#!/usr/bin/env bash
# The desktop's real-time service raises the player's output thread: a
# private system bus with the real polkit and rtkit daemons on it, a private
# sound server with a null sink, the player handed a WAV. One thread of the
# player, its output, must then run round-robin at priority 4, under the
# sound server's own threads; the others stay as they were.
#   test_realtime.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
rtkit=/usr/libexec/rtkit-daemon
polkitd=/usr/lib/polkit-1/polkitd
# rtkit grants real-time priorities to other processes only when it starts
# as root (it needs CAP_SYS_NICE, then drops to its own user).
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the real-time service can only be started as root"
  exit 77
fi
. "$(dirname "$0")/support/session.sh" realtime
logs=(rtkit polkit player pulse)
# polkit and rtkit drop to users of their own, who must reach the bus socket.
chmod 755 "$tmp"
owned() { # a name taken on the private system bus
  dbus-send --bus="$DBUS_SYSTEM_BUS_ADDRESS" --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetNameOwner "string:$1" >/dev/null 2>&1
}
needs "$rtkit" "$polkitd" dbus-daemon dbus-send gst-launch-1.0
export QT_QPA_PLATFORM=offscreen

# The machine's own system bus is not touched: everything below finds this one.
cat >"$tmp/system.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$tmp/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/system_bus_socket"
dbus-daemon --config-file="$tmp/system.conf" --nofork --nopidfile >"$tmp/bus.log" 2>&1 &
pids+=($!)
waitfor 30 owned org.freedesktop.DBus || fail "the system bus did not start"
"$polkitd" --no-debug >"$tmp/polkit.log" 2>&1 &
pids+=($!)
waitfor 30 owned org.freedesktop.PolicyKit1 || fail "polkit did not start"
# Its socket is outside any chroot, and its own limits would cap it at one instance per machine.
"$rtkit" --stderr --no-chroot --no-limit-resources >"$tmp/rtkit.log" 2>&1 &
pids+=($!)
waitfor 30 owned org.freedesktop.RealtimeKit1 || fail "rtkit did not start"

start_sound_server

song="$HOME/la note.wav"
tone "$song" 400
"$build/tunabel-player" "$song" >"$tmp/player.log" 2>&1 &
player=$!
pids+=($player)
# CLS and RTPRIO of each of the player's threads.
classes() { ps -L -o cls=,rtprio= -p "$player"; }
raised() { classes | grep -q '^ *RR  *4$'; }
waitfor 30 raised || fail "no thread of the player was made real-time: $(classes | sort | uniq -c | tr -s ' \n' ' ')"
[ "$(classes | grep -cv '^ *TS  *-$')" -eq 1 ] || fail "other threads changed class: $(classes | tr -s ' \n' ' ')"
grep -q "Successfully made thread" "$tmp/rtkit.log" || fail "rtkit did not say it raised the thread"

kill -TERM "$player"
status=0
wait "$player" || status=$?
[ "$status" -eq 0 ] || fail "the player ended with status $status"
echo "the output thread was made real-time by rtkit"
