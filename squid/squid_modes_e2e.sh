#!/usr/bin/env bash
# End to end: the helper's failure modes, its external ACL protocol and TLS
# server names, each with Debian's Squid (squid-openssl for %ssl::>sni and
# peeking) on 127.0.0.1 with a squid.conf, cache folder and port of this
# run's own, and a local origin.
#
# Usage: squid_modes_e2e.sh BUILD_DIR [--requests N] [--strict]
#   BUILD_DIR   a native build (bin/tarnwick-squid, data/sample.lst)
#   --requests  URLs of the verdict comparison (default 3000, 100 at once)
#   --strict    a missing squid, squid with TLS, curl, openssl or python3 is
#               a failure, not a skip
#
# Checks: the squid.conf fragments of doc/squid.md pass squid -k parse; with
# the list missing at start, a rewrite Squid with --on-failure
# deny and an external ACL Squid with --on-failure allow both keep serving,
# every request denied (block page, "unavailable") or passed as chosen;
# after the list is back and a SIGHUP, both filter. The ACL Squid denies
# with http_access and its deny_info page (the filter's message in it) and
# passes the rest; the same URLs through both give the same verdicts, none
# lost. A loopback TLS origin reached by address (curl --connect-to) with a
# listed server name is terminated, with an unlisted one spliced and served.
# Exit status: 0 passed, 1 failed, 77 skipped (ctest shows "Skipped").
set -uo pipefail
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

KEY='SOFTWARE\Pellumin\SquidModes'
BLOCK='http://block.test/blocked?url=%u&category=%c&client=%a'
BLOCK_PREFIX='http://block.test/blocked?url='
DENY_CATEGORIES=(Gambling Sex Drugs Humor)
# Hosts of the sample list (data/sample.txt) and one it does not hold;
# Squid finds them all at 127.0.0.1 through a hosts file of its own.
HOSTS=(casino.example.com www.bets.example.net games.example.org sports.example.com
  news.example.net www.example.org pharmacy.example www.poker.example.test
  homes.example.org www.example.com adult.example.invalid shop.example.net unlisted.test)
PATHS=(/ /promo /offers/bets /x/../promo /%2e%2e/promo /promo#top /games/ /games/jokes/
  /~someone/ /%7Esomeone/ /people/~ /fashion/a /a%22b/ /q?x=1)

