#!/usr/bin/env bash
# The main job on the bundled sample data, on a fresh Debian machine:
#   1. installs what the build needs and builds everything (native);
#   2. compiles the sample list and categorises a few URLs with corvane lookup;
#   3. writes a settings file that denies Gambling and alerts on Games;
#   4. starts a small origin server and hxhost with the Tarnwick plug-in on
#      127.0.0.1, and shows one allowed, one alerted and one denied request
#      made with curl;
#   5. leaves the proxy running and says how to use and stop it.
# Usage: run-demo.sh [--port PORT] | --stop
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
demo=$root/build/demo
port=3128
origin_port=8089

stop_demo() {
  local stopped=0
  for f in "$demo/hxhost.pid" "$demo/origin.pid"; do
    if [ -f "$f" ]; then
      kill "$(cat "$f")" 2>/dev/null && stopped=1
      rm -f "$f"
    fi
  done
  [ "$stopped" = 1 ] && echo "demo stopped" || echo "no demo running"
}

while [ $# -gt 0 ]; do
  case "$1" in
    --stop) stop_demo; exit 0 ;;
    --port) port=$2; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done
# Only the proxy named with -x may be used by curl here.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }

say "1. Setting up and building (native)"
# The native set only: the demo runs no Windows program.
bash scripts/setup-debian.sh --native
cmake --preset native >/dev/null
cmake --build --preset native
bin=$root/build/native/bin
list=$root/build/native/data/sample.lst

say "2. Categorising a few URLs against the sample list"
"$bin/corvane" lookup "$list" \
  http://casino.example.com/roulette \
  http://www.example.org/games/chess \
  http://unlisted.example.com/
echo "(full traces: $bin/corvane lookup $list URL)"

say "3. Writing the settings: deny Gambling, alert on Games"
stop_demo >/dev/null
mkdir -p "$demo/www"
rm -f "$demo/access.log"
export TARNWICK_HKLM=$demo/hklm.reg
key='SOFTWARE\Pellumin\Filter'
cat >"$TARNWICK_HKLM" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\$key]
"ControlFile"="$list"
"ErrorMsg"="<BODY bgcolor=\\"#FF0000\\"><p><B>Access to this site is restricted.</B></p></BODY>"
"Log"=dword:00000001
"Mail"=dword:00000000

[HKEY_LOCAL_MACHINE\\$key\\Deny]
"GamblingState"=dword:00000001

[HKEY_LOCAL_MACHINE\\$key\\Alert]
"GamesState"=dword:00000001
REG
echo "settings: $TARNWICK_HKLM"

say "4. Starting an origin server on 127.0.0.1:$origin_port and hxhost on 127.0.0.1:$port"
echo "<html><body><h1>Hello from the demo origin</h1></body></html>" >"$demo/www/index.html"
(cd "$demo/www" && exec python3 -m http.server --bind 127.0.0.1 "$origin_port") \
  >"$demo/origin.log" 2>&1 &
echo $! >"$demo/origin.pid"
for _ in $(seq 1 100); do
  curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$origin_port/" && break
  sleep 0.1
done
# The sample's hosts are reserved names: send them to the local origin.
resolve=()
for h in casino.example.com www.bets.example.net games.example.org www.example.org \
         sports.example.com news.example.net cards.poker.example.test unlisted.example.com; do
  resolve+=(--resolve "$h=127.0.0.1")
done
nohup "$bin/hxhost" --plugin "$bin/libtarnwick.so" --key "$key" --listen "127.0.0.1:$port" \
  --log "$demo/access.log" "${resolve[@]}" >"$demo/hxhost.out" 2>&1 &
echo $! >"$demo/hxhost.pid"
for _ in $(seq 1 50); do
  grep -q "listening on" "$demo/hxhost.out" 2>/dev/null && break
  if ! kill -0 "$(cat "$demo/hxhost.pid")" 2>/dev/null; then
    cat "$demo/hxhost.out" >&2; stop_demo; exit 1
  fi
  sleep 0.1
done
sleep 0.3
cat "$demo/hxhost.out"

proxy=http://127.0.0.1:$port
show() {
  echo
  echo "\$ curl -x $proxy $1"
  curl -s -i --max-time 10 -x "$proxy" "$1" | tr -d '\r' | head -n 14
}
say "5. Three requests through the proxy"
show "http://sports.example.com:$origin_port/"
echo "   -> allowed (Sports is neither denied nor alerted)"
show "http://games.example.org:$origin_port/"
echo "   -> allowed, and alerted: access log line in $demo/access.log:"
sed 's/^/      /' "$demo/access.log"
show "http://casino.example.com:$origin_port/roulette"
echo "   -> denied by the plug-in (Gambling)"

say "The proxy is still running on 127.0.0.1:$port"
cat <<TXT
  - Point a browser at it: HTTP proxy 127.0.0.1, port $port (for example
    chromium --proxy-server=http://127.0.0.1:$port), then open
    http://casino.example.com:$origin_port/ (denied) or http://games.example.org:$origin_port/.
  - curl: curl -x $proxy http://casino.example.com:$origin_port/
  - Access log: $demo/access.log    proxy output: $demo/hxhost.out
  - Settings: $TARNWICK_HKLM (edit, then: kill -HUP \$(cat $demo/hxhost.pid);
    hxhost says in $demo/hxhost.out what is in force then)
  - Stop it: bash scripts/run-demo.sh --stop
TXT
