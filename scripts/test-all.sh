#!/usr/bin/env bash
# Sets up a Debian machine, builds both targets and runs every test:
#   - natively, under AddressSanitizer/UBSan and under ThreadSanitizer;
#   - the proxy end to end with curl through hxhost;
#   - the 32-bit Windows build: export and import checks of the DLLs, and the
#     Windows test programs under Wine where Wine can run on this machine.
# Ends with one line "N passed, M failed" over every ctest run.
# Environment: SKIP_SETUP=1 skips the apt-get step; STAGES="native asan"
# runs only some stages (native asan tsan e2e windows).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

stages=${STAGES:-"native asan tsan e2e windows"}
want() { [[ " $stages " == *" $1 "* ]]; }

if [ "${SKIP_SETUP:-0}" != 1 ]; then
  bash scripts/setup-debian.sh || { echo "setup failed"; exit 1; }
fi

total_passed=0
total_failed=0
failures=()

banner() { printf '\n==== %s ====\n' "$*"; }

# Runs a command; a failure is counted once under the given name.
run_step() {
  local name=$1; shift
  if ! "$@"; then
    failures+=("$name")
    total_failed=$((total_failed + 1))
    return 1
  fi
}

# Runs ctest and adds its counts to the totals.
run_ctest() {
  local name=$1; shift
  local log
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -n "$line" ]; then
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
    [ "$failed" -eq 0 ] || failures+=("$name")
  elif [ "$rc" -ne 0 ]; then
    failures+=("$name")
    total_failed=$((total_failed + 1))
  fi
}

build_preset() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

if want native; then
  banner "native build and tests"
  if run_step "native build" build_preset native; then
    run_ctest native --preset native -j "$(nproc)"
  fi
fi

if want asan; then
  banner "AddressSanitizer and UBSan"
  if run_step "asan build" build_preset native-asan; then
    run_ctest native-asan --preset native-asan -j "$(nproc)"
  fi
fi

if want tsan; then
  banner "ThreadSanitizer"
  if run_step "tsan build" build_preset native-tsan; then
    run_ctest native-tsan --preset native-tsan -j "$(nproc)"
  fi
fi

if want e2e; then
  banner "end to end: curl through hxhost"
  if [ -f host/e2e_curl.sh ]; then
    run_step "e2e curl" bash host/e2e_curl.sh "$root/build/native" --strict \
      && total_passed=$((total_passed + 1))
  else
    echo "no end-to-end script yet"
  fi
  banner "load: concurrent clients through hxhost"
  if [ -f host/load_test.sh ]; then
    run_step "load test" bash host/load_test.sh "$root/build/native" --strict \
      && total_passed=$((total_passed + 1))
  fi
fi

if want windows; then
  banner "32-bit Windows build"
  if run_step "windows build" build_preset windows-i686; then
    run_step "windows dll check" bash scripts/check-windows-dlls.sh build/windows-i686/bin \
      && total_passed=$((total_passed + 1))
    banner "Windows tests under Wine"
    # A Wine prefix of this checkout's own: a wineserver that another run
    # stops in a shared prefix would leave these tests waiting for it.
    export XDG_CACHE_HOME="$root/build/cache"
    if [ -f cmake/wine-env.sh ]; then
      # shellcheck disable=SC1091
      source cmake/wine-env.sh || true
    fi
    case "${PELLUMIN_WINE_ARCH:-}" in
      i686)
        run_ctest windows-i686 --preset windows-i686 ;;
      x86_64)
        echo "This kernel cannot run 32-bit programs: the Windows tests run from the"
        echo "x86_64 build under 64-bit Wine (the 32-bit DLLs were checked above)."
        if run_step "windows x86_64 build" build_preset windows-x86_64; then
          run_ctest windows-x86_64 --preset windows-x86_64
        fi ;;
      *)
        echo "Wine cannot run Windows programs on this machine; the Windows tests were built but not run." ;;
    esac
    if [ -n "${PELLUMIN_WINE_ARCH:-}" ] && [ -f host/e2e_curl.sh ] &&
       grep -q -- '--windows' host/e2e_curl.sh; then
      banner "end to end under Wine: curl through hxhost.exe"
      run_step "e2e curl (Wine)" bash host/e2e_curl.sh --windows "$root/build/windows-$PELLUMIN_WINE_ARCH" \
          --list "$root/build/native/data/sample.lst" \
        && total_passed=$((total_passed + 1))
    fi
    if [ -n "${PELLUMIN_WINE_ARCH:-}" ]; then
      banner "registry file against Wine's regedit, both ways"
      run_step "registry vs regedit" sh platform/wine_registry_roundtrip.sh \
          "$root/build/native/bin/pellumin_regfile" \
        && total_passed=$((total_passed + 1))
    fi
    declare -F pellumin_wine_stop >/dev/null && pellumin_wine_stop
  fi
fi

banner "summary"
if [ ${#failures[@]} -gt 0 ]; then
  echo "failed: ${failures[*]}"
fi
echo "${total_passed} passed, ${total_failed} failed"
[ "$total_failed" -eq 0 ]
