#!/usr/bin/env bash
# Installs what building and testing Pellumin needs on a Debian machine.
#
# Usage: setup-debian.sh [--native | --all] [--help]
#   --native  only what the native build, its tests and the demo need: the
#             toolchain, CMake and Ninja, GoogleTest, Google Benchmark, curl,
#             python3 with python3-aiosmtpd (the SMTP server the alert mail
#             tests deliver to), valgrind, ncurses (the terminal settings sheet),
#             tmux (its test), squid-openssl (Squid with TLS peeking, for the
#             Squid helper's end-to-end tests; it replaces Debian's plain squid),
#             squidguard (the filter bench/ measures the helper against),
#             clang 14 with its runtime libraries (libFuzzer and the
#             sanitizers) for the fuzz targets, and debhelper, lintian,
#             help2man, logrotate and goaccess (it reads hxhost's Squid-format
#             access log) for the Debian packages and their test.
#   --all     (the default) also the Windows side: both MinGW-w64 cross
#             compilers (the 32-bit product build, and a 64-bit build whose
#             tests run under 64-bit Wine), 64-bit Wine, Xvfb; and, as an
#             optional step, 32-bit Wine (wine32:i386) where the kernel runs
#             32-bit programs.
#
# It only calls apt-get when something is missing, so it is cheap to run
# again. A package index that the mirror cannot serve today does not stop it
# (apt keeps what it did fetch; the indexes that failed are named). It fails,
# with apt's own message, only when the core set cannot be installed. 32-bit
# Wine is optional: when it cannot be installed (for instance because the
# i386 libraries must match amd64 ones that came from an index that is
# missing today) it says why in one line starting "setup: skipped:" and
# exits 0; the Windows tests then run from the 64-bit build under 64-bit
# Wine. It never removes or downgrades a package.
#
# Environment:
#   PELLUMIN_WINE32=auto|skip|force  auto (default): try 32-bit Wine where the
#                 kernel runs 32-bit programs; skip: never; force: try even
#                 where the probe says the kernel cannot (to test this path)
#   PELLUMIN_APT_TRIES=N         tries of apt-get update (default 3)
#   PELLUMIN_APT_RETRY_DELAY=S   seconds between them (default 5)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

mode=all
while [ $# -gt 0 ]; do
  case "$1" in
    --native) mode=native ;;
    --all) mode=all ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "setup: unknown argument: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

native_packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  curl python3 python3-aiosmtpd valgrind squid-openssl squidguard
  libncurses-dev tmux
  clang-14 libclang-rt-14-dev
  debhelper lintian help2man logrotate goaccess
)
windows_packages=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb x11-utils nsis
  x11-apps imagemagick
)
wine32_package=wine32:i386
wine32_fallback="the Windows tests will run from the 64-bit build under 64-bit Wine"

core=("${native_packages[@]}")
[ "$mode" = all ] && core+=("${windows_packages[@]}")

say() { echo "setup: $*"; }
installed() { dpkg -s "$1" >/dev/null 2>&1; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-setup.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

missing=()
for p in "${core[@]}"; do
  installed "$p" || missing+=("$p")
done

# --- Should 32-bit Wine be tried? --------------------------------------------
want_wine32=0
wine32_why=""
if [ "$mode" = all ]; then
  case "${PELLUMIN_WINE32:-auto}" in
    skip) wine32_why="PELLUMIN_WINE32=skip" ;;
    force) installed "$wine32_package" || want_wine32=1 ;;
    auto)
      if ! installed "$wine32_package"; then
        if probe=$(bash "$here/kernel-runs-i386.sh" 2>&1); then
          want_wine32=1
        else
          wine32_why=$probe
        fi
      fi ;;
    *) echo "setup: PELLUMIN_WINE32 must be auto, skip or force" >&2; exit 2 ;;
  esac
fi

