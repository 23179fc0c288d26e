# Shared by the benchmark scripts (sourced): Debian's squidGuard and the
# native programs they run, installed or built when missing.

# Installs squidguard when squidGuard is missing; returns 1 when it cannot.
ensure_squidguard() {
  command -v squidGuard >/dev/null && return 0
  echo "$1: installing Debian's squidguard"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-remove squidguard
}

# ensure_built ROOT BUILD TARGET...: builds the native targets (in ROOT's
# native preset) unless every one is in BUILD/bin (corvane_tool is bin/corvane).
ensure_built() {
  local root=$1 build=$2 target file missing=0
  shift 2
  for target in "$@"; do
    file=$target
    [ "$target" = corvane_tool ] && file=corvane
    [ -x "$build/bin/$file" ] || missing=1
  done
  [ "$missing" = 0 ] && return 0
  (cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native --target "$@")
}

# Sets work to $WORK, or to a new temporary folder that is removed at exit.
use_work_folder() {
  work=${WORK:-}
  if [ -z "$work" ]; then
    work=$(mktemp -d)
    # shellcheck disable=SC2064  # the folder is fixed now
    trap "rm -rf '$work'" EXIT
  fi
}
