#!/usr/bin/env bash
# Runs every fuzz target for FUZZ_SECONDS (default 60) from its kept corpus,
# and prints one line per target. A crash, a hang or a broken property
# leaves its input in <build>/fuzz-artifacts/<target>/ and fails the run:
# mend it, then keep the input in tests/fuzz/corpus/<target>/.
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
names=${FUZZ_ONLY:-"playlist handover settings midi aiff mpeg mp4"}
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
failed=0
for name in $names; do
  work="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  log="$build/fuzz-$name.log"
  mkdir -p "$work" "$artifacts"
  cp -n tests/fuzz/corpus/"$name"/* "$work"/ 2>/dev/null
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" >"$log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$artifacts" -type f | wc -l)
  echo "fuzz $name execs=${execs:-0} seconds=$seconds corpus=$(ls "$work" | wc -l) found=$found exit=$status"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    grep -m3 -E 'ERROR|SUMMARY|property broke|deadly signal|Timeout' "$log" | sed 's/^/    /'
    find "$artifacts" -type f | sed 's/^/    input: /'
  fi
done
exit $failed
