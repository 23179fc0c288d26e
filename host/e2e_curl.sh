#!/usr/bin/env bash
# End to end with a real client: curl -> hxhost -> the real plug-in with the
# sample list -> a small origin server. Everything stays on 127.0.0.1:
# hxhost runs with --resolve '*=127.0.0.1', so the sample's host names all
# reach the local origin.
#
# Usage: e2e_curl.sh BUILD_DIR [--list FILE] [--strict]
#        e2e_curl.sh --windows BUILD_DIR [--list FILE] [--strict]
#   BUILD_DIR is a native build (bin/hxhost, bin/libtarnwick.so) or, with
#   --windows, a Windows cross build whose hxhost.exe, Tarnwick.dll and
#   Corvane.dll run under Wine (cmake/wine-env.sh is sourced when WINE is
#   not set). --list names the compiled control list (default
#   BUILD_DIR/data/sample.lst; a cross build has none, so give the native
#   one).
#   Skips (prints "skipped: ..." and exits 0) when something is not built,
#   curl/python3 are missing or no Wine can run the Windows build; --strict
#   makes that a failure.
#
# With --windows the settings go into Wine's registry (regedit /S, below
# HKEY_LOCAL_MACHINE, removed again at the end), every path given to the
# Windows programs is a Windows path (Wine maps / to Z:\), and the stop is
# SIGINT: Wine turns it into a Ctrl-C event for the console control handler,
# while SIGTERM ends a Wine process at once (status 143, no handler runs) and
# "taskkill" without /f only closes windows, which a console program has
# none of.
set -uo pipefail
# Only the proxy named with -x may be used.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# What to try. The URLs get the origin's port added; the categories name
# rows of the category table (the registry value is the name + "State").
ALLOW_HOST=${ALLOW_HOST:-unlisted.test}
ALLOW_PATH=${ALLOW_PATH:-/hello.txt}
ALERT_HOST=${ALERT_HOST:-news.example.net}
ALERT_PATH=${ALERT_PATH:-/hello.txt}
ALERT_CATEGORY=${ALERT_CATEGORY:-General News}
DENY_HOST=${DENY_HOST:-casino.example.com}
DENY_PATH=${DENY_PATH:-/poker}
DENY_CATEGORY=${DENY_CATEGORY:-Gambling}
# A denied path on a host whose other paths pass: for the spellings of a
# path (encoded letters, doubled slashes, dot segments).
SPELL_HOST=${SPELL_HOST:-pharmacy.example}
SPELL_PATH=${SPELL_PATH:-/promo}
KEY='SOFTWARE\Pellumin\E2E'
DENIAL_BODY='<BODY><P>e2e: this site is restricted</P></BODY>'

usage() { echo "Usage: $0 [--windows] BUILD_DIR [--list FILE] [--strict]"; }
build=""
list=""
strict=0
windows=0
while [ $# -gt 0 ]; do
  case "$1" in
    --strict) strict=1 ;;
    --windows) windows=1 ;;
    --list) [ $# -ge 2 ] || { usage >&2; exit 2; }; list=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$build" ] || { usage >&2; exit 2; }; build=$1 ;;
  esac
  shift
done
[ -n "$build" ] || { usage >&2; exit 2; }

skip() {
  if [ "$strict" = 1 ]; then
    echo "FAILED (strict): $*" >&2
    exit 1
  fi
  echo "skipped: $*"
  exit 0
}
fail() {
  echo "FAILED: $*" >&2
  [ -n "${work:-}" ] && [ -f "$work/hxhost.err" ] && sed 's/^/  hxhost: /' "$work/hxhost.err" >&2
  exit 1
}

[ -n "$list" ] || list=$build/data/sample.lst
if [ "$windows" = 1 ]; then
  hxhost=$build/bin/hxhost.exe
  plugin=$build/bin/Tarnwick.dll
  [ -f "$hxhost" ] || skip "hxhost.exe is not built ($hxhost)"
  [ -f "$plugin" ] || skip "the plug-in is not built ($plugin)"
  [ -f "$build/bin/Corvane.dll" ] || skip "the engine is not built ($build/bin/Corvane.dll)"
else
  hxhost=$build/bin/hxhost
  plugin=$build/bin/libtarnwick.so
  [ -x "$hxhost" ] || skip "hxhost is not built ($hxhost)"
  [ -f "$plugin" ] || skip "the plug-in is not built ($plugin)"
fi
[ -f "$list" ] || skip "the control list is not built ($list); give one with --list"
command -v curl >/dev/null || skip "curl is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"
list=$(cd "$(dirname "$list")" && pwd)/$(basename "$list")

# A Windows path for a Unix one: Wine's drive Z: is the Unix root.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
# The machine a PE file is built for: 8664 (x86_64) or 014c (i686).
pe_machine() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
if data[:2] != b"MZ":
    sys.exit(1)
offset = struct.unpack_from("<I", data, 0x3C)[0]
if data[offset:offset + 4] != b"PE\0\0":
    sys.exit(1)
print("%04x" % struct.unpack_from("<H", data, offset + 4)[0])
PY
}

