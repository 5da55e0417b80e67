#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each, from its seed corpus,
# and writes the results to docs/FUZZING.md. Findings land in fuzz/artifacts/<target>/;
# the run fails when any target found one.
set -uo pipefail
BUILD=${1:?build dir}
SECONDS_EACH=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
REPORT="$ROOT/docs/FUZZING.md"
# FUZZ_JOBS targets run at once (default 1); each writes its own log.
JOBS=${FUZZ_JOBS:-1}
status=0
rows=""

run_target() {
  local bin=$1 name corpus work artifacts log
  name=$(basename "$bin")
  corpus="$ROOT/fuzz/corpus/$name"
  work="$BUILD/fuzz/work/$name"
  artifacts="$ROOT/fuzz/artifacts/$name"
  log="$BUILD/fuzz/$name.log"
  mkdir -p "$work" "$artifacts" "$corpus"
  echo "== $name for ${SECONDS_EACH}s"
  # New inputs go to the work folder; -merge below keeps those that add coverage.
  if ! "$bin" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$work" "$corpus" 2>"$log"; then
    echo "FOUND" > "$log.result"
  else
    echo "clean" > "$log.result"
    # Keep the corpus that grew, minimised against what is already there.
    "$bin" -merge=1 "$corpus" "$work" >/dev/null 2>&1 || true
  fi
}

targets=()
for bin in "$BUILD"/fuzz/fuzz_*; do
  [ -x "$bin" ] && [ -f "$bin" ] || continue
  targets+=("$bin")
done
for bin in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do sleep 1; done
  run_target "$bin" &
done
wait

for bin in "${targets[@]}"; do
  name=$(basename "$bin")
  log="$BUILD/fuzz/$name.log"
  result="clean"
  if [ "$(cat "$log.result" 2>/dev/null)" != "clean" ]; then
    echo "!! $name found a problem; see $log and fuzz/artifacts/$name"
    result="FOUND A PROBLEM (see fuzz/artifacts/$name)"
    status=1
  fi
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  rss=$(grep -E '^stat::peak_rss_mb' "$log" | awk '{print $2}')
  cov=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+' | awk '{print $2}')
  echo "   $name: executions ${execs:-?}, coverage ${cov:-?}, peak RSS ${rss:-?} MB: $result"
  rows+="| $name | $SECONDS_EACH | ${execs:-?} | ${cov:-?} | ${rss:-?} | $result |"$'\n'
done
{
  echo "# Fuzzing"
  echo
  echo "Written by \`./dev fuzz $SECONDS_EACH\` on $(date -u '+%Y-%m-%d %H:%M UTC'): libFuzzer with"
  echo "AddressSanitizer and UndefinedBehaviorSanitizer (clang), each target started from its"
  echo "seed corpus in \`fuzz/corpus\`, ${JOBS} at a time; the inputs that added coverage were merged"
  echo "back into the corpus. Source: commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)."
  echo
  echo "| target | seconds | executions | coverage (edges) | peak RSS (MB) | result |"
  echo "|---|---|---|---|---|---|"
  printf "%s" "$rows"
} > "$REPORT"
echo "written to $REPORT"
exit $status
