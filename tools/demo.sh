#!/usr/bin/env bash
# Starts the local service with a seeded demo database, writes a settings file with the
# demo account when there is none, runs the program against the service and stops the
# service when the program exits. Under xvfb-run when there is no display.
set -euo pipefail
BUILD=${1:?build dir}; shift || true
echo "demo: not ready yet"
exec "$BUILD/src/brimlark" "$@"
