#!/usr/bin/env bash
# Load test: many clients at once through hxhost with the real plug-in and
# the sample list, to a local origin. Everything stays on 127.0.0.1 (hxhost
# runs with --resolve '*=127.0.0.1').
#
# Usage: load_test.sh BUILD_DIR [--requests N] [--concurrency C]
#                     [--valgrind] [--reload] [--strict]
#   BUILD_DIR    a native build (bin/hxhost, bin/libtarnwick.so, data/sample.lst)
#   --requests   how many requests (default 2000; 300 with --valgrind), in
#                turn allowed, alerted and denied, each to a path of its own
#   --concurrency  how many at a time (default 50; 20 with --valgrind)
#   --valgrind   run hxhost under valgrind --leak-check=full; any memory
#                error or definite, indirect or possible leak fails
#   --reload     while the load runs: rotate the access log and SIGHUP with
#                one more denied category, then SIGHUP with a list that is
#                gone (the filter in force must stay), then SIGHUP with the
#                good settings again; the clients go on until that is done.
#                Checks also that the new category is denied afterwards, that
#                the rotated log is closed and both logs together hold one
#                line per alerted request, and what hxhost said each time.
#   --strict     a skip (missing build, python3, valgrind) is a failure
#
# Then hostile clients (load_test.py hostile): more silent connections than
# the limit, slow clients, oversized heads, a client that never reads; an
# ordinary request is served after each, and hxhost's threads, descriptors
# and memory return to idle.
#
# Checks that no request is lost (load_test.py: every allowed or alerted
# request gets the origin's body for its own path, every denied one the
# denial page, the origin serves each forwarded path once and no denied
# one, one access log line per alerted request), that hxhost is back at its
# idle count of threads and open descriptors afterwards, and that it stops
# cleanly on SIGTERM with status 0. In a sanitizer build (PELLUMIN_SANITIZE
# in CMakeCache.txt) a sanitizer or leak report fails the run as well.
# Bounded: the client waits at most 30 s per request, the whole run at most
# LOAD_TEST_TIMEOUT seconds (default 600).
set -uo pipefail
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

ALLOW_HOST=unlisted.test
ALERT_HOST=news.example.net
ALERT_CATEGORY='General News'
DENY_HOST=casino.example.com
DENY_CATEGORY=Gambling
NEW_DENY_HOST=sports.example.com
NEW_DENY_CATEGORY=Sports
KEY='SOFTWARE\Pellumin\Load'
CLIENT_TIMEOUT=5  # seconds; the hostile clients wait for it
DENIAL_BODY='<BODY><P>load: this site is restricted</P></BODY>'

usage() { echo "Usage: $0 BUILD_DIR [--requests N] [--concurrency C] [--valgrind] [--reload] [--strict]"; }
build=""
requests=""
concurrency=""
valgrind=0
reload=0
strict=0
while [ $# -gt 0 ]; do
  case "$1" in
    --requests) [ $# -ge 2 ] || { usage >&2; exit 2; }; requests=$2; shift ;;
    --concurrency) [ $# -ge 2 ] || { usage >&2; exit 2; }; concurrency=$2; shift ;;
    --valgrind) valgrind=1 ;;
    --reload) reload=1 ;;
    --strict) strict=1 ;;
    -h|--help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$build" ] || { usage >&2; exit 2; }; build=$1 ;;
  esac
  shift
done
[ -n "$build" ] || { usage >&2; exit 2; }
if [ "$valgrind" = 1 ]; then
  requests=${requests:-300}
  concurrency=${concurrency:-20}
else
  requests=${requests:-2000}
  concurrency=${concurrency:-50}
fi
case "$requests:$concurrency" in
  *[!0-9:]* | :* | *: ) usage >&2; exit 2 ;;
esac
[ "$requests" -ge 3 ] && [ "$requests" -le 100000 ] || { echo "--requests must be 3..100000" >&2; exit 2; }
[ "$concurrency" -ge 1 ] && [ "$concurrency" -le 200 ] || { echo "--concurrency must be 1..200" >&2; exit 2; }

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
  if [ -n "${work:-}" ] && [ -f "$work/hxhost.err" ]; then
    grep -v '^hxhost: plug-in\|^hxhost: listening' "$work/hxhost.err" | tail -40 | sed 's/^/  hxhost: /' >&2
  fi
  exit 1
}

