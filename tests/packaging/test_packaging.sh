#!/usr/bin/env bash
# Builds the .deb with cpack into a temporary folder, fails on any lintian error, unpacks
# it with dpkg-deb and checks what it installs: the program's --version, a --screenshot run
# against the local service from a home of its own (the demo account in the XDG settings
# file), the icons, the desktop entry, the metainfo and the manual page.
#
#   test_packaging.sh BUILD_DIR CPACK LOCALSERVICE VERSION
set -euo pipefail

BUILD=$1 CPACK=$2 SERVICE=$3 VERSION=$4
FAILED=0
fail() { echo "FAIL: $*"; FAILED=1; }

for tool in dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli file gzip; do
  command -v "$tool" >/dev/null || { echo "FAIL: needs $tool (./dev installs it)"; exit 1; }
done

TMP=$(mktemp -d "${TMPDIR:-/tmp}/brimlark-packaging.XXXXXX")
SERVICE_PID=""
clean_up() {
  [ -z "$SERVICE_PID" ] || { kill -TERM "$SERVICE_PID" 2>/dev/null || true; wait "$SERVICE_PID" 2>/dev/null || true; }
  rm -rf "$TMP"
}
trap clean_up EXIT

# --- the package --------------------------------------------------------------------
if ! "$CPACK" -G DEB --config "$BUILD/CPackConfig.cmake" -B "$TMP/pkg" > "$TMP/cpack.log" 2>&1; then
  cat "$TMP/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
DEB=$(find "$TMP/pkg" -maxdepth 1 -name '*.deb')
[ "$(printf '%s\n' "$DEB" | wc -l)" = 1 ] && [ -s "$DEB" ] || { echo "FAIL: cpack made no single .deb: $DEB"; exit 1; }
echo "package: $(basename "$DEB")"