if [ "$windows" = 1 ]; then
  if [ -z "${WINE:-}" ]; then
    here=$(cd "$(dirname "$0")/.." && pwd)
    # shellcheck source=/dev/null
    . "$here/cmake/wine-env.sh" >/dev/null 2>&1 || skip "no Wine that can run Windows programs here (cmake/wine-env.sh failed)"
  fi
  machine=$(pe_machine "$hxhost") || skip "$hxhost is no Windows program"
  case "$machine:${PELLUMIN_WINE_ARCH:-x86_64}" in
    8664:x86_64 | 014c:i686) ;;
    014c:x86_64) skip "$hxhost is a 32-bit build, and this Wine ($WINE) runs 64-bit programs only" ;;
    *) skip "$hxhost (machine $machine) does not match this Wine (${PELLUMIN_WINE_ARCH:-?})" ;;
  esac
  KEY="$KEY$$"   # Wine's registry is shared: a key of this run's own
fi

work=$(mktemp -d)
origin_pid=""
host_pid=""
key_imported=0
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
  wait 2>/dev/null
  if [ "$key_imported" = 1 ]; then
    "$WINE" reg delete "HKEY_LOCAL_MACHINE\\$KEY" /f </dev/null >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The settings, as the plug-in reads them from HKEY_LOCAL_MACHINE.
if [ "$windows" = 1 ]; then
  control_file=$(winpath "$list")
else
  control_file=$list
fi
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\%s]\r\n' "$KEY"
  printf '"ControlFile"="%s"\r\n' "$(printf '%s' "$control_file" | sed 's/\\/\\\\/g')"
  printf '"ErrorMsg"="%s"\r\n\r\n' "$DENIAL_BODY"
  printf '[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n' "$KEY"
  printf '"%sState"=dword:00000001\r\n\r\n' "$DENY_CATEGORY"
  printf '[HKEY_LOCAL_MACHINE\\%s\\Alert]\r\n' "$KEY"
  printf '"%sState"=dword:00000001\r\n\r\n' "$ALERT_CATEGORY"
} >"$work/hklm.reg"
if [ "$windows" = 1 ]; then
  key_imported=1
  "$WINE" regedit /S "$(winpath "$work/hklm.reg")" </dev/null >"$work/regedit.out" 2>&1 ||
    fail "regedit /S could not import the settings: $(cat "$work/regedit.out")"
  # regedit reports nothing on a failed import: look for the value itself.
  "$WINE" reg query "HKEY_LOCAL_MACHINE\\$KEY\\Deny" /v "${DENY_CATEGORY}State" </dev/null \
    >"$work/reg.out" 2>&1 || fail "the settings are not in Wine's registry: $(tr -d '\r' <"$work/reg.out")"
else
  export TARNWICK_HKLM=$work/hklm.reg
fi

