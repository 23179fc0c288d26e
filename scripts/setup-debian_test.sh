#!/usr/bin/env bash
# Runs setup-debian.sh against stand-ins for apt-get, apt-mark, dpkg and sudo
# on PATH, which keep a package state of their own, fail the way a mirror in
# the middle of a sync does, and refuse i386 packages as an i386 index that
# is missing makes them. Nothing on the machine is installed or changed.
#
# Usage: setup-debian_test.sh
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-setup-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
fakes=$work/bin
mkdir -p "$fakes"

# --- the stand-ins ------------------------------------------------------------
cat >"$fakes/dpkg" <<'SH'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE_STATE/calls"
case "$1" in
  -s) grep -qxF "$2" "$FAKE_STATE/installed" && { echo "Status: install ok installed"; exit 0; }
      echo "dpkg-query: package '$2' is not installed" >&2; exit 1 ;;
  --print-foreign-architectures) cat "$FAKE_STATE/arches" 2>/dev/null; exit 0 ;;
  --add-architecture)
      if [ "${FAKE_REFUSE_ARCH:-0}" = 1 ]; then echo "dpkg: error: read-only database" >&2; exit 2; fi
      echo "$2" >>"$FAKE_STATE/arches"; exit 0 ;;
  *) echo "fake dpkg: unexpected arguments: $*" >&2; exit 2 ;;
esac
SH

cat >"$fakes/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_STATE/calls"
target="" packages=() verb=""
while [ $# -gt 0 ]; do
  case "$1" in
    -t) target=$2; shift ;;
    -*) ;;
    *) if [ -z "$verb" ]; then verb=$1; else packages+=("$1"); fi ;;
  esac
  shift
done
broken_index() {
  echo "Hit:1 http://deb.example/debian bookworm InRelease"
  echo "Get:6 http://deb.example/debian-security bookworm-security/main i386 Packages [376 kB]"
  echo "Err:6 http://deb.example/debian-security bookworm-security/main i386 Packages"
  echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
}
case "$verb" in
  update)
    n=$(($(cat "$FAKE_STATE/updates" 2>/dev/null || echo 0) + 1))
    echo "$n" >"$FAKE_STATE/updates"
    case "${FAKE_UPDATE:-ok}" in
      partial) broken_index ;;
      terse)  # only apt's closing errors, no "Err:" lines
        echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  Hash Sum mismatch"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100 ;;
      flaky) [ "$n" -ge 2 ] || broken_index ;;
    esac
    echo "Hit:1 http://deb.example/debian bookworm InRelease"
    exit 0 ;;
  install)
    i386=0
    for p in "${packages[@]}"; do [[ "$p" == *:i386 ]] && i386=1; done
    if [ "$i386" = 1 ]; then
      refuse=0
      case "${FAKE_I386:-refuse}" in
        refuse) refuse=1 ;;
        needs-target) [ -n "$target" ] || refuse=1 ;;
        needs-hint) [[ " ${packages[*]} " == *" libgst:i386 "* ]] || refuse=1 ;;
      esac
      if [ "$refuse" = 1 ]; then
        echo "Some packages could not be installed."
        echo "The following packages have unmet dependencies:"
        if [ "${FAKE_I386:-}" = needs-hint ]; then
          echo " libwine:i386 : Depends: libgst:i386 (>= 1.0.0) but it is not going to be installed"
        else
          echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
        fi
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
      fi
    elif [ "${FAKE_CORE:-ok}" = broken ]; then
      echo "E: Unable to locate package ${packages[0]}"
      exit 100
    fi
    printf '%s\n' "${packages[@]}" >>"$FAKE_STATE/installed"
    exit 0 ;;
  *) echo "fake apt-get: unexpected arguments" >&2; exit 100 ;;
esac
SH