here=$(cd "$(dirname "$0")" && pwd)
E2E_REQUESTS=3000
# shellcheck source=squid/e2e_common.sh
. "$here/e2e_common.sh"
fail() {
  echo "FAILED: $*" >&2
  if [ -n "${work:-}" ]; then
    for f in "$work"/*/cache.log; do
      [ -f "$f" ] && tail -15 "$f" | sed "s|^|  ${f#"$work"/}: |" >&2
    done
  fi
  exit 1
}

check_build_and_tools
# The external ACL format and the TLS cases need %ssl::>sni, which only a
# Squid built with OpenSSL knows.
"$squid" -v 2>/dev/null | grep -q -- '--with-openssl' ||
  skip "this squid is built without OpenSSL (Debian's squid-openssl has %ssl::>sni and peeking)"

work=$(mktemp -d)
chmod 755 "$work"
squid_pids=()
origin_pid=""
tls_pid=""
# The helpers a Squid started, by process id (children of that squid).
helper_pids() { helper_children "$1" "$helper"; }
cleanup() {
  local pid leftover
  for pid in "${squid_pids[@]}"; do
    leftover=$(helper_pids "$pid")
    kill -KILL "$pid" 2>/dev/null
    [ -n "$leftover" ] && kill -KILL $leftover 2>/dev/null
  done
  [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
  [ -n "$tls_pid" ] && kill "$tls_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export TARNWICK_HKLM=$work/hklm.reg
# write_settings CONTROL_FILE: a whole new file, moved into place.
write_settings() {
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n' "$KEY"
    printf '"ControlFile"="%s"\r\n\r\n' "$1"
    printf '[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n' "$KEY"
    for c in "${DENY_CATEGORIES[@]}"; do printf '"%sState"=dword:00000001\r\n' "$c"; done
    printf '\r\n'
  } >"$TARNWICK_HKLM.new" && chmod 644 "$TARNWICK_HKLM.new" && mv "$TARNWICK_HKLM.new" "$TARNWICK_HKLM"
}
# The list is missing at start.
write_settings "$work/list-to-come.lst"

python3 "$here/../host/load_test.py" origin "$work/origin.port" "$work/origin.hits" >"$work/origin.log" 2>&1 &
origin_pid=$!
for h in "${HOSTS[@]}"; do echo "127.0.0.1 $h"; done >"$work/hosts"
user=$(id -un)
[ "$(id -u)" -eq 0 ] && { user=proxy; chmod 777 "$work"; }

# Squid's own page for the ACL's denials: its error templates, and one of
# ours that shows the filter's message (%o).
mkdir -p "$work/errors"
cp /usr/share/squid/errors/templates/* "$work/errors/" 2>/dev/null ||
  skip "Squid's error templates are not in /usr/share/squid/errors/templates"
cat >"$work/errors/ERR_PELLUMIN" <<'PAGE'
<html><head><title>Access restricted</title></head><body>
<h1>Access restricted</h1><p>pellumin-denied: %o</p><p>%U</p>
</body></html>
PAGE
chmod -R a+rX "$work/errors"

# --- the squid.conf fragments of doc/squid.md, as written, through squid -k parse
# (the files they name made here: the error pages, the ssl-bump certificate)
command -v openssl >/dev/null || skip "openssl is not installed (the TLS fragment and cases need a certificate)"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=pellumin-test" \
  -keyout "$work/bump.pem" -out "$work/bump.pem" >"$work/openssl.log" 2>&1 || fail "openssl req: $(tail -3 "$work/openssl.log")"
chmod 644 "$work/bump.pem"
awk -v dir="$work" '/^```squid.conf$/ { n++; file = dir "/fragment" n ".conf"; next }
  /^```/ { file = ""; next }
  file != "" { print > file }' "$here/../doc/squid.md"
fragments=$(ls "$work"/fragment*.conf 2>/dev/null | wc -l)
[ "$fragments" -ge 3 ] || fail "doc/squid.md: $fragments squid.conf fragments, want 3"
for f in "$work"/fragment*.conf; do
  {
    printf 'http_port 127.0.0.1:%s\npid_filename %s/parse.pid\ncache_log %s/parse-cache.log\n' "$(free_port)" "$work" "$work"
    sed -e "s|/etc/squid/pellumin-errors|$work/errors|g" -e "s|/etc/squid/pellumin-bump.pem|$work/bump.pem|g" "$f"
  } >"$f.full"
  problems='FATAL\|ERROR:\|Bungled\|[Uu]nrecognized\|WARNING:'
  "$squid" -k parse -f "$f.full" >"$f.parse" 2>&1 || fail "doc/squid.md $(basename "$f"): squid -k parse: $(grep "$problems" "$f.parse" | head -5)"
  ! grep -q "$problems" "$f.parse" || fail "doc/squid.md $(basename "$f"): $(grep "$problems" "$f.parse" | head -5)"
done
echo "ok: the $fragments squid.conf fragments of doc/squid.md pass squid -k parse"

# start_squid NAME CONFIG-LINES: a Squid of its own in $work/NAME; sets
# port_NAME and pid_NAME.
start_squid() {
  local name=$1 lines=$2 port dir pid
  port=$(free_port)
  dir=$work/$name
  mkdir -p "$dir/cache"
  [ "$(id -u)" -eq 0 ] && { chown -R proxy "$dir"; }
  cat >"$dir/squid.conf" <<CONF
http_port 127.0.0.1:$port
pid_filename $dir/squid.pid
cache_effective_user $user
cache_dir ufs $dir/cache 16 4 4
coredump_dir $dir/cache
cache_log $dir/cache.log
access_log stdio:$dir/access.log
cache_store_log none
netdb_filename none
hosts_file $work/hosts
visible_hostname pellumin-squid-modes
cache deny all
max_filedescriptors 4096
shutdown_lifetime 1 seconds
error_directory $work/errors
$lines
CONF
  "$squid" -k parse -f "$dir/squid.conf" >"$dir/parse.log" 2>&1 || fail "$name: squid -k parse: $(grep -i 'error\|fatal' "$dir/parse.log" | head -5)"
  "$squid" -z -N -f "$dir/squid.conf" >"$dir/z.log" 2>&1 || fail "$name: squid -z: $(tail -5 "$dir/z.log")"
  "$squid" -N -f "$dir/squid.conf" >"$dir/squid.out" 2>&1 &
  pid=$!
  squid_pids+=("$pid")
  for _ in $(seq 1 200); do
    curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$port/" && break
    kill -0 "$pid" 2>/dev/null || fail "$name: squid exited at start: $(tail -5 "$dir/squid.out")"
    sleep 0.1
  done
  printf -v "port_$name" '%s' "$port"
  printf -v "pid_$name" '%s' "$pid"
}

helper_cmd="/usr/bin/env TARNWICK_HKLM=$TARNWICK_HKLM $helper --key $KEY"
start_squid rewrite "
acl to_local dst 127.0.0.1
http_access allow localhost to_local
http_access deny all
url_rewrite_program $helper_cmd --redirect $BLOCK --on-failure deny
url_rewrite_children 2 startup=2 idle=1 concurrency=100
url_rewrite_extras \"%>a/%>A %un %>rm myip=%la myport=%lp sni=%ssl::>sni\"
url_rewrite_bypass off"
start_squid acl "
external_acl_type pellumin ttl=0 negative_ttl=0 children-max=2 children-startup=2 concurrency=100 %URI %>a %ssl::>sni $helper_cmd --protocol acl --on-failure allow
acl pellumin external pellumin
acl to_local dst 127.0.0.1
deny_info 403:ERR_PELLUMIN pellumin
http_access deny pellumin
http_access allow localhost to_local
http_access deny all"
for _ in $(seq 1 100); do [ -f "$work/origin.port" ] && break; sleep 0.1; done
[ -f "$work/origin.port" ] || fail "the origin did not start"
origin_port=$(cat "$work/origin.port")

# status_of NAME URL: "CODE LOCATION-OR-BODY-LINE"
status_of() {
  local port_var="port_$1"
  curl -s --max-time 30 -x "http://127.0.0.1:${!port_var}" -o "$work/body" -w '%{http_code} %{redirect_url}' "$2"
}

# --- the list missing at start: each Squid keeps serving by its mode
for name in rewrite acl; do
  for _ in $(seq 1 100); do grep -q "cannot start: " "$work/$name/cache.log" && break; sleep 0.1; done
  grep -q "tarnwick-squid: cannot start: Pellumin Error: .*list-to-come.lst" "$work/$name/cache.log" ||
    fail "$name: the helper did not say why it has no filter"
done
grep -q "every request is DENIED as unavailable (--on-failure deny)" "$work/rewrite/cache.log" ||
  fail "rewrite: the helper did not say what it answers"
grep -q "every request PASSES UNFILTERED (--on-failure allow)" "$work/acl/cache.log" ||
  fail "acl: the helper did not say what it answers"
for host in casino.example.com unlisted.test; do
  got=$(status_of rewrite "http://$host:$origin_port/early")
  [ "$got" = "302 ${BLOCK_PREFIX}http%3A%2F%2F$host%3A$origin_port%2Fearly&category=unavailable&client=127.0.0.1" ] ||
    fail "rewrite, deny, no list: $host got '$got'"
  got=$(status_of acl "http://$host:$origin_port/early-$host")
  [ "$got" = "200 " ] && [ "$(cat "$work/body")" = "origin /early-$host" ] ||
    fail "acl, allow, no list: $host got '$got' $(head -c 200 "$work/body")"
done
echo "ok: the list missing at start: Squid keeps serving; rewrite --on-failure deny sends the block page (unavailable), acl --on-failure allow passes"

# --- the list comes back; a SIGHUP and the helpers filter
write_settings "$list"
for name in rewrite acl; do
  pid_var="pid_$name"
  pids=$(helper_pids "${!pid_var}")
  [ -n "$pids" ] || fail "$name: no helper process found"
  kill -HUP $pids
  for _ in $(seq 1 200); do
    [ "$(grep -c "filter loaded, filtering resumes: Pellumin Plugin V1.0 Initialized Correctly!" "$work/$name/cache.log")" -ge "$(wc -w <<<"$pids")" ] && break
    sleep 0.05
  done
  [ "$(grep -c "filtering resumes" "$work/$name/cache.log")" -ge "$(wc -w <<<"$pids")" ] ||
    fail "$name: the helpers did not load the list after SIGHUP"
done
got=$(status_of rewrite "http://casino.example.com:$origin_port/later")
[ "$got" = "302 ${BLOCK_PREFIX}http%3A%2F%2Fcasino.example.com%3A$origin_port%2Flater&category=Gambling&client=127.0.0.1" ] ||
  fail "rewrite after the reload: got '$got'"
got=$(status_of acl "http://casino.example.com:$origin_port/later")
[ "$got" = "403 " ] && grep -q "pellumin-denied: the filter denies this site (Gambling)" "$work/body" ||
  fail "acl after the reload: got '$got' $(head -c 300 "$work/body")"
got=$(status_of acl "http://unlisted.test:$origin_port/passes")
[ "$got" = "200 " ] && [ "$(cat "$work/body")" = "origin /passes" ] || fail "acl: an unlisted host got '$got'"
grep -q "/later" "$work/origin.hits" 2>/dev/null && fail "a denied request reached the origin"
echo "ok: after the list is back and SIGHUP: rewrite redirects, the ACL denies with its deny_info page, unlisted passes"

# --- the same URLs through both: the same verdicts, none lost
: >"$work/urls"
for ((i = 0; i < requests; i++)); do
  host=${HOSTS[i % ${#HOSTS[@]}]}
  path=${PATHS[(i / ${#HOSTS[@]}) % ${#PATHS[@]}]}
  case "$path" in
    *\#*) printf 'http://%s:%s%s\n' "$host" "$origin_port" "$path" ;;
    *\?*) printf 'http://%s:%s%s&n=%d\n' "$host" "$origin_port" "$path" "$i" ;;
    *) printf 'http://%s:%s%s?n=%d\n' "$host" "$origin_port" "$path" "$i" ;;
  esac
done >"$work/urls"
python3 "$here/squid_verdicts.py" "$port_rewrite" "$work/urls" 100 "$work/rewrite.verdicts" ||
  fail "rewrite: requests without a clear verdict: $(grep -m3 fault "$work/rewrite.verdicts")"
python3 "$here/squid_verdicts.py" "$port_acl" "$work/urls" 100 "$work/acl.verdicts" ||
  fail "acl: requests without a clear verdict: $(grep -m3 fault "$work/acl.verdicts")"
if ! diff "$work/rewrite.verdicts" "$work/acl.verdicts" >"$work/verdicts.diff"; then
  fail "the ACL's verdicts differ from the rewrite helper's: $(head -6 "$work/verdicts.diff")"
fi
denied=$(grep -c $'\tdenied$' "$work/acl.verdicts")
passed=$(grep -c $'\tpassed$' "$work/acl.verdicts")
[ "$denied" -gt 0 ] && [ "$passed" -gt 0 ] || fail "the comparison needs both verdicts: $denied denied, $passed passed"
echo "ok: $requests URLs through both: identical verdicts ($denied denied, $passed passed), none lost"

# --- TLS: a CONNECT by address judged by its server name
cp "$work/bump.pem" "$work/tls.pem"
tls_port=$(free_port)
python3 - "$tls_port" "$work/tls.pem" >"$work/tls.log" 2>&1 <<'PY' &
import http.server, ssl, sys
class Handler(http.server.BaseHTTPRequestHandler):
  def do_GET(self):
      body = ("tls origin %s\n" % self.path).encode()
      self.send_response(200)
      self.send_header("Content-Length", str(len(body)))
      self.end_headers()
      self.wfile.write(body)
  def log_message(self, *args):
      pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
PY
tls_pid=$!
start_squid tls "
http_port 127.0.0.1:$(free_port) ssl-bump cert=$work/tls.pem generate-host-certificates=off
external_acl_type pellumin_sni ttl=0 negative_ttl=0 children-max=1 children-startup=1 concurrency=100 %URI %>a %ssl::>sni $helper_cmd --protocol acl
acl pellumin_sni external pellumin_sni
acl step1 at_step SslBump1
acl to_local dst 127.0.0.1
http_access allow localhost to_local
http_access deny all
ssl_bump peek step1
ssl_bump terminate pellumin_sni
ssl_bump splice all"
# The ssl-bump port is the one clients use here: the first http_port
# line is the plain one start_squid checks.
bump_port=$(sed -n 's/^http_port 127.0.0.1:\([0-9]*\) ssl-bump.*/\1/p' "$work/tls/squid.conf")
for _ in $(seq 1 100); do curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$bump_port/" && break; sleep 0.1; done
tls_get() {  # NAME: "CODE BODY" for https://NAME/ reached at 127.0.0.1
  curl -sk --max-time 20 -x "http://127.0.0.1:$bump_port" --connect-to "$1:443:127.0.0.1:$tls_port" \
    "https://$1/sni-test" 2>/dev/null
  echo " exit=$?"
}
got=$(tls_get unlisted.test)
[ "$got" = "tls origin /sni-test
 exit=0" ] || fail "TLS with an unlisted server name by address: got '$got'"
got=$(tls_get casino.example.com)
case "$got" in *"tls origin"*) fail "TLS with a listed server name by address was served: '$got'" ;; esac
grep -q "CONNECT 127.0.0.1:$tls_port" "$work/tls/access.log" ||
  fail "curl --connect-to did not reach Squid by address: $(tail -3 "$work/tls/access.log")"
echo "ok: TLS by address: a listed server name is terminated, an unlisted one spliced and served"

# --- the end: Squid stops, and its helpers with it
for pid in "${squid_pids[@]}"; do
  helpers=$(helper_pids "$pid")
  kill -TERM "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "squid $pid did not stop within 10 s of SIGTERM"
  for _ in $(seq 1 50); do
    left=""
    for h in $helpers; do kill -0 "$h" 2>/dev/null && left="$left $h"; done
    [ -z "$left" ] && break
    sleep 0.1
  done
  [ -z "$left" ] || fail "helpers outlived squid:$left"
done
squid_pids=()
if grep -q 'Sanitizer\|runtime error:' "$work"/*/cache.log; then
  fail "the sanitizer reported a fault in the helper"
fi
echo "squid modes end-to-end test passed"
