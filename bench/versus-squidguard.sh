#!/usr/bin/env bash
# tarnwick-squid against Debian's squidGuard, in one run, on the same UT1
# categories and the same URL stream (bench/README.md, "Side by side with
# squidGuard").
#
# Usage: bench/versus-squidguard.sh [BUILD_DIR] [options of versus_squidguard.py]
#   BUILD_DIR  a native build with corvane and tarnwick-squid (default
#              build/native; built here when missing)
#   --requests N (200000)  --seed S (20261209)  --rounds R (3)
#   --min-ratio X (10): fail when the helper's requests per core fall below X
#                       times squidGuard's
# Environment: UT1 (default ../shared/data/ut1 beside the repository, or
# one level above it, as from a worktree in a folder of worktrees),
# WORK (default a temporary folder, removed afterwards; set it to keep the
# stream, the answers and both databases).
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
[ -d "$ut1" ] || { echo "versus-squidguard: no UT1 lists at $ut1 (set UT1)" >&2; exit 2; }

# shellcheck source=bench/helpers.sh
source "$root/bench/helpers.sh"
ensure_squidguard versus-squidguard || exit 1
ensure_built "$root" "$build" corvane_tool tarnwick-squid || exit 1

use_work_folder
python3 "$root/bench/versus_squidguard.py" --build "$build" --ut1 "$ut1" --work "$work" "$@"
