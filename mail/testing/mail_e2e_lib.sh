# mail_e2e_lib.sh -- sourced by the alert mail end-to-end scripts
# (hxhost_mail_e2e.sh, wine_mail_e2e.sh): their command line, how they skip
# and fail, the python3 with aiosmtpd, and the SMTP server they start.
# The sourcing script sets $work (its work folder) before it fails or
# starts the server.

# mail_e2e_args "$@": BUILD_DIR [--strict] [--help] into $build and $strict.
mail_e2e_args() {
  build=""
  strict=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --strict) strict=1 ;;
      -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
      -*) echo "Usage: $0 BUILD_DIR [--strict]" >&2; exit 2 ;;
      *) build=$1 ;;
    esac
    shift
  done
  [ -n "$build" ] || { echo "Usage: $0 BUILD_DIR [--strict]" >&2; exit 2; }
  build=$(cd "$build" && pwd)
}

skip() {
  [ "$strict" = 1 ] && { echo "FAILED (strict): $*" >&2; exit 1; }
  echo "skipped: $*"
  exit 0
}
fail() {
  echo "FAILED: $*" >&2
  [ -f "$work/hxhost.err" ] && tr -d '\r' <"$work/hxhost.err" | sed 's/^/  hxhost: /' | tail -20 >&2
  exit 1
}

# Sets $python to a python3 that has aiosmtpd, or skips.
find_aiosmtpd_python() {
  python=""
  local p
  for p in python3 /usr/bin/python3; do
    "$p" -c 'import aiosmtpd' 2>/dev/null && { python=$p; return 0; }
  done
  skip "no python3 with aiosmtpd (scripts/setup-debian.sh installs python3-aiosmtpd)"
}

# start_smtp [PORT]: the server of testing/smtp_server.py, writing to
# $work/mx; sets $smtp_pid and $smtp_port. The stored port is the dialog's
# 1 to 32000, below the system's ephemeral ports: without PORT it tries a
# few in 20000..31999 until one is free.
start_smtp() {
  local tries i port=${1:-}
  mkdir -p "$work/mx"
  for tries in 1 2 3 4 5 6 7 8; do
    [ -n "${1:-}" ] || port=$((20000 + RANDOM % 12000))
    : >"$work/smtp.out"
    "$python" "$(dirname "${BASH_SOURCE[0]}")/smtp_server.py" --dir "$work/mx" --port "$port" \
      >>"$work/smtp.out" 2>"$work/smtp.err" &
    smtp_pid=$!
    for i in $(seq 1 100); do
      smtp_port=$(sed -n 's/^ready \([0-9]*\)$/\1/p' "$work/smtp.out")
      [ -n "$smtp_port" ] && return 0
      kill -0 "$smtp_pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "${1:-}" ] && sleep 1  # the same port again: it may still be closing
  done
  fail "the SMTP server did not start: $(cat "$work/smtp.err")"
}
stop_smtp() { kill "$smtp_pid"; wait "$smtp_pid" 2>/dev/null; smtp_pid=""; }
