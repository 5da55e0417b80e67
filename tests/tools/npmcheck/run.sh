#!/usr/bin/env bash
# The local service's JSON face checked by client libraries written elsewhere (pinned in
# package.json and package-lock.json), each against a fresh seeded service:
#   run.sh LOCALSERVICE
# Exits 77, which CTest reports as skipped, when Node is missing or the libraries are
# not installed and the npm registry cannot be reached to fetch them.
set -uo pipefail

SERVICE=${1:?usage: run.sh LOCALSERVICE}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

command -v node >/dev/null || { echo "SKIPPED: node is not installed (./dev build installs it)"; exit 77; }
if [ ! -d "$HERE/node_modules/megalodon" ] || [ ! -d "$HERE/node_modules/masto" ]; then
  command -v npm >/dev/null || { echo "SKIPPED: npm is not installed (./dev build installs it)"; exit 77; }
  if ! (cd "$HERE" && timeout 300 npm ci --no-audit --no-fund); then
    if ! timeout 60 npm ping >/dev/null 2>&1; then
      echo "SKIPPED: the npm registry cannot be reached, so megalodon and masto are not installed"
      exit 77
    fi
    echo "FAILED: npm could not install the pinned client libraries"
    exit 1
  fi
fi

TMP=$(mktemp -d "${TMPDIR:-/tmp}/brimlark-npmcheck.XXXXXX")
SERVICE_PID=""
stop_service() {
  if [ -n "$SERVICE_PID" ]; then
    kill -TERM "$SERVICE_PID" 2>/dev/null
    wait "$SERVICE_PID" 2>/dev/null
    SERVICE_PID=""
  fi
}
trap 'stop_service; rm -rf "$TMP"' EXIT

STATUS=0
for library in megalodon masto; do
  exec {OUT}< <(exec "$SERVICE" --port 0 --db "$TMP/$library.sqlite" --seed --flavour mastodon --heartbeat-ms 500)
  SERVICE_PID=$!
  PORT=""
  if ! read -r -t 30 -u "$OUT" PORT || ! [[ "$PORT" =~ ^[0-9]+$ ]]; then
    echo "FAILED: the local service did not start"
    exit 1
  fi
  exec {OUT}<&-
  timeout 120 node "$HERE/check.mjs" "$library" "http://127.0.0.1:$PORT" || STATUS=1
  stop_service
done
exit "$STATUS"
