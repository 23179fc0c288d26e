#!/usr/bin/env bash
# End to end: Debian's squid on 127.0.0.1 with tarnwick-squid as its
# url_rewrite_program (concurrency on), curl and Python clients through it
# to a local origin. Squid gets a squid.conf, cache folder, pid file, logs
# and port of this run's own; everything stays on 127.0.0.1 (Squid finds
# the test hosts in a hosts file of its own).
#
# Usage: squid_e2e.sh BUILD_DIR [--requests N] [--strict]
#   BUILD_DIR   a native build (bin/tarnwick-squid, data/sample.lst)
#   --requests  requests of the concurrent run (default 3000, 500 at once)
#   --strict    a missing squid, curl or python3 is a failure, not a skip
#
# Checks: an allowed request reaches the origin; an alerted one too, and the
# helper writes the plug-in's access log line; a denied one gets a 302 to
# the block page with its URL and category; a denied CONNECT is refused
# (Squid answers the CONNECT with the redirect, not 200) while an allowed
# CONNECT is established; lines Squid never sends (out-of-order
# channel-IDs, garbage, CONNECT lines, extras) straight into the helper;
# 500 concurrent requests with none lost; a reload (SIGHUP to the helpers,
# with one more category denied and the access log rotated) under load,
# after which the new category is denied. Squid and its helpers end with
# the test: a helper left behind fails it.
# Exit status: 0 passed, 1 failed, 77 skipped (ctest shows "Skipped").
set -uo pipefail
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

ALLOW_HOST=unlisted.test
ALERT_HOST=news.example.net
ALERT_CATEGORY='General News'
DENY_HOST=casino.example.com
DENY_CATEGORY=Gambling
NEW_DENY_HOST=sports.example.com
NEW_DENY_CATEGORY=Sports
# A denied path on a host whose other paths pass (Drugs and Gambling), for
# the spellings of a path that Squid passes on as written.
SPELL_HOST=pharmacy.example
SPELL_PATH=/promo
KEY='SOFTWARE\Pellumin\Squid'
BLOCK='http://block.test/blocked?url=%u&category=%c&client=%a'
BLOCK_PREFIX='http://block.test/blocked?url='

here=$(cd "$(dirname "$0")" && pwd)
E2E_REQUESTS=3000
# shellcheck source=squid/e2e_common.sh
. "$here/e2e_common.sh"
fail() {
  echo "FAILED: $*" >&2
  if [ -n "${work:-}" ]; then
    for f in cache.log helper.stderr; do
      [ -f "$work/$f" ] && tail -25 "$work/$f" | sed "s/^/  $f: /" >&2
    done
  fi
  exit 1
}

check_build_and_tools

