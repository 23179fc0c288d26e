#!/usr/bin/env bash
# The CPU per request of Squid with and without a filter: Debian's Squid on
# 127.0.0.1 to a local origin, alone, with tarnwick-squid as doc/squid.md
# configures it, and with squidGuard on the same UT1 folders, in
# alternating rounds, the CPU of Squid and of every helper read from /proc
# (bench/README.md, "Behind a real Squid").
#
# Usage: bench/squid-overhead.sh [BUILD_DIR] [options of squid_overhead.py]
#   BUILD_DIR  a native build with corvane and tarnwick-squid (default
#              build/native; built here when missing)
#   --requests N (12000)  --rounds R (3)  --clients C (8)  --hosts H (100)
#   --seed S  --configs NAME,... (none,tarnwick,squidguard)
#   --list-configs: the configurations it knows (other children,
#              concurrency and thread counts)
# Environment: UT1 (default ../shared/data/ut1 beside the repository, or
# one level above it), WORK (default a temporary folder, removed
# afterwards; set it to keep the squid.conf files, logs and databases).
# Installs Debian's squid and squidguard when they are missing (or says it
# cannot and stops). Exit status: 0 done, 1 a request lost or answered other
# than by the origin, 2 something missing.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
build=$root/build/native
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
if [ -n "${UT1:-}" ]; then
  ut1=$UT1
else
  ut1=$root/../shared/data/ut1
  [ -d "$ut1" ] || ut1=$root/../../shared/data/ut1
fi
[ -d "$ut1" ] || { echo "squid-overhead: no UT1 lists at $ut1 (set UT1)" >&2; exit 2; }

missing=()
command -v squid >/dev/null || [ -x /usr/sbin/squid ] || missing+=(squid)
command -v squidGuard >/dev/null || missing+=(squidguard)
if [ ${#missing[@]} -gt 0 ]; then
  echo "squid-overhead: installing Debian's ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-remove "${missing[@]}" ||
    { echo "squid-overhead: cannot install ${missing[*]}; nothing measured" >&2; exit 2; }
fi
if [ ! -x "$build/bin/tarnwick-squid" ] || [ ! -x "$build/bin/corvane" ]; then
  (cd "$root" && cmake --preset native >/dev/null &&
   cmake --build --preset native --target corvane_tool tarnwick-squid) || exit 2
fi

keep=1
work=${WORK:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  keep=0
fi
trap '[ "$keep" = 1 ] || rm -rf "$work"' EXIT
python3 "$root/bench/squid_overhead.py" --build "$build" --ut1 "$ut1" --work "$work" "$@"
