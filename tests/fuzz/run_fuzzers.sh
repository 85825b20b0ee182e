#!/usr/bin/env bash
# Runs every fuzz target for a bounded time from its seed corpus and fails on
# any crash, sanitizer report or leak. Prints each target's executions and
# coverage from libFuzzer's final statistics.
# Usage: tests/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
build=$(realpath "$1")
seconds=${2:-15}
seeds=$(realpath "$(dirname "$0")/corpus")
work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work"

failed=()
for target in ini_reader template scan bounded; do
  mkdir -p "$work/$target"
  log="$work/$target.log"
  # New units go to the scratch folder; the seeds in the tree stay as they are.
  status=ok
  (cd "$work" && "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" \
    -print_final_stats=1 -detect_leaks=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/$target-" "$work/$target" "$seeds/$target") >"$log" 2>&1 ||
    { status=FAILED; failed+=("$target"); }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(sed -nE 's/^#[0-9]+[[:space:]]+DONE[[:space:]]+cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/cov \1, features \2, corpus \3/p' "$log")
  printf '%-16s %-6s executions %s, %s\n' "$target" "$status" "${runs:-?}" "${cov:-?}"
  if [ "$status" = FAILED ]; then
    grep -vE '^#[0-9]+[[:space:]]' "$log" | grep -E 'ERROR|SUMMARY|runtime error|fuzz|: ' | head -20 || true
    ls "$work/$target-"* 2>/dev/null || true
  fi
done
[ "${#failed[@]}" -eq 0 ] || { echo "fuzz targets failed: ${failed[*]} (logs in $work)"; exit 1; }
