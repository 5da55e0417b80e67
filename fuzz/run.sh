#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each, from its seed corpus.
# Findings land in fuzz/artifacts/<target>/; the run fails when any target found one.
set -uo pipefail
BUILD=${1:?build dir}
SECONDS_EACH=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
status=0
for bin in "$BUILD"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus="$ROOT/fuzz/corpus/$name"
  work="$BUILD/fuzz/work/$name"
  artifacts="$ROOT/fuzz/artifacts/$name"
  mkdir -p "$work" "$artifacts"
  echo "== $name for ${SECONDS_EACH}s"
  if ! "$bin" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$work" "$corpus" 2>"$BUILD/fuzz/$name.log"; then
    echo "!! $name found a problem; see $BUILD/fuzz/$name.log and $artifacts"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$BUILD/fuzz/$name.log" | sed "s/^/   /"
done
exit $status