here=$(cd "$(dirname "$0")" && pwd)
hxhost=$build/bin/hxhost
plugin=$build/bin/libtarnwick.so
list=$build/data/sample.lst
[ -x "$hxhost" ] || skip "hxhost is not built ($hxhost)"
[ -f "$plugin" ] || skip "the plug-in is not built ($plugin)"
[ -f "$list" ] || skip "the sample list is not built ($list)"
command -v python3 >/dev/null || skip "python3 is not installed"
list=$(cd "$(dirname "$list")" && pwd)/$(basename "$list")
sanitized=$(sed -n 's/^PELLUMIN_SANITIZE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
if [ "$valgrind" = 1 ]; then
  command -v valgrind >/dev/null || skip "valgrind is not installed"
  [ -z "$sanitized" ] || skip "valgrind cannot run a sanitizer build ($sanitized); use a plain build"
fi

work=$(mktemp -d)
origin_pid=""
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill -KILL "$host_pid" 2>/dev/null
  [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
deadline=$((SECONDS + ${LOAD_TEST_TIMEOUT:-600}))

export TARNWICK_HKLM=$work/hklm.reg
# write_settings CONTROL_FILE [EXTRA_DENIED_CATEGORY]: a complete new file,
# moved into place, so that hxhost never reads half of one.
write_settings() {
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\%s]\r\n' "$KEY"
    printf '"ControlFile"="%s"\r\n' "$1"
    printf '"ErrorMsg"="%s"\r\n\r\n' "$DENIAL_BODY"
    printf '[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n' "$KEY"
    printf '"%sState"=dword:00000001\r\n' "$DENY_CATEGORY"
    [ -z "${2:-}" ] || printf '"%sState"=dword:00000001\r\n' "$2"
    printf '\r\n[HKEY_LOCAL_MACHINE\\%s\\Alert]\r\n' "$KEY"
    printf '"%sState"=dword:00000001\r\n\r\n' "$ALERT_CATEGORY"
  } >"$TARNWICK_HKLM.new" && mv "$TARNWICK_HKLM.new" "$TARNWICK_HKLM"
}
write_settings "$list"

python3 "$here/load_test.py" origin "$work/origin.port" "$work/origin.hits" \
  >"$work/origin.log" 2>&1 &
origin_pid=$!

runner=()
if [ "$valgrind" = 1 ]; then
  runner=(valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect,possible
          --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99
          --log-file="$work/valgrind.log")
  start_tries=600
else
  start_tries=100
fi
# A sanitizer build reports through stderr; leaks are looked for at exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
"${runner[@]}" "$hxhost" --plugin "$plugin" --key "$KEY" --listen 127.0.0.1:0 \
  --log "$work/access.log" --resolve '*=127.0.0.1' --upstream-timeout 20 \
  --max-connections 256 --client-timeout "$CLIENT_TIMEOUT" 2>"$work/hxhost.err" &
host_pid=$!

