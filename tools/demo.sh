#!/usr/bin/env bash
# Starts the local service with a seeded demo database, writes a settings file with the
# demo account when there is none, runs the program against the service and stops the
# service when the program exits. Under xvfb-run when there is no display.
#
# Over https by default: a private authority and a certificate for 127.0.0.1 are made
# afresh with the openssl command line in a temporary folder that goes when the demo
# ends, and the program is told to trust that authority (--ca-file). "--http" as the
# first argument after BUILD_DIR, or DEMO_TLS=0 in the environment, runs it over plain
# http instead (./dev run --http).
#
# "--fediverse [FLAVOUR]" serves the fediverse's JSON face too, as mastodon (the default),
# gotosocial, akkoma or friendica, and prints a personal access token for the demo
# account made for this run; the program finds the family at the address itself.
#
#   tools/demo.sh BUILD_DIR [--http] [--fediverse [FLAVOUR]] [program arguments...]
set -euo pipefail

BUILD=$(cd "${1:?usage: demo.sh BUILD_DIR [--http] [--fediverse [FLAVOUR]] [program arguments...]}" && pwd)
shift
TLS=${DEMO_TLS:-1}
FLAVOUR=""
while [ $# -gt 0 ]; do
  case "$1" in
    --http) TLS=0; shift ;;
    --fediverse)
      FLAVOUR=mastodon
      shift
      case "${1:-}" in mastodon|gotosocial|akkoma|friendica) FLAVOUR=$1; shift ;; esac ;;
    *) break ;;
  esac
done
SERVICE="$BUILD/tools/localservice/localservice"
PROGRAM="$BUILD/src/brimlark"
DB="$BUILD/demo.sqlite"           # kept between runs: posts and favourites stay
INI="$BUILD/src/brimlark.ini"     # the settings file lies beside the executable

for f in "$SERVICE" "$PROGRAM"; do
  [ -x "$f" ] || { echo "demo: $f is not built" >&2; exit 1; }
done

SERVICE_PID=""
TMP=""
clean_up() {
  if [ -n "$SERVICE_PID" ]; then
    kill -TERM "$SERVICE_PID" 2>/dev/null || true
    wait "$SERVICE_PID" 2>/dev/null || true
    SERVICE_PID=""
  fi
  [ -z "$TMP" ] || rm -rf "$TMP"
}
trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

SERVICE_ARGS=(--port 0 --db "$DB" --seed)
PROGRAM_ARGS=()
SCHEME=http
if [ "$TLS" != 0 ]; then
  command -v openssl >/dev/null || { echo "demo: https needs the openssl command (package openssl); --http runs without" >&2; exit 1; }
  TMP=$(mktemp -d "${TMPDIR:-/tmp}/brimlark-demo.XXXXXX")
  # EC P-256 keys; the authority only signs, the server certificate names 127.0.0.1 and
  # serves nothing else. Valid for a week: a demo does not run longer.
  # (set -e does not hold inside a function tested by "if", hence the chain.)
  make_certificates() {
    cd "$TMP" &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -keyout ca.key -out ca.pem -days 7 -subj "/CN=Brimlark demo authority" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" &&
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -keyout server.key -out server.csr -subj "/CN=127.0.0.1" &&
    printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' > server.ext &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
      -out server.pem -days 7 -extfile server.ext
  }
  if ! (make_certificates) > "$TMP/openssl.log" 2>&1; then
    cat "$TMP/openssl.log" >&2
    echo "demo: could not make the demo certificates" >&2
    exit 1
  fi
  SERVICE_ARGS+=(--tls-cert "$TMP/server.pem" --tls-key "$TMP/server.key")
  PROGRAM_ARGS=(--ca-file "$TMP/ca.pem")
  SCHEME=https
fi

TOKEN=""
if [ -n "$FLAVOUR" ]; then
  # A fresh token each run; the database keeps the older ones.
  TOKEN=$(od -An -N24 -tx1 /dev/urandom | tr -d ' \n')
  SERVICE_ARGS+=(--flavour "$FLAVOUR" --token "demo:$TOKEN")
fi

# The service prints its port alone on its first line. --seed does nothing to a
# database that was seeded before.
exec {SERVICE_OUT}< <(exec "$SERVICE" "${SERVICE_ARGS[@]}")
SERVICE_PID=$!
PORT=""
if ! read -r -t 30 -u "$SERVICE_OUT" PORT || ! [[ "$PORT" =~ ^[0-9]+$ ]]; then
  echo "demo: the local service did not start" >&2
  exit 1
fi
exec {SERVICE_OUT}<&-   # nothing more comes; the program need not inherit it
API="$SCHEME://127.0.0.1:$PORT"

if [ ! -e "$INI" ]; then
  # USR and PWD hold the account scrambled byte by byte (XOR 0x5A), written raw:
  # "demo" becomes 3e 3f 37 35.
  printf '[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n' > "$INI"
  echo "demo: wrote $INI with the account demo / demo"
fi
echo "demo: local service on $API (account demo / demo, database $DB)"
[ "$TLS" = 0 ] || echo "demo: its certificate comes from a private authority made for this run: $TMP/ca.pem"
if [ -n "$FLAVOUR" ]; then
  # Signed in already: the settings name the server's origin as a fediverse one and hold
  # this run's token, scrambled as the password is (XOR 0x5A, byte by byte).
  python3 - "$INI" "$API" "$TOKEN" <<'PY'
import sys
path, api, token = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
lines = [l for l in open(path, 'rb').read().split(b'\n') if not l.startswith((b'Fediverse=', b'Token='))]
at = lines.index(b'[App]') + 1 if b'[App]' in lines else 0
if at == 0:
    lines[0:0] = [b'[App]']
    at = 1
lines[at:at] = [b'Fediverse=' + api, b'Token=' + bytes(c ^ 0x5A for c in token)]
open(path, 'wb').write(b'\n'.join(lines))
PY
  echo "demo: the fediverse face behaves as $FLAVOUR; the program is signed in as demo with the token"
  echo "demo:   $TOKEN"
  echo "demo: (ログイン設定 signs in again: approve the program on the service's page with demo / demo)"
fi

RUN=("$PROGRAM" "${PROGRAM_ARGS[@]}" --api "$API" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "demo: no display and no xvfb-run (package xvfb)" >&2; exit 1; }
  echo "demo: no display; running under xvfb-run"
  RUN=(xvfb-run -a "${RUN[@]}")
fi

STATUS=0
"${RUN[@]}" || STATUS=$?
exit "$STATUS"
