#!/usr/bin/env bash
# Alert mail and business hours end to end: hxhost with the real plug-in
# and the sample list, a real SMTP server (aiosmtpd, mail/testing/
# smtp_server.py) on a loopback port, and a client that sends 2,000 alerted
# requests at once:
#   - every entry arrives exactly once, in a handful of mails;
#   - with the server down, what hxhost held at its end is kept in the spool
#     and sent by the next start, once the server is back;
#   - BusinessHours covering every hour denies an Hours-only category, an
#     empty BusinessHours lets it pass;
#   - tarnwick-squid mails what it alerted on, the last of it when its input
#     ends, and redirects an Hours-only request in business hours.
#
# Usage: hxhost_mail_e2e.sh BUILD_DIR [--strict]
#   Skips (prints "skipped: ..." and exits 0) when hxhost is not built or no
#   python3 has aiosmtpd; --strict makes that a failure.
set -uo pipefail
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=testing/mail_e2e_lib.sh
source "$here/testing/mail_e2e_lib.sh"
mail_e2e_args "$@"

hxhost=$build/bin/hxhost
plugin=$build/bin/libtarnwick.so
regfile=$build/bin/pellumin_regfile
list=$build/data/sample.lst
squid=$build/bin/tarnwick-squid
for f in "$hxhost" "$plugin" "$regfile" "$list" "$squid"; do [ -e "$f" ] || skip "$f is not built"; done
find_aiosmtpd_python

work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-mail-e2e.XXXXXX") || exit 1
smtp_pid=""
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$smtp_pid" ] && kill "$smtp_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

KEY='SOFTWARE\Pellumin\MailE2E'
export TARNWICK_HKLM=$work/hklm.reg
mkdir -p "$work/mx"


