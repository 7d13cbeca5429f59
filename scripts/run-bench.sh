#!/usr/bin/env bash
# Runs every benchmark and prints its figures. Benchmarks measure; they never pass or fail.
#   scripts/run-bench.sh [build folder]
set -uo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
for b in "$build"/bench/*; do
  [ -x "$b" ] && [ -f "$b" ] || continue
  name=$(basename "$b")
  case "$name" in gen_collection) continue ;; esac
  echo "=== $name"
  "$b" || echo "($name ended with status $?)"
done
for s in scripts/bench-*.sh; do
  [ -x "$s" ] || continue
  echo "=== $(basename "$s")"
  "$s" "$build" || echo "($(basename "$s") ended with status $?)"
done