# The origin: a directory served by python's http.server.
mkdir -p "$work/www/$(dirname "${DENY_PATH#/}")"
echo "hello from the origin" >"$work/www/hello.txt"
echo "must never be served" >"$work/www/${DENY_PATH#/}"
origin_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/www" && exec python3 -m http.server --bind 127.0.0.1 "$origin_port") \
  >"$work/origin.log" 2>&1 &
origin_pid=$!

start_host() {  # extra hxhost options; sets host_pid and proxy_port
  if [ "$windows" = 1 ]; then
    # Started from its own folder, where Windows looks for Corvane.dll.
    (cd "$(dirname "$hxhost")" &&
      exec "$WINE" "$(basename "$hxhost")" --plugin "$(winpath "$(pwd)/$(basename "$plugin")")" \
        --key "$KEY" --listen 127.0.0.1:0 --log "$(winpath "$work/access.log")" \
        --resolve '*=127.0.0.1' --upstream-timeout 5 "$@") </dev/null >"$work/hxhost.out" 2>"$work/hxhost.err" &
    host_pid=$!
    start_tries=300   # the first Wine program of a session starts slowly
  else
    "$hxhost" --plugin "$plugin" --key "$KEY" --listen 127.0.0.1:0 --log "$work/access.log" \
      --resolve '*=127.0.0.1' --upstream-timeout 5 "$@" 2>"$work/hxhost.err" &
    host_pid=$!
    start_tries=100
  fi

  # Wait for both to listen. (Windows programs end lines with CR LF.)
  proxy_port=""
  for _ in $(seq 1 "$start_tries"); do
    proxy_port=$(tr -d '\r' <"$work/hxhost.err" | sed -n 's/^hxhost: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p')
    if [ -n "$proxy_port" ] && curl -s --noproxy "*" -o /dev/null "http://127.0.0.1:$origin_port/hello.txt"; then
      break
    fi
    kill -0 "$host_pid" 2>/dev/null || fail "hxhost exited at start"
    sleep 0.1
  done
  [ -n "$proxy_port" ] || fail "hxhost did not start listening"
  [ "${expect_unavailable:-0}" = 1 ] ||
    grep -q "Initialized Correctly" "$work/hxhost.err" || fail "the plug-in did not initialise"
}
start_host

fetch() {  # URL -> body on stdout
  curl -s --max-time 20 -x "http://127.0.0.1:$proxy_port" "$1"
}

# 1. Allowed: the origin's answer, no log line.
body=$(fetch "http://$ALLOW_HOST:$origin_port$ALLOW_PATH") || fail "allowed request: curl failed"
[ "$body" = "hello from the origin" ] || fail "allowed request: unexpected body '$body'"
[ ! -s "$work/access.log" ] || fail "allowed request was logged: $(cat "$work/access.log")"
echo "ok: allowed  http://$ALLOW_HOST$ALLOW_PATH"

# 2. Alerted: forwarded, and one access log line.
body=$(fetch "http://$ALERT_HOST:$origin_port$ALERT_PATH") || fail "alerted request: curl failed"
[ "$body" = "hello from the origin" ] || fail "alerted request: unexpected body '$body'"
grep -q "~Pellumin Plugin: Access denied to URL: .* for client: 127\.0\.0\.1:" "$work/access.log" ||
  fail "alerted request: no access log line (log: $(cat "$work/access.log" 2>/dev/null))"
echo "ok: alerted  http://$ALERT_HOST$ALERT_PATH ($(wc -l <"$work/access.log") log line)"

# 3. Denied: the plug-in's page, and the origin never asked.
body=$(fetch "http://$DENY_HOST:$origin_port$DENY_PATH") || fail "denied request: curl failed"
case "$body" in
  *"Access Restricted"*"$DENIAL_BODY"*) ;;
  *) fail "denied request: not the denial page: '$body'" ;;
esac
grep -q "GET $DENY_PATH " "$work/origin.log" && fail "denied request reached the origin"
echo "ok: denied   http://$DENY_HOST$DENY_PATH"

# 4. Other spellings of denied URLs: each one is denied, or refused with
# 400 when hxhost cannot spell its host one way only; none reaches the
# origin. curl sends each target exactly as written (--request-target).
spelled() {  # TARGET [curl options] -> HTTP status; body in $work/spelled.body
  local target=$1
  shift
  curl -s --max-time 20 -x "http://127.0.0.1:$proxy_port" --request-target "$target" "$@" \
    -o "$work/spelled.body" -w '%{http_code}' "http://unused.test/"
}
body=$(fetch "http://$SPELL_HOST:$origin_port$ALLOW_PATH") || fail "allowed path: curl failed"
[ "$body" = "hello from the origin" ] || fail "$SPELL_HOST$ALLOW_PATH is not allowed: '$body'"
origin_lines=$(wc -l <"$work/origin.log")
first=${SPELL_PATH:1:1}
encoded_path="/$(printf '%%%02X' "'$first")${SPELL_PATH:2}"
first_host=${DENY_HOST:0:1}
encoded_host="$(printf '%%%02x' "'$first_host")${DENY_HOST:1}"
for target in \
  "http://user@$DENY_HOST:$origin_port$DENY_PATH" \
  "http://user:secret@$DENY_HOST:$origin_port/" \
  "http://$ALLOW_HOST@$DENY_HOST:$origin_port/" \
  "http://$DENY_HOST:$origin_port#fragment" \
  "http://$encoded_host:$origin_port/" \
  "http://$SPELL_HOST:$origin_port$encoded_path" \
  "http://$SPELL_HOST:$origin_port/$SPELL_PATH" \
  "http://$SPELL_HOST:$origin_port/x/..$SPELL_PATH" \
  "http://u@$SPELL_HOST:$origin_port/%2e/$encoded_path"; do
  status=$(spelled "$target") || fail "$target: curl failed"
  grep -q "Access Restricted" "$work/spelled.body" ||
    fail "$target: not denied (status $status: $(head -c 200 "$work/spelled.body"))"
done
echo "ok: denied   user-info, fragment, encoded host and path, doubled slashes, dot segments"
for target in \
  "http://[$DENY_HOST]:$origin_port$DENY_PATH" \
  "http://3221225994:$origin_port/" \
  "http://192.0.2.010:$origin_port/" \
  "http://0x7f.1:$origin_port/"; do
  status=$(spelled "$target")
  [ "$status" = 400 ] || fail "$target: status $status, not 400"