if [ ${#missing[@]} -eq 0 ] && [ "$want_wine32" = 0 ]; then
  say "all packages present"
  [ -n "$wine32_why" ] && say "skipped: 32-bit Wine ($wine32_package): $wine32_why; $wine32_fallback"
  exit 0
fi

# --- The i386 architecture, for 32-bit Wine only ------------------------------
if [ "$want_wine32" = 1 ] && ! dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then
  if ! out=$("${sudo_cmd[@]}" dpkg --add-architecture i386 2>&1); then
    want_wine32=0
    wine32_why="dpkg --add-architecture i386 failed: ${out:-no message}"
  fi
fi

# --- Package lists ------------------------------------------------------------
# apt-get update exits non-zero when any one index fails, but keeps every
# index it did fetch. Retry a few times (a mirror in the middle of a sync
# usually recovers within seconds), then go on with what there is.
failed_indexes=()
missing_i386_index=""  # an i386 index among them, if any
update_lists() {
  local tries=${PELLUMIN_APT_TRIES:-3} delay=${PELLUMIN_APT_RETRY_DELAY:-5} try log
  log=$work/update.log
  for ((try = 1; try <= tries; try++)); do
    say "apt-get update (try $try of $tries)"
    if "${sudo_cmd[@]}" apt-get update -q 2>&1 | tee "$log"; then
      failed_indexes=()
      return 0
    fi
    # "Err:6 http://host/debian-security bookworm-security/main i386 Packages",
    # else the URL of "E: Failed to fetch URL  reason".
    mapfile -t failed_indexes < <(sed -n 's/^Err:[0-9]* //p' "$log" | sort -u)
    if [ ${#failed_indexes[@]} -eq 0 ]; then
      mapfile -t failed_indexes < <(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$log" | sort -u)
    fi
    [ "$try" -lt "$tries" ] && sleep "$delay"
  done
  for idx in "${failed_indexes[@]}"; do
    [[ "$idx" == *" i386 "* || "$idx" == *binary-i386* ]] && missing_i386_index=$idx
  done
  if [ ${#failed_indexes[@]} -gt 0 ]; then
    say "apt-get update could not fetch ${#failed_indexes[@]} index(es); going on with the ones it fetched:"
    printf 'setup:   %s\n' "${failed_indexes[@]}"
  else
    say "apt-get update failed ($(grep -E '^(E|W):' "$log" | tail -n 1)); going on with the package lists this machine has"
  fi
}
update_lists

apt_install() {
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends --no-remove "$@"
}

# --- 32-bit Wine: optional ------------------------------------------------------
# Its i386 libraries must have exactly the versions of the amd64 ones already
# installed. When today's lists cannot give that (say the security suite's
# i386 index is missing, but the amd64 libraries came from it), the
# release's own suite may: "-t CODENAME" prefers it and, without
# --allow-downgrades, apt upgrades at most. apt's resolver also gives up on
# some deep trees that it solves once told the package it stumbled on; such
# packages are named on the next try and marked automatic afterwards.
#
# This step runs before the core set, and takes 64-bit Wine along when that
# is missing too: the amd64 libraries that Wine pulls in must then come in
# the versions the i386 ones have, and once the core set has installed them
# from another suite, only a downgrade could match them.
wine32_reason() {
  # The first unmet dependency says more than the closing "E:" line.
  local line
  line=$(sed -n '/unmet dependencies:/{n;p;q}' "$1" | sed 's/^ *//')
  [ -n "$line" ] || line=$(grep -E '^E:' "$1" | tail -n 1)
  echo "${line:-apt-get install failed}"
}

install_wine32() {
  local codename="" target hints=() attempt log added along=()
  for p in wine wine64; do
    [[ " ${missing[*]} " == *" $p "* ]] && along+=("$p")
  done
  codename=$( (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") )
  # With an i386 index missing, the release's own suite is the likely way,
  # so it goes first.
  local targets=("")
  if [ -n "$codename" ] && [ -n "$missing_i386_index" ]; then
    targets=("$codename" "")
  elif [ -n "$codename" ]; then
    targets+=("$codename")
  fi
  log=$work/wine32.log
  for target in "${targets[@]}"; do
    hints=()
    for attempt in 1 2 3 4; do
      local args=()
      [ -n "$target" ] && args=(-t "$target")
      say "installing ${along[*]:+${along[*]} }$wine32_package${target:+ from $target}${hints[*]:+ (naming ${hints[*]})}"
      if apt_install "${args[@]}" "${along[@]}" "$wine32_package" "${hints[@]}" >"$log" 2>&1; then
        [ ${#hints[@]} -gt 0 ] && "${sudo_cmd[@]}" apt-mark auto "${hints[@]}" >/dev/null 2>&1
        wine32_why=""
        say "installed $wine32_package${target:+ with the libraries it shares from $target (security updates for them arrive with the next apt-get upgrade once the mirror serves every index)}"
        return 0
      fi
      # "libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not going to be installed"
      added=0
      while read -r dep; do
        [[ " ${hints[*]} " == *" $dep "* ]] && continue
        hints+=("$dep")
        added=1
      done < <(grep -oE 'Depends: [^ ]+:i386 .*but it is not going to be installed' "$log" |
               sed -E 's/^Depends: ([^ ]+).*/\1/' | sort -u)
      [ "$added" = 1 ] || break
    done
    wine32_why=$(wine32_reason "$log")
  done
  return 1
}

wine32_failed=0
if [ "$want_wine32" = 1 ] && ! install_wine32; then
  wine32_failed=1
fi

# --- The core set: all of it, or a failure with apt's message ------------------
missing=()
for p in "${core[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  if ! apt_install "${missing[@]}" 2>&1 | tee "$work/core.log"; then
    reason=$(grep -E '^E:' "$work/core.log" | tail -n 1)
    echo "setup failed: apt-get could not install the core packages: ${reason:-see above}" >&2
    exit 1
  fi
fi

if [ "$wine32_failed" = 1 ]; then
  grep -E '^(E:| .* : Depends:)' "$work/wine32.log" | head -n 8 | sed 's/^/setup:   apt: /'
  note=""
  [ -n "$missing_i386_index" ] && note=" (today's lists lack the index $missing_i386_index)"
  say "skipped: 32-bit Wine ($wine32_package) not installable: $wine32_why$note; $wine32_fallback"
elif [ -n "$wine32_why" ]; then
  say "skipped: 32-bit Wine ($wine32_package): $wine32_why; $wine32_fallback"
fi
say "done"
exit 0