start_host() {
  "$hxhost" --plugin "$plugin" --key "$KEY" --listen 127.0.0.1:0 2>"$work/hxhost.err" &
  host_pid=$!
  local i
  proxy_port=""
  for i in $(seq 1 100); do
    proxy_port=$(sed -n 's/^hxhost: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/hxhost.err")
    [ -n "$proxy_port" ] && break
    kill -0 "$host_pid" 2>/dev/null || fail "hxhost exited at start"
    sleep 0.1
  done
  [ -n "$proxy_port" ] || fail "hxhost did not start listening"
  grep -q "Initialized Correctly" "$work/hxhost.err" || fail "the plug-in did not initialise"
}
stop_host() { kill -TERM "$host_pid"; wait "$host_pid" 2>/dev/null; host_pid=""; }

# fetch(port, host, path): the proxy's whole answer to one GET.
FETCH_PY='
import socket, sys
def fetch(port, host, path):
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    s.sendall(b"GET http://%s%s HTTP/1.0\r\nHost: %s\r\n\r\n" % (host, path, host))
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    return data
'

# requests FIRST COUNT: COUNT alerted (and denied) requests at once, numbered
# from FIRST; prints how many got the denial page.
requests() {
  "$python" -c "$FETCH_PY
import concurrent.futures
port, first, count = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
def one(n):
    return b'Access Restricted' in fetch(port, b'casino.example.com', b'/poker?n=%d' % n)
with concurrent.futures.ThreadPoolExecutor(32) as pool:
    print(sum(pool.map(one, range(first, first + count))))
" "$proxy_port" "$1" "$2"
}

# entries: every n= of every mail's decoded body, one a line.
entries() {
  cat "$work"/mx/*.body 2>/dev/null | tr -d '\r' | sed -n 's/^http:\/\/casino\.example\.com\/poker?n=\([0-9]*\)$/\1/p'
}
wait_entries() {  # COUNT
  local i
  for i in $(seq 1 600); do
    [ "$(entries | wc -l)" -ge "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

start_smtp
cat >"$work/hklm.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\$KEY]
"ControlFile"="$list"
"ErrorMsg"="<BODY>denied</BODY>"
"Log"=dword:00000000
"Mail"=dword:00000001

[HKEY_LOCAL_MACHINE\\$KEY\\Deny]
"GamblingState"=dword:00000001

[HKEY_LOCAL_MACHINE\\$KEY\\Alert]
"GamblingState"=dword:00000001

[HKEY_LOCAL_MACHINE\\$KEY\\Mail]
"To"="admin@example.org"
"Server"="127.0.0.1"
"Port"=dword:$(printf '%08x' "$smtp_port")
"Rhythm"=dword:00000000
EOF

# 1. 2,000 alerted requests: each entry once, in a handful of mails.
start_host
denied=$(requests 0 2000)
[ "$denied" = 2000 ] || fail "$denied of 2000 requests got the denial page"
wait_entries 2000 || fail "only $(entries | wc -l) of 2000 entries arrived"
stop_host
mails=$(ls "$work"/mx/*.eml | wc -l)
dups=$(entries | sort -n | uniq -d | wc -l)
distinct=$(entries | sort -n | uniq | wc -l)
[ "$dups" = 0 ] && [ "$distinct" = 2000 ] || fail "$distinct distinct entries, $dups sent twice"
[ "$mails" -le 200 ] || fail "$mails mails for 2000 entries: not coalesced"
echo "ok: 2000 alerted requests arrived in $mails mails, each entry once"

# 2. Server down at hxhost's end: the spool keeps the entries for the next start.
stop_smtp
start_host
denied=$(requests 5000 5)
[ "$denied" = 5 ] || fail "$denied of 5 requests got the denial page while the mail server was down"
stop_host
spool=$(ls "$work"/tarnwick-alerts-*.spool 2>/dev/null | head -1)
[ -n "$spool" ] && [ "$(grep -c '^entry ' "$spool")" = 5 ] || fail "the spool does not hold the 5 entries: $(ls "$work")"
grep -q "alert mail not sent" "$work/hxhost.err" || fail "the failed delivery was not logged"
start_smtp "$smtp_port"
start_host
wait_entries 2005 || fail "the spooled entries did not arrive after the restart"
stop_host
[ "$(entries | sort -n | uniq -d | wc -l)" = 0 ] || fail "an entry arrived twice after the restart"
echo "ok: entries held while the server was down were sent by the next start, once"

# 3. Business hours: every hour, then none.
"$regfile" set "$KEY\\Hours" "General NewsState" dword 1 || fail "cannot set the Hours list"
hours_check() {  # BUSINESS_HOURS EXPECTED(denied|passed)
  "$regfile" set "$KEY" BusinessHours sz "$1" || fail "cannot set BusinessHours"
  start_host
  grep -q "business hours (local time): " "$work/hxhost.err" ||
    fail "the in-force lines do not name the business hours"
  local got
  got=$("$python" -c "$FETCH_PY
answer = fetch(int(sys.argv[1]), b'news.example.net', b'/')
print('denied' if b'Access Restricted' in answer else 'passed')
" "$proxy_port")
  stop_host
  [ "$got" = "$2" ] || fail "BusinessHours \"$1\": a General News request was $got, expected $2"
}
hours_check "Sun-Sat 00-24" denied
hours_check "" passed
echo "ok: BusinessHours of every hour denies the Hours list; an empty one lets it pass"

# 4. tarnwick-squid: the same sender; its last mail goes when its input ends.
"$regfile" set "$KEY" BusinessHours sz "Sun-Sat 00-24" || fail "cannot set BusinessHours"
before=$(entries | wc -l)
answers=$(for n in 9000 9001 9002; do echo "http://casino.example.com/poker?n=$n 127.0.0.1/- - GET"; done
          echo "http://news.example.net/ 127.0.0.1/- - GET" ) 
answers=$(printf '%s\n' "$answers" | "$squid" --key "$KEY" --redirect 'http://block.example/?u=%u' 2>"$work/squid.err") ||
  fail "tarnwick-squid failed: $(cat "$work/squid.err")"
[ "$(grep -c 'status=302' <<<"$answers")" = 4 ] || fail "tarnwick-squid did not redirect all four: $answers"
grep -q "business hours (local time): Mon-Sun 00-24; denied during them: General News" "$work/squid.err" ||
  fail "tarnwick-squid does not name the business hours: $(cat "$work/squid.err")"
wait_entries $((before + 3)) || fail "tarnwick-squid's alerts did not arrive: $(cat "$work/squid.err")"
[ "$(entries | grep -c '^900[012]$')" = 3 ] || fail "tarnwick-squid's alerts arrived more than once"
echo "ok: tarnwick-squid mails its alerts and redirects the Hours list in business hours"
