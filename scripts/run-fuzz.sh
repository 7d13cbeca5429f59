#!/usr/bin/env bash
# Runs every libFuzzer binary in <builddir>/fuzz for <seconds> seconds each, one after the other.
# Each target keeps its corpus in <builddir>/fuzz-corpus/<name> (so later runs start from what earlier
# ones found) and writes any crashing input to <builddir>/fuzz-artifacts/<name>/.
# Exit status: 0 when no target found a fault, 1 otherwise.
#   usage: scripts/run-fuzz.sh <builddir> <seconds>
set -uo pipefail
build="${1:?usage: run-fuzz.sh <builddir> <seconds>}"
seconds="${2:?usage: run-fuzz.sh <builddir> <seconds>}"
fuzzdir="$build/fuzz"

shopt -s nullglob
targets=()
for f in "$fuzzdir"/*; do
  [ -f "$f" ] && [ -x "$f" ] && targets+=("$f")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzz: no fuzz binaries in $fuzzdir" >&2
  exit 1
fi

failed=0
for t in "${targets[@]}"; do
  name="$(basename "$t")"
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  log="$build/fuzz-artifacts/$name.log"
  echo "run-fuzz: $name for ${seconds}s (log: $log)"
  start=$(date +%s)
  "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  rc=$?
  end=$(date +%s)
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  if [ $rc -eq 0 ]; then
    echo "run-fuzz: $name ran $((end - start))s, ${runs:-?} inputs, no fault"
  else
    echo "run-fuzz: $name FAILED (exit $rc) after $((end - start))s; see $log and $artifacts" >&2
    tail -n 30 "$log" >&2
    failed=1
  fi
done
exit $failed
