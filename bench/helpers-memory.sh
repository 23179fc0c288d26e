#!/usr/bin/env bash
# Memory of 1, 4, 8 and 16 tarnwick-squid processes on one ten-million-record
# list, started at once as Squid starts its url_rewrite_children, beside
# squidGuard on a database of the same entries (bench/README.md, "Lists of
# ten million").
#
# Usage: bench/helpers-memory.sh [BUILD_DIR] [options of helpers_memory.py]
#   BUILD_DIR  a native build with tarnwick-squid and corvane_scale (default
#              build/native; built here when missing)
#   --records N (10000000)  --counts LIST (1,4,8,16)  --no-squidguard
# Environment: WORK (default a temporary folder, removed afterwards; set it
# to keep the list, its entries and squidGuard's database between runs: a
# list already there is not made again).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
build=$root/build/native
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
records=10000000
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --records) records=${2:?--records needs a number}; shift 2 ;;
    --records=*) records=${1#--records=}; shift ;;
    *) args+=("$1"); shift ;;
  esac
done
[[ "$records" =~ ^[1-9][0-9]*$ ]] || { echo "helpers-memory: --records needs a number" >&2; exit 2; }
[ -r /proc/self/smaps_rollup ] || { echo "helpers-memory: needs Linux's /proc/PID/smaps_rollup" >&2; exit 2; }

# shellcheck source=bench/bench-common.sh
. "$root/bench/bench-common.sh"
if [[ " ${args[*]:-} " != *" --no-squidguard "* ]]; then
  bench_install helpers-memory --optional squidguard:squidGuard || true
fi
bench_build "$build" corvane_scale tarnwick-squid
bench_work
if [ ! -s "$work/control-$records.lst" ] || [ ! -s "$work/domains-$records" ]; then
  echo "helpers-memory: making a list of $records records in $work"
  "$build/bin/corvane_scale" make --records "$records" --urls 1000 --out "$work" || exit 1
fi
python3 "$root/bench/helpers_memory.py" --build "$build" --work "$work" --records "$records" \
  "${args[@]}"
