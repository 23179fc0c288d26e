#!/usr/bin/env bash
# The Windows plug-in mails its alerts: hxhost.exe with Tarnwick.dll under
# Wine (32- or 64-bit, whichever cmake/wine-env.sh finds for the build),
# its settings in Wine's registry, a real SMTP server (aiosmtpd) on a
# loopback port of this machine, and 200 alerted requests: every entry
# arrives exactly once, also the ones sent by the last send of HXUnInit.
#
# Usage: wine_mail_e2e.sh BUILD_DIR [--strict]
#   BUILD_DIR is a Windows cross build with bin/hxhost.exe, Tarnwick.dll and
#   data/sample.lst. Skips (prints "skipped: ..." and exits 0) when Wine,
#   the build or aiosmtpd is missing; --strict makes that a failure.
set -uo pipefail
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=testing/mail_e2e_lib.sh
source "$here/testing/mail_e2e_lib.sh"
mail_e2e_args "$@"
for f in "$build/bin/hxhost.exe" "$build/bin/Tarnwick.dll" "$build/data/sample.lst"; do
  [ -e "$f" ] || skip "$f is not built"
done
find_aiosmtpd_python
if [ -z "${WINE:-}" ]; then
  # shellcheck disable=SC1091
  source "$here/../cmake/wine-env.sh" >/dev/null 2>&1 || skip "no Wine runs here"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-wine-mail.XXXXXX") || exit 1
KEY="SOFTWARE\\Pellumin\\WineMail$$"
smtp_pid=""
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$smtp_pid" ] && kill "$smtp_pid" 2>/dev/null
  wait 2>/dev/null
  "$WINE" reg delete "HKEY_LOCAL_MACHINE\\$KEY" /f </dev/null >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

start_smtp
port=$smtp_port

list=$(winpath "$build/data/sample.lst" | sed 's/\\/\\\\/g')
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n"ControlFile"="%s"\r\n' "$KEY" "$list"
  printf '"Log"=dword:00000000\r\n"Mail"=dword:00000001\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n"GamblingState"=dword:00000001\r\n\r\n' "$KEY"
  printf '[HKEY_LOCAL_MACHINE\\%s\\Alert]\r\n"GamblingState"=dword:00000001\r\n\r\n' "$KEY"
  printf '[HKEY_LOCAL_MACHINE\\%s\\Mail]\r\n"To"="admin@example.org"\r\n"Server"="127.0.0.1"\r\n' "$KEY"
  printf '"Port"=dword:%08x\r\n"Rhythm"=dword:00000001\r\n"AlertCount"=dword:00000032\r\n\r\n' "$port"
} >"$work/hklm.reg"
"$WINE" regedit /S "$(winpath "$work/hklm.reg")" </dev/null >"$work/regedit.out" 2>&1 ||
  fail "regedit /S could not import the settings"

(cd "$build/bin" && exec "$WINE" hxhost.exe --plugin "$(winpath "$build/bin/Tarnwick.dll")" \
  --key "$KEY" --listen 127.0.0.1:0) </dev/null >"$work/hxhost.out" 2>"$work/hxhost.err" &
host_pid=$!
proxy_port=""
for i in $(seq 1 600); do
  proxy_port=$(tr -d '\r' <"$work/hxhost.err" | sed -n 's/^hxhost: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p')
  [ -n "$proxy_port" ] && break
  kill -0 "$host_pid" 2>/dev/null || fail "hxhost.exe exited at start"
  sleep 0.1
done
[ -n "$proxy_port" ] || fail "hxhost.exe did not start listening"

# 210 requests: four mails of 50 ("After 50 alerts"), and 10 left for the
# last send when hxhost.exe stops.
denied=$("$python" - "$proxy_port" <<'PY'
import concurrent.futures, socket, sys
port = int(sys.argv[1])
def one(n):
    s = socket.create_connection(("127.0.0.1", port), timeout=60)
    s.sendall(b"GET http://casino.example.com/poker?n=%d HTTP/1.0\r\nHost: casino.example.com\r\n\r\n" % n)
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    return b"Access Restricted" in data
with concurrent.futures.ThreadPoolExecutor(16) as pool:
    print(sum(pool.map(one, range(210))))
PY
)
[ "$denied" = 210 ] || fail "$denied of 210 requests got the denial page"
# SIGINT: Wine turns it into the console's Ctrl-C, and hxhost calls HXUnInit.
kill -INT "$host_pid"
wait "$host_pid" 2>/dev/null
host_pid=""
entries=$(cat "$work"/mx/*.body 2>/dev/null | tr -d '\r' | sed -n 's/^http:\/\/casino\.example\.com\/poker?n=\([0-9]*\)$/\1/p')
distinct=$(sort -n <<<"$entries" | uniq | grep -c .)
total=$(grep -c . <<<"$entries")
[ "$distinct" = 210 ] && [ "$total" = 210 ] ||
  fail "$total entries arrived ($distinct distinct) of 210; mails: $(ls "$work/mx" | grep -c eml)"
echo "ok: the Windows plug-in under Wine mailed all 210 alerts once, in $(ls "$work"/mx/*.eml | wc -l) mails"