cat >"$fakes/apt-mark" <<'SH'
#!/usr/bin/env bash
echo "apt-mark $*" >>"$FAKE_STATE/calls"
SH
cat >"$fakes/sudo" <<'SH'
#!/usr/bin/env bash
exec "$@"
SH
chmod +x "$fakes"/*

core_sample=(build-essential cmake googletest libbenchmark-dev curl valgrind
             g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb)
codename=$( (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") )

failures=0
check() {  # check CASE CONDITION-TEXT COMMAND...
  local name=$1 what=$2; shift 2
  if "$@"; then echo "ok   $name: $what"; else echo "FAIL $name: $what"; failures=$((failures + 1)); fi
}
has() { [[ "$out" == *"$1"* ]]; }
installed() { grep -qxF "$1" "$FAKE_STATE/installed"; }
called() { grep -qE "$1" "$FAKE_STATE/calls"; }
all_core_installed() { local p; for p in "${core_sample[@]}"; do installed "$p" || return 1; done; }

# run NAME [ENV=VALUE...] -- [ARGS...]: a fresh state, then setup; sets out and rc.
run() {
  local name=$1; shift
  export FAKE_STATE=$work/state-$name
  mkdir -p "$FAKE_STATE"
  : >"$FAKE_STATE/installed"
  : >"$FAKE_STATE/calls"
  [ -n "${PRESET_INSTALLED:-}" ] && printf '%s\n' $PRESET_INSTALLED >"$FAKE_STATE/installed"
  local envs=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do envs+=("$1"); shift; done
  [ "${1:-}" = -- ] && shift
  out=$(env PATH="$fakes:$PATH" PELLUMIN_APT_RETRY_DELAY=0 "${envs[@]}" \
        bash "$here/setup-debian.sh" "$@" 2>&1)
  rc=$?
  printf '%s\n' "$out" >"$work/$name.log"
}

# 1. The mirror fails one index for good, and every i386 package is refused.
run partial FAKE_UPDATE=partial FAKE_I386=refuse PELLUMIN_WINE32=force
check partial "exits 0" [ "$rc" = 0 ]
check partial "installs the core set" all_core_installed
check partial "retries the update" [ "$(cat "$FAKE_STATE/updates")" = 3 ]
check partial "names the index that failed" has "bookworm-security/main i386 Packages"
check partial "says why 32-bit Wine is missing, in one line" \
  has "setup: skipped: 32-bit Wine (wine32:i386) not installable: wine32:i386 : Depends: libwine:i386"
check partial "says the Windows tests use 64-bit Wine" has "under 64-bit Wine"
check partial "never installs wine32" bash -c "! grep -qx 'wine32:i386' '$FAKE_STATE/installed'"
if [ -n "$codename" ]; then
  check partial "tries the release's own suite" called "install .*-t $codename .*wine32:i386"
fi
check partial "never allows removals or downgrades" \
  bash -c "! grep -E 'apt-get install' '$FAKE_STATE/calls' | grep -vq -- '--no-remove' &&
           ! grep -q -- '--allow-downgrades' '$FAKE_STATE/calls'"

# 1b. The same when apt names the failed index only in its closing errors.
run terse FAKE_UPDATE=terse FAKE_I386=refuse PELLUMIN_WINE32=force
check terse "exits 0" [ "$rc" = 0 ]
check terse "installs the core set" all_core_installed
check terse "names the index that failed" has "setup:   http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
check terse "says why 32-bit Wine is missing" has "setup: skipped: 32-bit Wine (wine32:i386) not installable: "

# 2. --native: the native set only, nothing of Wine, MinGW or i386.
run native -- --native
check native "exits 0" [ "$rc" = 0 ]
check native "installs the native set" installed cmake
check native "installs no Wine" bash -c "! grep -q wine '$FAKE_STATE/installed'"
check native "installs no cross compiler" bash -c "! grep -q mingw '$FAKE_STATE/installed'"
check native "adds no i386 architecture" bash -c "! grep -q add-architecture '$FAKE_STATE/calls'"

# 3. The core set cannot be installed: a failure, with apt's message.
run broken FAKE_CORE=broken PELLUMIN_WINE32=skip
check broken "fails" [ "$rc" != 0 ]
check broken "says setup failed, with apt's reason" has "setup failed: apt-get could not install the core packages: E: Unable to locate package"

# 4. One failed update, then a good one: no warning about missing indexes.
run flaky FAKE_UPDATE=flaky PELLUMIN_WINE32=skip
check flaky "exits 0" [ "$rc" = 0 ]
check flaky "updates twice" [ "$(cat "$FAKE_STATE/updates")" = 2 ]
check flaky "reports no missing index" bash -c "! grep -q 'could not fetch' '$work/flaky.log'"

# 5. i386 only from the release's own suite: installed there, with 64-bit
#    Wine in the same step (so that their shared libraries match).
if [ -n "$codename" ]; then
  run target FAKE_UPDATE=partial FAKE_I386=needs-target PELLUMIN_WINE32=force
  check target "exits 0" [ "$rc" = 0 ]
  check target "installs wine32:i386" installed wine32:i386
  check target "takes wine64 along" called "install .*-t $codename .*wine64 wine32:i386"
  check target "says nothing was skipped" bash -c "! grep -q 'skipped' '$work/target.log'"
  check target "installs the rest of the core set" all_core_installed
fi

# 6. apt's resolver needs the package it stumbled on named: named, installed,
#    and marked automatic again.
run hint FAKE_I386=needs-hint PELLUMIN_WINE32=force
check hint "exits 0" [ "$rc" = 0 ]
check hint "installs wine32:i386" installed wine32:i386
check hint "marks the named package automatic" called "apt-mark auto libgst:i386"

# 7. Everything there: apt-get is never called.
PRESET_INSTALLED="$(bash -c "sed -n '/^native_packages=(/,/^)/p; /^windows_packages=(/,/^)/p' '$here/setup-debian.sh'" |
  grep -v '[()]') wine32:i386" run present PELLUMIN_WINE32=force
check present "exits 0" [ "$rc" = 0 ]
check present "says all packages are present" has "setup: all packages present"
check present "never calls apt-get" bash -c "! grep -q '^apt-get' '$FAKE_STATE/calls'"

# 8. The i386 architecture cannot be added: core set installed, Wine skipped.
run noarch FAKE_REFUSE_ARCH=1 PELLUMIN_WINE32=force
check noarch "exits 0" [ "$rc" = 0 ]
check noarch "installs the core set" all_core_installed
check noarch "says why 32-bit Wine is missing" has "skipped: 32-bit Wine (wine32:i386): dpkg --add-architecture i386 failed"

# 9. Bad arguments.
run badarg -- --frobnicate
check badarg "refuses an unknown argument" [ "$rc" = 2 ]

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed; the setup output of each case is in the lines above"
  for log in "$work"/*.log; do echo "--- $(basename "$log")"; sed 's/^/  /' "$log"; done
  exit 1
fi
echo "all setup checks passed"
