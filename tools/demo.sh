#!/usr/bin/env bash
# Starts the local service with a seeded demo database, writes a settings file with the
# demo account when there is none, runs the program against the service and stops the
# service when the program exits. Under xvfb-run when there is no display.
#
#   tools/demo.sh BUILD_DIR [program arguments...]
set -euo pipefail

BUILD=$(cd "${1:?usage: demo.sh BUILD_DIR [program arguments...]}" && pwd)
shift
SERVICE="$BUILD/tools/localservice/localservice"
PROGRAM="$BUILD/src/brimlark"
DB="$BUILD/demo.sqlite"           # kept between runs: posts and favourites stay
INI="$BUILD/src/brimlark.ini"     # the settings file lies beside the executable

for f in "$SERVICE" "$PROGRAM"; do
  [ -x "$f" ] || { echo "demo: $f is not built" >&2; exit 1; }
done

SERVICE_PID=""
stop_service() {
  if [ -n "$SERVICE_PID" ]; then
    kill -TERM "$SERVICE_PID" 2>/dev/null || true
    wait "$SERVICE_PID" 2>/dev/null || true
    SERVICE_PID=""
  fi
}
trap stop_service EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The service prints its port alone on its first line. --seed does nothing to a
# database that was seeded before.
exec {SERVICE_OUT}< <(exec "$SERVICE" --port 0 --db "$DB" --seed)
SERVICE_PID=$!
PORT=""
if ! read -r -t 30 -u "$SERVICE_OUT" PORT || ! [[ "$PORT" =~ ^[0-9]+$ ]]; then
  echo "demo: the local service did not start" >&2
  exit 1
fi
exec {SERVICE_OUT}<&-   # nothing more comes; the program need not inherit it
API="http://127.0.0.1:$PORT"

if [ ! -e "$INI" ]; then
  # USR and PWD hold the account scrambled byte by byte (XOR 0x5A), written raw:
  # "demo" becomes 3e 3f 37 35.
  printf '[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n' > "$INI"
  echo "demo: wrote $INI with the account demo / demo"
fi
echo "demo: local service on $API (account demo / demo, database $DB)"

RUN=("$PROGRAM" --api "$API" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "demo: no display and no xvfb-run (package xvfb)" >&2; exit 1; }
  echo "demo: no display; running under xvfb-run"
  RUN=(xvfb-run -a "${RUN[@]}")
fi

STATUS=0
"${RUN[@]}" || STATUS=$?
exit "$STATUS"