[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION-1" ] || fail "package version $(dpkg-deb -f "$DEB" Version), not $VERSION-1"
[ "$(dpkg-deb -f "$DEB" Section)" = net ] || fail "section is not net"
# Found by dpkg-shlibdeps, not written by hand.
dpkg-deb -f "$DEB" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the Qt libraries: $(dpkg-deb -f "$DEB" Depends)"
dpkg-deb -f "$DEB" Depends | grep -q 'libssl3' || fail "Depends lacks OpenSSL, which the program loads by name: $(dpkg-deb -f "$DEB" Depends)"
dpkg-deb -f "$DEB" Depends | grep -q 'libqt6keychain1' || fail "Depends lacks QtKeychain: $(dpkg-deb -f "$DEB" Depends)"
dpkg-deb -f "$DEB" Depends | grep -q 'libsecret-1-0' || fail "Depends lacks libsecret, which QtKeychain loads by name: $(dpkg-deb -f "$DEB" Depends)"
for font in fonts-ipafont-gothic fonts-noto-color-emoji; do
  dpkg-deb -f "$DEB" Recommends | grep -qw "$font" || fail "Recommends lacks $font"
done

lintian "$DEB" > "$TMP/lintian.txt" 2>/dev/null || true
echo "lintian:"; sed 's/^/  /' "$TMP/lintian.txt"
! grep -q '^E:' "$TMP/lintian.txt" || fail "lintian errors"

# --- what it installs ---------------------------------------------------------------
ROOT="$TMP/root"
dpkg-deb -x "$DEB" "$ROOT"
EXE="$ROOT/usr/bin/brimlark"
SHARE="$ROOT/usr/share"
[ -x "$EXE" ] || { echo "FAIL: no usr/bin/brimlark in the package"; exit 1; }

out=$("$EXE" --version) || fail "--version exited $?"
[ "$out" = "Brimlark_Simple $VERSION" ] || fail "--version says '$out'"

desktop-file-validate "$SHARE/applications/brimlark.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$SHARE/metainfo/org.brimlark.Simple.metainfo.xml" || fail "appstreamcli validate"
grep -q "<release version=\"$VERSION\"" "$SHARE/metainfo/org.brimlark.Simple.metainfo.xml" || fail "metainfo lacks release $VERSION"

file "$SHARE/icons/hicolor/scalable/apps/brimlark.svg" | grep -q 'SVG' || fail "no SVG icon"
for size in 16 32 48 64 128 256; do
  png="$SHARE/icons/hicolor/${size}x${size}/apps/brimlark.png"
  file "$png" 2>/dev/null | grep -q "PNG image data, $size x $size," || fail "icon ${size}x${size}: $(file "$png")"
done

# Every option --help names has its entry in the manual page.
MAN=$(gzip -dc "$SHARE/man/man1/brimlark.1.gz" | sed 's/\\-/-/g')
grep -q "$VERSION" <<<"$MAN" || fail "manual page does not name version $VERSION"
for option in $("$EXE" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "^\.BI\{0,1\}R\{0,1\} $option\b" <<<"$MAN" || fail "manual page lacks $option"
done

# Every file the program writes is named in the manual page.
for written in brimlark.ini post.txt timeline.json; do
  grep -q "$written" <<<"$MAN" || fail "manual page does not name $written"
done

# The licence, stated the same way everywhere.
grep -q '<project_license>MIT</project_license>' "$SHARE/metainfo/org.brimlark.Simple.metainfo.xml" || fail "metainfo lacks project_license MIT"
grep -q '^License: Expat$' "$SHARE/doc/brimlark/copyright" || fail "copyright file does not state the Expat (MIT) licence"

# --- a run from a clean home against the local service -------------------------------
HOME_DIR="$TMP/home" WORK="$TMP/cwd"
mkdir -p "$HOME_DIR" "$WORK" "$TMP/runtime"
chmod 700 "$TMP/runtime"
exec {SERVICE_OUT}< <(exec "$SERVICE" --port 0 --db "$TMP/service.sqlite" --seed -v 2>"$TMP/service.log")
SERVICE_PID=$!
PORT=""
read -r -t 30 -u "$SERVICE_OUT" PORT && [[ "$PORT" =~ ^[0-9]+$ ]] || { echo "FAIL: the local service did not start"; cat "$TMP/service.log"; exit 1; }
exec {SERVICE_OUT}<&-

# The demo account where a fresh installation looks for its settings (USR and PWD are
# scrambled byte by byte with 0x5A: "demo" is 3e 3f 37 35).
INI="$HOME_DIR/.config/brimlark/brimlark.ini"
mkdir -p "$(dirname "$INI")"
printf '[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n' > "$INI"
ARGS=(--api "http://127.0.0.1:$PORT" --screenshot "$TMP/shot.png")
(cd "$ROOT" && find . | sort) > "$TMP/root.before"
status=0
(cd "$WORK" && env HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_CACHE_HOME="$HOME_DIR/.cache" \
   XDG_RUNTIME_DIR="$TMP/runtime" QT_QPA_PLATFORM=offscreen timeout 30 "$EXE" "${ARGS[@]}" 2>"$TMP/stderr.txt") || status=$?
[ "$status" = 0 ] || { fail "--screenshot run exited $status"; cat "$TMP/stderr.txt"; }
# The diagnostic lines (addresses, status ids) stay off unless asked for.
! grep -q 'strActiveStateId=\|url:' "$TMP/stderr.txt" || fail "diagnostic lines without --verbose: $(cat "$TMP/stderr.txt")"
(cd "$WORK" && env HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_CACHE_HOME="$HOME_DIR/.cache" \
   XDG_RUNTIME_DIR="$TMP/runtime" QT_QPA_PLATFORM=offscreen timeout 30 "$EXE" "${ARGS[@]}" --verbose 2>"$TMP/verbose.txt") || true
grep -q "strActiveStateId=" "$TMP/verbose.txt" || fail "--verbose wrote no diagnostic lines"
[ -s "$TMP/shot.png" ] && file "$TMP/shot.png" | grep -q 'PNG image data' || fail "no screenshot PNG"
(cd "$ROOT" && find . | sort) > "$TMP/root.after"
diff -u "$TMP/root.before" "$TMP/root.after" >/dev/null || { fail "the run wrote into the installed tree:"; diff "$TMP/root.before" "$TMP/root.after" || true; }
[ -z "$(ls -A "$WORK")" ] || fail "the run wrote into the current folder: $(ls -A "$WORK")"

# The installed program found its settings in the XDG folder: only they hold the
# account the service accepted.
reads=$(grep -c 'GET /statuses/friends_timeline.xml -> 200' "$TMP/service.log" || true)
[ "$reads" -ge 1 ] || fail "no timeline read with the account from \$XDG_CONFIG_HOME/brimlark/brimlark.ini"
echo "home after the run: $(cd "$HOME_DIR" && find . -mindepth 1 | tr '\n' ' ')"

exit "$FAILED"