proxy_port=""
origin_port=""
for _ in $(seq 1 "$start_tries"); do
  proxy_port=$(sed -n 's/^hxhost: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/hxhost.err")
  [ -f "$work/origin.port" ] && origin_port=$(cat "$work/origin.port")
  [ -n "$proxy_port" ] && [ -n "$origin_port" ] && break
  kill -0 "$host_pid" 2>/dev/null || fail "hxhost exited at start"
  kill -0 "$origin_pid" 2>/dev/null || fail "the origin exited at start: $(cat "$work/origin.log")"
  sleep 0.1
done
[ -n "$proxy_port" ] || fail "hxhost did not start listening"
[ -n "$origin_port" ] || fail "the origin did not start"
grep -q "Initialized Correctly" "$work/hxhost.err" || fail "the plug-in did not initialise"

# Threads and descriptors of the idle proxy: the listener, the log, the
# plug-in's list, the accept thread.
counts() {  # -> "THREADS FDS"
  local threads fds
  threads=$(sed -n 's/^Threads:[[:space:]]*//p' "/proc/$host_pid/status" 2>/dev/null)
  fds=$(find "/proc/$host_pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
  echo "${threads:-?} $fds"
}
idle=$(counts)
rss_before=$(sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$host_pid/status" 2>/dev/null)

# proxy_get HOST PATH: the body of a GET through hxhost.
proxy_get() {
  curl -s --max-time 20 -x "http://127.0.0.1:$proxy_port" "http://$1:$origin_port$2"
}
# wait_for COUNT PATTERN: until hxhost has said PATTERN COUNT times.
wait_for() {
  for _ in $(seq 1 400); do
    [ "$(grep -c -- "$2" "$work/hxhost.err")" -ge "$1" ] && return 0
    sleep 0.05
  done
  return 1
}
# The reloads, in the background while the clients run; they go on until
# reload.done appears.
reloads() {
  local forwarded=$((requests / 4))
  for _ in $(seq 1 600); do
    [ "$(wc -l <"$work/origin.hits")" -ge "$forwarded" ] && break
    sleep 0.05
  done
  mv "$work/access.log" "$work/access.log.1"
  write_settings "$list" "$NEW_DENY_CATEGORY"
  kill -HUP "$host_pid"
  wait_for 1 "in force: denied categories: $DENY_CATEGORY, $NEW_DENY_CATEGORY" ||
    { echo "first reload not reported" >"$work/reload.fault"; touch "$work/reload.done"; return; }
  write_settings "$work/gone.lst" "$NEW_DENY_CATEGORY"
  kill -HUP "$host_pid"
  wait_for 1 "reload failed, the filter in force stays: Pellumin Error: $work/gone.lst" ||
    { echo "failed reload not reported" >"$work/reload.fault"; touch "$work/reload.done"; return; }
  proxy_get "$NEW_DENY_HOST" /reload/after-failed >"$work/after-failed.body"
  write_settings "$list" "$NEW_DENY_CATEGORY"
  kill -HUP "$host_pid"
  wait_for 2 "in force: denied categories: $DENY_CATEGORY, $NEW_DENY_CATEGORY" ||
    echo "third reload not reported" >"$work/reload.fault"
  touch "$work/reload.done"
}
log_files=$work/access.log
reload_pid=""
if [ "$reload" = 1 ]; then
  command -v curl >/dev/null || skip "curl is not installed"
  [ "$(proxy_get "$NEW_DENY_HOST" /reload/before)" = "origin /reload/before" ] ||
    fail "$NEW_DENY_HOST is not allowed before the reload"
  log_files=$work/access.log:$work/access.log.1
  export LOAD_UNTIL_FILE=$work/reload.done
  reloads &
  reload_pid=$!
fi

remaining=$((deadline - SECONDS))
[ "$remaining" -gt 0 ] || fail "out of time before the load started"
timeout "$remaining" python3 "$here/load_test.py" clients "$proxy_port" "$origin_port" \
  "$requests" "$concurrency" "$work/origin.hits" "$log_files" "$DENIAL_BODY" \
  "$ALLOW_HOST" "$ALERT_HOST" "$DENY_HOST" | tee "$work/clients.out"
clients_rc=${PIPESTATUS[0]}
if [ -n "$reload_pid" ]; then
  wait "$reload_pid"
  [ ! -f "$work/reload.fault" ] || fail "reload: $(cat "$work/reload.fault")"
  grep -q "Access Restricted" "$work/after-failed.body" ||
    fail "after a failed reload $NEW_DENY_HOST is no longer denied: $(head -c 200 "$work/after-failed.body")"
  grep -q "Access Restricted" <(proxy_get "$NEW_DENY_HOST" /reload/after) ||
    fail "$NEW_DENY_HOST is not denied after the reload"
  [ "$(grep -c 'hxhost: in force: control list' "$work/hxhost.err")" -ge 1 ] ||
    fail "hxhost did not say what was in force at start"
  grep -q "hxhost: access log reopened" "$work/hxhost.err" || fail "the access log was not reopened"
  [ -s "$work/access.log.1" ] && [ -s "$work/access.log" ] ||
    fail "the rotated and the new access log should both hold lines"
  if find "/proc/$host_pid/fd" -mindepth 1 -maxdepth 1 -lname "$work/access.log.1" | grep -q .; then
    fail "hxhost still holds the rotated access log open"
  fi
  echo "reload: 3 reloads under load (one failed and kept the filter in force); $NEW_DENY_HOST denied after; rotated log closed, $(wc -l <"$work/access.log.1") + $(wc -l <"$work/access.log") log lines"
fi
[ "$clients_rc" -ne 124 ] || fail "the clients did not finish within ${LOAD_TEST_TIMEOUT:-600} s"
[ "$clients_rc" -eq 0 ] || fail "requests were lost or answered wrongly (see FAULT lines)"
kill -0 "$host_pid" 2>/dev/null || fail "hxhost died under load"

# Every connection thread ends and closes its sockets once its client is
# done; give them a moment, then compare with the idle counts.
after=""
for _ in $(seq 1 100); do
  after=$(counts)
  [ "$after" = "$idle" ] && break
  sleep 0.1
done
rss_after=$(sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$host_pid/status" 2>/dev/null)
echo "load: hxhost threads and descriptors idle $idle, after the load $after; RSS $rss_before -> $rss_after"
[ "$after" = "$idle" ] || fail "hxhost kept threads or descriptors after the load (idle: $idle, after: $after)"

# Hostile clients: idle and slow connections beyond the limit, oversized
# heads, a client that never reads; then threads and descriptors again.
remaining=$((deadline - SECONDS))
[ "$remaining" -gt 0 ] || fail "out of time before the hostile clients"
timeout "$remaining" python3 "$here/load_test.py" hostile "$proxy_port" "$origin_port" \
  "$ALLOW_HOST" "$CLIENT_TIMEOUT" 256 "$host_pid" | tee "$work/hostile.out"
hostile_rc=${PIPESTATUS[0]}
[ "$hostile_rc" -ne 124 ] || fail "the hostile clients did not finish in time"
[ "$hostile_rc" -eq 0 ] || fail "hxhost did not hold against hostile clients (see FAULT lines)"
kill -0 "$host_pid" 2>/dev/null || fail "hxhost died under hostile clients"
for _ in $(seq 1 100); do
  after=$(counts)
  [ "$after" = "$idle" ] && break
  sleep 0.1
done
echo "hostile: hxhost threads and descriptors idle $idle, afterwards $after"
[ "$after" = "$idle" ] || fail "hxhost kept threads or descriptors after the hostile clients (idle: $idle, after: $after)"

kill -TERM "$host_pid"
stop_wait=$((deadline - SECONDS))
[ "$stop_wait" -gt 5 ] || stop_wait=5
for _ in $(seq 1 $((stop_wait * 10))); do
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$host_pid" 2>/dev/null && fail "hxhost did not stop within $stop_wait s of SIGTERM"
wait "$host_pid"
rc=$?
host_pid=""
grep -q "^hxhost: stopping" "$work/hxhost.err" || fail "hxhost did not report stopping"
if [ "$valgrind" = 1 ]; then
  if [ "$rc" -ne 0 ] || [ -s "$work/valgrind.log" ]; then
    sed 's/^/  valgrind: /' "$work/valgrind.log" | head -80 >&2
    fail "valgrind found memory errors or leaks (exit status $rc)"
  fi
  echo "load: valgrind --leak-check=full: no errors, no leaks"
else
  [ "$rc" -eq 0 ] || fail "hxhost exited with $rc after SIGTERM"
fi
if [ -n "$sanitized" ]; then
  if grep -q 'Sanitizer\|runtime error:' "$work/hxhost.err"; then
    fail "the sanitizer reported a fault"
  fi
  echo "load: $sanitized sanitizer: no reports (leak check at exit included)"
fi
echo "ok: SIGTERM, exit 0"
echo "load test passed"
