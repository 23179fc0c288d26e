# test-helpers.sh -- shell helpers the script tests share. Sourced.

# wait_for_line FILE SED_SCRIPT: waits up to 10 s for "sed -n SED_SCRIPT
# FILE" to print something (a port a server wrote to its log, say), prints
# its first line; fails when nothing came.
wait_for_line() {
  local file=$1 script=$2 value
  for _ in $(seq 1 100); do
    value=$(sed -n "$script" "$file" 2>/dev/null | head -n 1)
    if [ -n "$value" ]; then
      echo "$value"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# The sed scripts for the ports that python3 -m http.server and hxhost say
# they listen on.
HTTP_SERVER_PORT='s/.* port \([0-9][0-9]*\).*/\1/p'
HXHOST_PORT='s/^hxhost: listening on 127.0.0.1:\([0-9]*\)$/\1/p'

# check NAME STATUS [DETAIL]: counts a check in passed/failed and names a
# failed one with its detail (every one with CHECK_VERBOSE=1).
passed=0 failed=0
check() {
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
    [ "${CHECK_VERBOSE:-0}" != 1 ] || echo "ok: $1"
  else
    failed=$((failed + 1))
    echo "FAIL: $1${3:+: $3}"
  fi
}

# The processes a test started (servers, the proxy), ended by stop_started.
pids=()
stop_started() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  return 0
}

# made_category_lists DIR: hosts in the UT1 one-folder-per-category layout
# (gambling and games), for a checkout without the shared lists beside it:
# two named gambling hosts, then 200,000 of random names, so that the
# archive (about 2 MB) and the list made from it (about 5 MB) fill the small
# file systems of the full-disk cases as the real lists do.
made_category_lists() {
  mkdir -p "$1/gambling" "$1/games"
  { printf 'casino-update-check.example\nslots-update-check.example\n'
    python3 -c 'import os
for _ in range(200000): print(os.urandom(8).hex() + ".example")'
  } >"$1/gambling/domains"
  printf 'arcade-update-check.example\n' >"$1/games/domains"
}
