#!/usr/bin/env bash
# End to end with a real client: curl -> hxhost -> the real plug-in with the
# sample list -> a small origin server. Everything stays on 127.0.0.1:
# hxhost runs with --resolve '*=127.0.0.1', so the sample's host names all
# reach the local origin.
#
# Usage: e2e_curl.sh BUILD_DIR [--strict]
#   Skips (prints "skipped: ..." and exits 0) when the plug-in or the sample
#   list is not built, or curl/python3 are missing; --strict makes that a
#   failure.
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
KEY='SOFTWARE\Pellumin\E2E'
DENIAL_BODY='<BODY><P>e2e: this site is restricted</P></BODY>'

usage() { echo "Usage: $0 BUILD_DIR [--strict]"; }
build=""
strict=0
for arg in "$@"; do
  case "$arg" in
    --strict) strict=1 ;;
    -h|--help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) build=$arg ;;
  esac
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

hxhost=$build/bin/hxhost
plugin=$build/bin/libtarnwick.so
list=$build/data/sample.lst
[ -x "$hxhost" ] || skip "hxhost is not built ($hxhost)"
[ -f "$plugin" ] || skip "the plug-in is not built ($plugin)"
[ -f "$list" ] || skip "the sample list is not built ($list)"
command -v curl >/dev/null || skip "curl is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"

work=$(mktemp -d)
origin_pid=""
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The settings, as the plug-in reads them from HKEY_LOCAL_MACHINE.
export TARNWICK_HKLM=$work/hklm.reg
{
  echo "REGEDIT4"
  echo
  echo "[HKEY_LOCAL_MACHINE\\$KEY]"
  echo "\"ControlFile\"=\"$(cd "$(dirname "$list")" && pwd)/$(basename "$list")\""
  echo "\"ErrorMsg\"=\"$DENIAL_BODY\""
  echo
  echo "[HKEY_LOCAL_MACHINE\\$KEY\\Deny]"
  echo "\"${DENY_CATEGORY}State\"=dword:00000001"
  echo
  echo "[HKEY_LOCAL_MACHINE\\$KEY\\Alert]"
  echo "\"${ALERT_CATEGORY}State\"=dword:00000001"
} >"$TARNWICK_HKLM"

# The origin: a directory served by python's http.server.
mkdir -p "$work/www/$(dirname "${DENY_PATH#/}")"
echo "hello from the origin" >"$work/www/hello.txt"
echo "must never be served" >"$work/www/${DENY_PATH#/}"
origin_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/www" && exec python3 -m http.server --bind 127.0.0.1 "$origin_port") \
  >"$work/origin.log" 2>&1 &
origin_pid=$!

"$hxhost" --plugin "$plugin" --key "$KEY" --listen 127.0.0.1:0 --log "$work/access.log" \
  --resolve '*=127.0.0.1' --upstream-timeout 5 2>"$work/hxhost.err" &
host_pid=$!

# Wait for both to listen.
proxy_port=""
for _ in $(seq 1 100); do
  proxy_port=$(sed -n 's/^hxhost: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/hxhost.err")
  if [ -n "$proxy_port" ] && curl -s --noproxy "*" -o /dev/null "http://127.0.0.1:$origin_port/hello.txt"; then
    break
  fi
  kill -0 "$host_pid" 2>/dev/null || fail "hxhost exited at start"
  sleep 0.1
done
[ -n "$proxy_port" ] || fail "hxhost did not start listening"
grep -q "Initialized Correctly" "$work/hxhost.err" || fail "the plug-in did not initialise"

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

# 4. SIGTERM: a clean stop with exit status 0.
kill -TERM "$host_pid"
wait "$host_pid"
rc=$?
host_pid=""
[ "$rc" -eq 0 ] || fail "hxhost exited with $rc after SIGTERM"
grep -q "^hxhost: stopping" "$work/hxhost.err" || fail "hxhost did not report stopping"
echo "ok: SIGTERM, exit 0"
echo "e2e passed"
