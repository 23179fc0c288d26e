# e2e_common.sh -- what the Squid end-to-end scripts share. Sourced after
# "set -uo pipefail" with E2E_REQUESTS set to the script's default request
# count; reads the command line "BUILD_DIR [--requests N] [--strict]" into
# build, requests and strict.

usage() { echo "Usage: $0 BUILD_DIR [--requests N] [--strict]"; }
build=""
requests=$E2E_REQUESTS
strict=0
while [ $# -gt 0 ]; do
  case "$1" in
    --requests) [ $# -ge 2 ] || { usage >&2; exit 2; }; requests=$2; shift ;;
    --strict) strict=1 ;;
    -h|--help) usage; sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$build" ] || { usage >&2; exit 2; }; build=$1 ;;
  esac
  shift
done
[ -n "$build" ] || { usage >&2; exit 2; }
case "$requests" in ''|*[!0-9]*) usage >&2; exit 2 ;; esac

# A missing tool: exit 77 (ctest's "Skipped"), or a failure with --strict.
skip() {
  if [ "$strict" = 1 ]; then
    echo "FAILED (strict): $*" >&2
    exit 1
  fi
  echo "skipped: $*"
  exit 77
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# helper_children SQUID_PID HELPER: the process ids of the helpers that
# Squid started (its children running HELPER).
helper_children() {
  local pid
  for pid in $(cat "/proc/$1/task/"*/children 2>/dev/null); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$2" ] && echo "$pid"
  done
}

# check_build_and_tools: the helper, the sample list, squid, curl and
# python3, or a skip; sets build (absolute), helper, list and squid.
check_build_and_tools() {
  [ -d "$build" ] || skip "no build folder $build"
  build=$(cd "$build" && pwd)
  helper=$build/bin/tarnwick-squid
  list=$build/data/sample.lst
  squid=$(command -v squid || echo /usr/sbin/squid)
  [ -x "$helper" ] || skip "tarnwick-squid is not built ($helper)"
  [ -f "$list" ] || skip "the sample list is not built ($list)"
  [ -x "$squid" ] || skip "Debian's squid is not installed (scripts/setup-debian.sh --native installs squid-openssl)"
  command -v curl >/dev/null || skip "curl is not installed"
  command -v python3 >/dev/null || skip "python3 is not installed"
}
