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
