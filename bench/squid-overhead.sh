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
# Installs Debian's squid-openssl and squidguard when they are missing (or says it
# cannot and stops). Exit status: 0 done, 1 a request lost or answered other
# than by the origin, 2 something missing.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
build=$root/build/native
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
. "$root/bench/bench-common.sh"
bench_find_ut1 squid-overhead
bench_install squid-overhead squid-openssl:squid squidguard:squidGuard
bench_build "$build"
bench_work
python3 "$root/bench/squid_overhead.py" --build "$build" --ut1 "$ut1" --work "$work" "$@"