done
status=$(spelled "[$DENY_HOST]:443" -X CONNECT)
[ "$status" = 400 ] || fail "CONNECT [$DENY_HOST]:443: status $status, not 400"
echo "ok: 400      bracketed name, whole-number and octal-looking hosts"
[ "$(wc -l <"$work/origin.log")" = "$origin_lines" ] ||
  fail "a spelling reached the origin: $(tail -n +"$((origin_lines + 1))" "$work/origin.log")"

# 5. A denied HTTPS site: the tunnel is refused with 403, so the browser
# shows a refused connection instead of a TLS error.
connect_status=$(curl -s --max-time 20 -p -x "http://127.0.0.1:$proxy_port" -o /dev/null \
  -w '%{http_connect}' "https://$DENY_HOST:$origin_port/")
[ "$connect_status" = 403 ] || fail "denied CONNECT: status $connect_status, not 403"
echo "ok: denied   CONNECT $DENY_HOST (403)"

# 6. A clean stop with exit status 0: SIGTERM, or under Wine SIGINT, which
# reaches the console control handler as Ctrl-C.
if [ "$windows" = 1 ]; then stop_signal=INT; else stop_signal=TERM; fi
stop_host() {
  kill -"$stop_signal" "$host_pid"
  wait "$host_pid"
  rc=$?
  host_pid=""
  [ "$rc" -eq 0 ] || fail "hxhost exited with $rc after SIG$stop_signal"
}
stop_host
grep -q "^hxhost: stopping" "$work/hxhost.err" || fail "hxhost did not report stopping"
echo "ok: SIG$stop_signal, exit 0"

# 7. A client outside --allow gets 403 and a log line (loopback is served
# only by default, so a range without it shuts this client out).
: >"$work/hxhost.err"
start_host --allow 192.0.2.0/24
status=$(curl -s --max-time 20 -x "http://127.0.0.1:$proxy_port" -o /dev/null -w '%{http_code}' \
  "http://$ALLOW_HOST:$origin_port$ALLOW_PATH")
[ "$status" = 403 ] || fail "client outside --allow: status $status, not 403"
grep -q "refused client 127\.0\.0\.1:" "$work/access.log" || fail "client outside --allow: no log line"
stop_host
echo "ok: 403      client outside --allow 192.0.2.0/24"

# 8. The list missing at start (POSIX only: SIGHUP, and settings in a file):
# hxhost keeps serving by --on-failure, and filters once the list is back
# and it is told to reload.
if [ "$windows" = 0 ]; then
  sed "s|\"ControlFile\"=\".*\"|\"ControlFile\"=\"$work/list-to-come.lst\"|" "$work/hklm.reg" >"$work/broken.reg"
  for mode in deny allow; do
    : >"$work/hxhost.err"
    TARNWICK_HKLM=$work/broken.reg expect_unavailable=1 start_host --on-failure "$mode"
    grep -q "hxhost: .*the filter is unavailable (.*list-to-come.lst" "$work/hxhost.err" ||
      fail "--on-failure $mode: hxhost did not say why it has no filter: $(cat "$work/hxhost.err")"
    status=$(curl -s --max-time 20 -x "http://127.0.0.1:$proxy_port" -o "$work/body" -w '%{http_code}' \
      "http://$DENY_HOST:$origin_port$DENY_PATH")
    if [ "$mode" = deny ]; then
      [ "$status" = 503 ] && grep -q "The URL filter is unavailable" "$work/body" ||
        fail "--on-failure deny without a list: status $status, $(head -c 200 "$work/body")"
    else
      [ "$status" = 200 ] && [ "$(cat "$work/body")" = "must never be served" ] ||
        fail "--on-failure allow without a list: status $status, $(head -c 200 "$work/body")"
    fi
    cp "$work/hklm.reg" "$work/broken.reg"
    kill -HUP "$host_pid"
    for _ in $(seq 1 100); do grep -q "filtering resumes" "$work/hxhost.err" && break; sleep 0.1; done
    grep -q "hxhost: the filter is loaded; filtering resumes" "$work/hxhost.err" ||
      fail "--on-failure $mode: no filter after the list is back and SIGHUP: $(cat "$work/hxhost.err")"
    body=$(fetch "http://$DENY_HOST:$origin_port$DENY_PATH")
    case "$body" in
      *"Access Restricted"*"$DENIAL_BODY"*) ;;
      *) fail "--on-failure $mode: not denied after the reload: '$body'" ;;
    esac
    stop_host
    sed "s|\"ControlFile\"=\".*\"|\"ControlFile\"=\"$work/list-to-come.lst\"|" "$work/hklm.reg" >"$work/broken.reg"
  done
  echo "ok: no list at start: 503 (deny) or unfiltered (allow), filtering after the list and SIGHUP"
fi
echo "e2e passed"
