# bench-common.sh -- what the benchmark scripts beside it share (sourced, not
# run): the UT1 folder, Debian packages installed when missing, the native
# build, and a work folder. Each function takes the calling script's name
# for its messages. Needs root=THE REPOSITORY set by the caller.

# bench_find_ut1 NAME: sets ut1 to $UT1, else ../shared/data/ut1 beside the
# repository or one level above it (a worktree in a folder of worktrees).
bench_find_ut1() {
  if [ -n "${UT1:-}" ]; then
    ut1=$UT1
  else
    ut1=$root/../shared/data/ut1
    [ -d "$ut1" ] || ut1=$root/../../shared/data/ut1
  fi
  [ -d "$ut1" ] || { echo "$1: no UT1 lists at $ut1 (set UT1)" >&2; exit 2; }
}

# bench_install NAME [--optional] PACKAGE:COMMAND...: installs each Debian
# package whose command is missing. When apt-get cannot, stops with a
# message, or with --optional says so and returns 1 (the caller skips what
# needs it).
bench_install() {
  local name=$1 optional=0 wanted=() entry
  shift
  if [ "${1:-}" = --optional ]; then optional=1; shift; fi
  for entry in "$@"; do
    command -v "${entry#*:}" >/dev/null || [ -x "/usr/sbin/${entry#*:}" ] || wanted+=("${entry%%:*}")
  done
  [ ${#wanted[@]} -eq 0 ] && return 0
  echo "$name: installing Debian's ${wanted[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-remove "${wanted[@]}" && return 0
  if [ "$optional" = 1 ]; then
    echo "$name: cannot install ${wanted[*]}; what needs it is skipped" >&2
    return 1
  fi
  echo "$name: cannot install ${wanted[*]}; nothing measured" >&2
  exit 2
}

# bench_build BUILD [TARGET...]: builds the native targets (default
# corvane_tool and tarnwick-squid) unless every one is in BUILD/bin
# (corvane_tool is bin/corvane).
bench_build() {
  local build=$1 target file missing=0
  shift
  [ $# -gt 0 ] || set -- corvane_tool tarnwick-squid
  for target in "$@"; do
    file=$target
    [ "$target" = corvane_tool ] && file=corvane
    [ -x "$build/bin/$file" ] || missing=1
  done
  [ "$missing" = 0 ] && return 0
  (cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native --target "$@") || exit 2
}

# bench_work: sets work to $WORK (kept), else a temporary folder removed at
# exit.
bench_work() {
  bench_keep=1
  work=${WORK:-}
  if [ -z "$work" ]; then
    work=$(mktemp -d)
    bench_keep=0
  fi
  trap '[ "$bench_keep" = 1 ] || rm -rf "$work"' EXIT
}
