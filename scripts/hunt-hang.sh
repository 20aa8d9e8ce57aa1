#!/usr/bin/env bash
# Runs the media-control, gapless and end-to-end suites again and again
# beside two busy loops, as on a loaded desktop. A suite that runs past
# HUNT_LIMIT seconds (default 300) is taken as hung: every thread's
# backtrace is written to <build>/hunt/ and the suite is killed.
#
#   scripts/hunt-hang.sh [build/release] [rounds]      (default 100 rounds)
# The build folder may be a copy of the test binaries (<copy>/tests), so
# that the hunt goes on while the project is rebuilt.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-100}
limit=${HUNT_LIMIT:-300}
suites=${HUNT_SUITES:-"test_gstmediacontrol test_gapless test_endtoend"}
out="$build/hunt"
mkdir -p "$out"
case $build in
  /*) registry="$build/gst-registry.bin" ;;
  *) registry="$PWD/$build/gst-registry.bin" ;;
esac
export QT_QPA_PLATFORM=offscreen GST_REGISTRY="$registry"

busy=()
for _ in 1 2; do
  (while :; do :; done) &
  busy+=($!)
done
trap 'kill "${busy[@]}" 2>/dev/null' EXIT

clean=0 hung=0 failed=0
for ((round = 1; round <= rounds; ++round)); do
  bad=0
  for suite in $suites; do
    log="$out/$suite.$round.log"
    "$build/tests/$suite" >"$log" 2>&1 &
    pid=$!
    waited=0
    while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt "$limit" ]; do
      sleep 1
      waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
      gdb -p "$pid" -batch -ex "thread apply all bt" >"$out/$suite.$round.hang.txt" 2>&1
      kill -9 "$pid"
      wait "$pid" 2>/dev/null
      echo "round $round: $suite hung, backtraces in $out/$suite.$round.hang.txt"
      hung=$((hung + 1)) bad=1
      continue
    fi
    if ! wait "$pid"; then
      echo "round $round: $suite failed, see $log"
      failed=$((failed + 1)) bad=1
      continue
    fi
    rm -f "$log"
  done
  [ "$bad" -eq 0 ] && clean=$((clean + 1))
done
echo "hunt: $rounds rounds, $clean clean, $hung hangs, $failed failures"
[ "$hung" -eq 0 ] && [ "$failed" -eq 0 ]