work=$(mktemp -d)
chmod 755 "$work"
squid_pid=""
origin_pid=""
# The helpers Squid started, by process id (children of our squid).
helper_pids() {
  [ -n "$squid_pid" ] || return 0
  helper_children "$squid_pid" "$helper"
}
cleanup() {
  local leftover
  leftover=$(helper_pids)
  [ -n "$squid_pid" ] && kill -KILL "$squid_pid" 2>/dev/null
  [ -n "$leftover" ] && kill -KILL $leftover 2>/dev/null
  [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export TARNWICK_HKLM=$work/hklm.reg
# write_settings CONTROL_FILE [EXTRA_DENIED_CATEGORY]: a whole new file,
# moved into place.
write_settings() {
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n' "$KEY"
    printf '"ControlFile"="%s"\r\n\r\n' "$1"
    printf '[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n"%sState"=dword:00000001\r\n' "$KEY" "$DENY_CATEGORY"
    [ -z "${2:-}" ] || printf '"%sState"=dword:00000001\r\n' "$2"
    printf '\r\n[HKEY_LOCAL_MACHINE\\%s\\Alert]\r\n"%sState"=dword:00000001\r\n\r\n' "$KEY" "$ALERT_CATEGORY"
  } >"$TARNWICK_HKLM.new" && chmod 644 "$TARNWICK_HKLM.new" && mv "$TARNWICK_HKLM.new" "$TARNWICK_HKLM"
}
write_settings "$list"

# --- the helper alone, with lines Squid would send and some it never does
{
  printf '900000003 http://%s/x 10.9.9.9/- - GET myip=127.0.0.1 myport=3128\n' "$DENY_HOST"
  printf '17 http://%s/ 10.9.9.9/-\n' "$ALLOW_HOST"
  printf '4000000000 %s:443 10.9.9.9/- - CONNECT myip=127.0.0.1\n' "$DENY_HOST"
  printf '5 this-is-garbage\n'
  printf '6 http://%s/a?b=c 10.9.9.9/host.lan user1 GET myip=127.0.0.1 myport=3128 extra=x\n' "$ALERT_HOST"
  printf '%s\n' "7 http://$ALLOW_HOST/$(head -c 70000 /dev/zero | tr '\0' a)"
  printf '%s\n' "41 http://$SPELL_HOST/x/..$SPELL_PATH 10.9.9.9/-" "42 http://$SPELL_HOST/%2e%2E$SPELL_PATH 10.9.9.9/-" \
    "43 http://$SPELL_HOST$SPELL_PATH#top 10.9.9.9/-" "44 http://$SPELL_HOST/hello.txt 10.9.9.9/-"
} >"$work/direct.in"
"$helper" --key "$KEY" --redirect "$BLOCK" --log "$work/direct.log" --threads 3 \
  <"$work/direct.in" >"$work/direct.out" 2>"$work/direct.err" || fail "the helper failed: $(cat "$work/direct.err")"
check_line() {  # PATTERN WHAT
  grep -qE -- "$1" "$work/direct.out" || fail "helper: $2 (got: $(tr '\n' '|' <"$work/direct.out"))"
}
[ "$(wc -l <"$work/direct.out")" -eq 10 ] || fail "helper: 10 answers expected, got $(wc -l <"$work/direct.out")"
check_line '^900000003 OK status=302 url="http://block\.test/blocked\?url=http%3A%2F%2Fcasino\.example\.com%2Fx&category=Gambling&client=10\.9\.9\.9"$' "denied GET"
check_line '^17 ERR$' "allowed GET"
check_line '^4000000000 OK status=302 url="http://block\.test/blocked\?url=casino\.example\.com%3A443&' "denied CONNECT line"
check_line '^5 BH message="' "garbage line"
check_line '^6 ERR$' "alerted GET with extras"
check_line '^7 BH message="the request line is longer than 65536 bytes"$' "over-long line"
for id in 41 42 43; do check_line "^$id OK status=302 url=\"http://block\\.test/.*&category=Gambling&" "dot segments or a fragment ($id)"; done
check_line '^44 ERR$' "an allowed path beside a denied one"
grep -q "for client: 10.9.9.9" "$work/direct.log" || fail "helper: no access log line for the alerted request"
echo "ok: the helper alone: channel-IDs echoed out of order, CONNECT, extras, garbage, an over-long line, dot segments, a fragment"

# A reload that fails on a list that is gone: the engine's own note about
# the file ("open failed 2") goes to standard error, and standard output
# holds answers only (Squid takes every line there for one).
mkfifo "$work/reload.in"
"$helper" --key "$KEY" --redirect "$BLOCK" <"$work/reload.in" >"$work/reload.out" 2>"$work/reload.err" &
reload_helper=$!
exec 9>"$work/reload.in"
for _ in $(seq 1 100); do grep -q "plug-in: " "$work/reload.err" && break; sleep 0.05; done
write_settings "$work/gone.lst"
kill -HUP "$reload_helper"
for _ in $(seq 1 100); do grep -q "reload failed" "$work/reload.err" && break; sleep 0.05; done
printf '1 http://%s/\n' "$DENY_HOST" >&9
exec 9>&-
wait "$reload_helper" || fail "the helper failed after a failed reload: $(cat "$work/reload.err")"
write_settings "$list"
grep -q "reload failed, the filter in force stays: .*gone.lst" "$work/reload.err" ||
  fail "the failed reload was not reported: $(cat "$work/reload.err")"
[ "$(cat "$work/reload.out")" = "1 OK status=302 url=\"${BLOCK_PREFIX}http%3A%2F%2F$DENY_HOST%2F&category=$DENY_CATEGORY&client=\"" ] ||
  fail "after a failed reload, standard output is not the one answer: $(tr '\n' '|' <"$work/reload.out")"
echo "ok: the helper alone: a failed reload keeps the filter and says why on standard error only"

# --- squid
origin_port=$(free_port)
squid_port=$(free_port)
python3 "$here/../host/load_test.py" origin "$work/origin.port" "$work/origin.hits" >"$work/origin.log" 2>&1 &
origin_pid=$!
mkdir -p "$work/cache"
: >"$work/alerts.log"
{
  for h in "$ALLOW_HOST" "$ALERT_HOST" "$DENY_HOST" "$NEW_DENY_HOST" "$SPELL_HOST"; do echo "127.0.0.1 $h"; done
} >"$work/hosts"
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  # Squid will not run as root; it takes the proxy user, which must reach
  # this run's files.
  user=proxy
  chown -R proxy "$work/cache" "$work/alerts.log"
  chmod 777 "$work"
fi
cat >"$work/squid.conf" <<EOF
http_port 127.0.0.1:$squid_port
pid_filename $work/squid.pid
cache_effective_user $user
cache_dir ufs $work/cache 16 4 4
coredump_dir $work/cache
cache_log $work/cache.log
access_log stdio:$work/access.log
cache_store_log none
netdb_filename none
hosts_file $work/hosts
visible_hostname pellumin-squid-test
cache deny all
max_filedescriptors 8192
shutdown_lifetime 1 seconds
acl to_local dst 127.0.0.1
http_access allow localhost to_local
http_access deny all
url_rewrite_program /usr/bin/env TARNWICK_HKLM=$TARNWICK_HKLM $helper --key $KEY --redirect $BLOCK --log $work/alerts.log --threads 4
url_rewrite_children 2 startup=2 idle=1 concurrency=100
url_rewrite_extras "%>a/%>A %un %>rm myip=%la myport=%lp"
url_rewrite_bypass off
EOF
# Quoting: Squid splits url_rewrite_program on blanks; the key has none.
"$squid" -k parse -f "$work/squid.conf" >"$work/parse.log" 2>&1 || fail "squid -k parse: $(tail -5 "$work/parse.log")"
"$squid" -z -N -f "$work/squid.conf" >"$work/z.log" 2>&1 || fail "squid -z: $(tail -5 "$work/z.log")"
"$squid" -N -f "$work/squid.conf" >"$work/squid.out" 2>&1 &
squid_pid=$!
for _ in $(seq 1 200); do
  curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$squid_port/" && [ -f "$work/origin.port" ] && break
  kill -0 "$squid_pid" 2>/dev/null || fail "squid exited at start: $(tail -5 "$work/squid.out")"
  sleep 0.1
done
[ -f "$work/origin.port" ] || fail "the origin did not start"
origin_port=$(cat "$work/origin.port")
proxy="http://127.0.0.1:$squid_port"
get() { curl -s --max-time 30 -x "$proxy" "$@"; }

body=$(get "http://$ALLOW_HOST:$origin_port/allowed")
[ "$body" = "origin /allowed" ] || fail "allowed: got '$body'"
body=$(get "http://$ALERT_HOST:$origin_port/alerted")
[ "$body" = "origin /alerted" ] || fail "alerted: got '$body'"
for _ in $(seq 1 50); do grep -q "NEWS.EXAMPLE.NET for client: 127.0.0.1" "$work/alerts.log" && break; sleep 0.1; done
grep -q "~Pellumin Plugin: Access denied to URL: NEWS.EXAMPLE.NET for client: 127.0.0.1" "$work/alerts.log" ||
  fail "alerted: no access log line in the helper's log"
answer=$(get -o /dev/null -w '%{http_code} %{redirect_url}' "http://$DENY_HOST:$origin_port/denied")
[ "$answer" = "302 ${BLOCK_PREFIX}http%3A%2F%2Fcasino.example.com%3A$origin_port%2Fdenied&category=Gambling&client=127.0.0.1" ] ||
  fail "denied: got '$answer'"
grep -q "/denied" "$work/origin.hits" 2>/dev/null && fail "denied: the request reached the origin"
echo "ok: squid: allowed, alerted (log line), denied (302 to the block page)"

# Squid passes a path on as the client wrote it (dot segments, a fragment),
# and the origin resolves it: each spelling of the denied path is denied.
[ "$(get "http://$SPELL_HOST:$origin_port/hello.txt")" = "origin /hello.txt" ] ||
  fail "$SPELL_HOST/hello.txt is not allowed"
for target in "/x/..$SPELL_PATH" "/%2e%2e$SPELL_PATH" "$SPELL_PATH#top"; do
  code=$(get -o /dev/null -w '%{http_code}' --request-target "http://$SPELL_HOST:$origin_port$target" \
    "http://$SPELL_HOST:$origin_port/")
  [ "$code" = 302 ] || fail "$SPELL_HOST$target: Squid answered $code, not the redirect"
done
grep -q "$SPELL_PATH" "$work/origin.hits" 2>/dev/null && fail "a spelling of $SPELL_HOST$SPELL_PATH reached the origin"
echo "ok: squid: dot segments and a fragment in a denied path are denied"

# CONNECT: the origin speaks no TLS, so an allowed tunnel is established
# and then fails the handshake; a denied one is never established.
connect_code() { curl -s -o /dev/null --max-time 20 -w '%{http_connect}' -x "$proxy" "https://$1:$origin_port/" ; }
code=$(connect_code "$ALLOW_HOST")
[ "$code" = 200 ] || fail "allowed CONNECT: Squid answered $code, not 200"
code=$(connect_code "$DENY_HOST")
[ "$code" != 200 ] && [ "$code" != 000 ] || fail "denied CONNECT: Squid answered '$code'"
echo "ok: squid: allowed CONNECT established (200), denied CONNECT refused ($code)"

# --- 500 at once, none lost
: >"$work/alerts.log"
python3 "$here/squid_e2e_clients.py" "$squid_port" "$origin_port" "$requests" 500 "$work/alerts.log" \
  "$BLOCK_PREFIX" "$ALLOW_HOST" "$ALERT_HOST" "$DENY_HOST" || fail "requests were lost or answered wrongly"

# --- a reload under load: one more denied category, the log rotated
[ "$(get "http://$NEW_DENY_HOST:$origin_port/before")" = "origin /before" ] ||
  fail "$NEW_DENY_HOST is not allowed before the reload"
: >"$work/alerts.log"
reloads() {
  sleep 1
  mv "$work/alerts.log" "$work/alerts.log.1"
  write_settings "$list" "$NEW_DENY_CATEGORY"
  local pids
  pids=$(helper_pids)
  [ -n "$pids" ] || { echo "no helper process found" >"$work/reload.fault"; touch "$work/reload.done"; return; }
  kill -HUP $pids
  for _ in $(seq 1 200); do
    [ "$(grep -c "reloaded: Pellumin Plugin V1.0 Initialized Correctly!" "$work/cache.log")" -ge "$(wc -w <<<"$pids")" ] && break
    sleep 0.05
  done
  sleep 1
  touch "$work/reload.done"
}
reloads &
reload_pid=$!
python3 "$here/squid_e2e_clients.py" "$squid_port" "$origin_port" 1000 200 "$work/alerts.log:$work/alerts.log.1" \
  "$BLOCK_PREFIX" "$ALLOW_HOST" "$ALERT_HOST" "$DENY_HOST" "$work/reload.done" ||
  fail "requests were lost or answered wrongly during the reload"
wait "$reload_pid"
[ ! -f "$work/reload.fault" ] || fail "reload: $(cat "$work/reload.fault")"
grep -q "in force: denied categories: $DENY_CATEGORY, $NEW_DENY_CATEGORY" "$work/cache.log" ||
  fail "the helpers did not report the new deny list"
code=$(get -o /dev/null -w '%{http_code}' "http://$NEW_DENY_HOST:$origin_port/after")
[ "$code" = 302 ] || fail "$NEW_DENY_HOST is not denied after the reload (got $code)"
[ -s "$work/alerts.log" ] || fail "the helpers did not start a new access log after the reload"
echo "ok: squid: reload under load, none lost; $NEW_DENY_HOST denied after; the access log reopened"

# --- the end: Squid stops, and its helpers with it
pids=$(helper_pids)
kill -TERM "$squid_pid"
for _ in $(seq 1 100); do kill -0 "$squid_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$squid_pid" 2>/dev/null && fail "squid did not stop within 10 s of SIGTERM"
wait "$squid_pid"
squid_pid=""
for _ in $(seq 1 50); do
  left=""
  for pid in $pids; do kill -0 "$pid" 2>/dev/null && left="$left $pid"; done
  [ -z "$left" ] && break
  sleep 0.1
done
[ -z "$left" ] || { kill -KILL $left 2>/dev/null; fail "helpers outlived squid:$left"; }
grep -q "tarnwick-squid: input ended after" "$work/cache.log" || fail "the helpers did not report their end"
# A sanitizer build of the helper reports to its standard error, which is
# Squid's cache.log (leaks at exit included).
if grep -q 'Sanitizer\|runtime error:' "$work/cache.log" "$work/direct.err"; then
  fail "the sanitizer reported a fault in the helper"
fi
echo "squid end-to-end test passed"
