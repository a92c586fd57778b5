#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a bounded time on a copy of its committed seed corpus; udf_image's seeds, disc
# image files of over half a megabyte, are made here by tests/fuzz/make-udf-seeds.sh
# (genisoimage), and its inputs may be as long as a megabyte. A build that reads no image files
# (no libudfread) has no udf_image target, and says so. Any finding fails the run and leaves its
# input in the current folder as <target>-crash-* (or -leak-*, -timeout-*).
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in decapsulate command_line container_layout recovery_record compact_trailer udf_image; do
  mkdir -p "$work/$target"
  max_len=65536
  if [ "$target" = udf_image ]; then
    if [ ! -x build/fuzz/tests/fuzz/${target}_fuzzer ]; then
      echo "== $target: skipped (this build reads no disc image files: libudfread not found)"
      continue
    fi
    tests/fuzz/make-udf-seeds.sh "$work/$target"
    max_len=1048576
  else
    cp tests/fuzz/corpus/$target/* "$work/$target/"
  fi
  echo "== fuzzing $target for ${seconds}s"
  if ! build/fuzz/tests/fuzz/${target}_fuzzer -max_total_time="$seconds" -max_len=$max_len \
      -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$target-" \
      "$work/$target" 2> "$work/$target.log"; then
    status=1
    tail -n 40 "$work/$target.log"
    cp "$work/$target"-* . 2>/dev/null || true
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/$target.log" | sed "s/^/   $target /"
done
exit $status
