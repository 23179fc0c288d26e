#!/usr/bin/env bash
# Sets up a Debian machine, builds both targets and runs every test:
#   native    the native build and its unit tests (and the setup script's
#             own test, against stand-ins for apt-get and dpkg, and the
#             settings sheet driven in a terminal under tmux)
#   threadsafety  every target built with clang 14 and its thread-safety
#             analysis (-Wthread-safety as errors, preset
#             native-threadsafety); one check, passed when it builds.
#             Skipped, with why, without clang 14
#   asan      the unit tests under AddressSanitizer and UBSan
#   tsan      the unit tests under ThreadSanitizer
#   e2e       curl through hxhost and the real plug-in, and a load test;
#             Debian's squid with the tarnwick-squid helper on loopback
#   fuzz      each fuzz target (preset native-fuzz: clang 14, libFuzzer,
#             ASan and UBSan) for FUZZ_SECONDS (default 50) on its corpus;
#             any finding fails it. Skipped, with why, without clang 14 or
#             its libFuzzer runtime
#   package   the Debian packages built (dpkg-buildpackage, lintian), installed
#             with apt-get, the installed programs run (hxhost as its unit
#             says, list updates good and broken, logrotate under load, Squid
#             with the installed helper), then purged (scripts/package_test.sh).
#             Skipped, with why, when not root or without debhelper
#   windows   the 32-bit Windows build and the checks of all its binaries;
#             its test programs, the end-to-end check and the settings
#             sheet driven in a virtual desktop on Xvfb (gui) and the installer
#             (pellumin-VERSION-setup.exe, silent install and uninstall) under 32-bit Wine
#             where the kernel runs 32-bit programs and wine32 is installed,
#             else the same sources built for 64-bit Windows and run under
#             64-bit Wine; the registry file against Wine's regedit
# Every check is a ctest test with a label (unit, setup, terminal, e2e, load, squid, fuzz,
# dllcheck, regedit, gui, installer), so "ctest --preset native -L e2e" runs one kind.
# The summary lists each stage that ran and each that was skipped, with
# why, and the last line is "N passed, M failed" over every test.
#
# Usage: test-all.sh [--help]
# Environment: SKIP_SETUP=1 skips scripts/setup-debian.sh; STAGES="native e2e"
# runs only some stages (default: native threadsafety asan tsan e2e package
# fuzz windows);
# FUZZ_SECONDS=N runs each fuzz target for N seconds.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

case "${1:-}" in
  -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "unknown argument: $1 (try --help)" >&2; exit 2 ;;
esac

stages=${STAGES:-"native threadsafety asan tsan e2e package fuzz windows"}
want() { [[ " $stages " == *" $1 "* ]]; }

total_passed=0
total_failed=0
failures=()
report=()   # one line a stage: "name: ran (...)" or "name: skipped, why"

banner() { printf '\n==== %s ====\n' "$*"; }
ran() { report+=("$1: ran${2:+ ($2)}"); }
skipped() { report+=("$1: skipped, $2"); echo "skipped: $1: $2"; }

setup_log=$(mktemp)
trap 'rm -f "$setup_log"' EXIT
if [ "${SKIP_SETUP:-0}" != 1 ]; then
  banner "setup"
  setup_mode=--all
  want windows || setup_mode=--native
  bash scripts/setup-debian.sh "$setup_mode" 2>&1 | tee "$setup_log"
  if [ "${PIPESTATUS[0]}" -ne 0 ]; then
    echo "setup failed"
    echo "0 passed, 1 failed"
    exit 1
  fi
fi

# Counts a failure that is not a test (a build that failed).
step_failed() {
  failures+=("$1")
  total_failed=$((total_failed + 1))
}

build_preset() {
  local preset=$1; shift
  cmake --preset "$preset" "$@" >/dev/null && cmake --build --preset "$preset"
}

# Runs ctest and adds its counts to the totals; "$ctest_counts" receives
# "P passed, F failed" for the report.
ctest_counts=""
run_ctest() {
  local name=$1; shift
  local log rc line failed total
  log=$(mktemp)
  ctest --no-tests=error "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
    ctest_counts="$((total - failed)) passed, $failed failed"
    [ "$failed" -eq 0 ] || failures+=("$name")
  elif [ "$rc" -ne 0 ]; then
    step_failed "$name"
    ctest_counts="ctest failed with status $rc"
  else
    ctest_counts="no tests"
  fi
}

native_built=0
if want native || want e2e || want windows; then
  banner "native build"
  if build_preset native; then
    native_built=1
  else
    step_failed "native build"
  fi
fi

if want native; then
  banner "native unit tests"
  if [ "$native_built" = 1 ]; then
    run_ctest native --preset native -j "$(nproc)" -L 'unit|setup|terminal'
    ran "native unit tests" "$ctest_counts"
  else
    skipped "native unit tests" "the native build failed"
  fi
fi

# Why the thread-safety build cannot be made here, or nothing.
threadsafety_missing() {
  command -v clang++-14 >/dev/null || { echo "no clang++-14 (Debian's clang-14)"; return; }
  command -v clang-14 >/dev/null || echo "no clang-14 (Debian's clang-14)"
}

if want threadsafety; then
  banner "clang 14 thread-safety analysis"
  why=$(threadsafety_missing)
  if [ -n "$why" ]; then
    skipped "thread-safety build" "$why"
  elif build_preset native-threadsafety; then
    total_passed=$((total_passed + 1))
    ran "thread-safety build (clang 14, -Werror=thread-safety)" "1 passed, 0 failed"
  else
    step_failed "native-threadsafety build"
    ran "thread-safety build (clang 14, -Werror=thread-safety)" "0 passed, 1 failed"
  fi
fi

for sanitizer in asan tsan; do
  want "$sanitizer" || continue
  preset=native-$sanitizer
  title=$([ "$sanitizer" = asan ] && echo "AddressSanitizer and UBSan" || echo "ThreadSanitizer")
  banner "$title"
  if build_preset "$preset"; then
    run_ctest "$preset" --preset "$preset" -j "$(nproc)" -L unit
    ran "unit tests under $title" "$ctest_counts"
  else
    step_failed "$preset build"
    skipped "unit tests under $title" "the $preset build failed"
  fi
done

if want e2e; then
  banner "end to end: curl through hxhost, and the load test"
  if [ "$native_built" = 1 ]; then
    run_ctest "native e2e" --preset native -L 'e2e|load'
    ran "end to end and load (native)" "$ctest_counts"
  else
    skipped "end to end and load (native)" "the native build failed"
  fi
  banner "end to end: Squid with the tarnwick-squid helper"
  squid_bin=$(command -v squid || echo /usr/sbin/squid)
  if [ "$native_built" != 1 ]; then
    skipped "Squid with tarnwick-squid" "the native build failed"
  elif [ ! -x "$squid_bin" ]; then
    skipped "Squid with tarnwick-squid" "Debian's squid is not installed (setup-debian.sh --native installs it)"
  else
    run_ctest "squid e2e" --preset native -L squid
    ran "Squid with tarnwick-squid" "$ctest_counts"
  fi
fi

if want package; then
  banner "Debian packages: build, install, run, purge"
  package_log=$(mktemp)
  bash scripts/package_test.sh "${PELLUMIN_UT1_DIR:-$root/../shared/data/ut1}" 2>&1 | tee "$package_log"
  package_rc=${PIPESTATUS[0]}
  package_counts=$(sed -n 's/^package: \([0-9]* passed, [0-9]* failed\)$/\1/p' "$package_log" | tail -n 1)
  if [ "$package_rc" = 77 ]; then
    skipped "Debian packages" "$(sed -n 's/^skipped: //p' "$package_log" | tail -n 1)"
  elif [ -n "$package_counts" ]; then
    p=${package_counts%% passed*}
    f=${package_counts#* passed, }; f=${f%% failed}
    total_passed=$((total_passed + p))
    total_failed=$((total_failed + f))
    [ "$f" -eq 0 ] || failures+=("package")
    ran "Debian packages" "$package_counts"
  else
    step_failed "package"
    ran "Debian packages" "failed before its checks (status $package_rc)"
  fi
  rm -f "$package_log"
fi

# Why the fuzz targets cannot be built here, or nothing: clang 14 must link
# a program with libFuzzer and both sanitizers.
fuzz_missing() {
  command -v clang++-14 >/dev/null || { echo "no clang++-14 (Debian's clang-14)"; return; }
  local probe
  probe=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
  if ! clang++-14 -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
       >"$probe/log" 2>&1; then
    echo "clang++-14 cannot link with libFuzzer and the sanitizers (libclang-rt-14-dev): $(head -n 1 "$probe/log")"
  fi
  rm -rf "$probe"
}

if want fuzz; then
  fuzz_seconds=${FUZZ_SECONDS:-50}
  banner "fuzz targets, ${fuzz_seconds} s each"
  why=$(fuzz_missing)
  if [ -n "$why" ]; then
    skipped "fuzz targets" "$why"
  elif build_preset native-fuzz -DPELLUMIN_FUZZ_SECONDS="$fuzz_seconds"; then
    run_ctest native-fuzz --preset native-fuzz -L fuzz
    ran "fuzz targets (${fuzz_seconds} s each)" "$ctest_counts"
  else
    step_failed "native-fuzz build"
    skipped "fuzz targets" "the native-fuzz build failed"
  fi
fi

if want windows; then
  # The cross builds compile the sample list with the native tool, for the
  # end-to-end check under Wine.
  host_tool=()
  [ "$native_built" = 1 ] && host_tool=(-DPELLUMIN_HOST_CORVANE="$root/build/native/bin/corvane")

  banner "32-bit Windows build"
  i686_built=0
  if build_preset windows-i686 "${host_tool[@]}"; then
    i686_built=1
    run_ctest "windows-i686 binaries" --preset windows-i686 -L dllcheck
    ran "windows-i686 build and checks of its binaries" "$ctest_counts"
  else
    step_failed "windows-i686 build"
    skipped "windows-i686 checks of its binaries" "the windows-i686 build failed"
  fi

  banner "Windows tests under Wine"
  # A Wine prefix of this checkout's own: a wineserver that another run
  # stops in a shared prefix would leave these tests waiting for it.
  export XDG_CACHE_HOME="$root/build/cache"
  # shellcheck disable=SC1091
  source cmake/wine-env.sh || true
  # Why there is no 32-bit run: setup's own line when it gave one.
  # ("setup: skipped: 32-bit Wine (wine32:i386) not installable: REASON; ..."
  # or "setup: skipped: 32-bit Wine (wine32:i386): REASON; ...")
  no_i686=$(sed -n 's/^setup: skipped: 32-bit Wine (wine32:i386)//p' "$setup_log" |
            sed 's/; the Windows tests will run.*//' | tail -n 1)
  if [[ "$no_i686" == " not installable: "* ]]; then
    no_i686="wine32:i386 not installable (${no_i686# not installable: })"
  elif [ -n "$no_i686" ]; then
    no_i686=${no_i686#: }
  else
    no_i686=$(sed -n 's/^i686: //p' <<<"${PELLUMIN_WINE_WHY:-}" | head -n 1)
    no_i686=${no_i686:-no 32-bit Wine here}
  fi
  case "${PELLUMIN_WINE_ARCH:-}" in
    i686)
      if [ "$i686_built" = 1 ]; then
        run_ctest windows-i686 --preset windows-i686 -LE dllcheck
        ran "windows-i686 under 32-bit Wine" "$ctest_counts"
      else
        skipped "windows-i686 under 32-bit Wine" "the windows-i686 build failed"
      fi
      skipped "windows-x86_64 under 64-bit Wine" "not needed: 32-bit Wine runs the product build itself" ;;
    x86_64)
      skipped "windows-i686 under 32-bit Wine" "$no_i686"
      banner "64-bit Windows build, tested under 64-bit Wine"
      if build_preset windows-x86_64 "${host_tool[@]}"; then
        run_ctest windows-x86_64 --preset windows-x86_64
        ran "windows-x86_64 under 64-bit Wine" "$ctest_counts"
      else
        step_failed "windows-x86_64 build"
        skipped "windows-x86_64 under 64-bit Wine" "the windows-x86_64 build failed"
      fi ;;
    *)
      why=$(tr '\n' ';' <<<"${PELLUMIN_WINE_WHY:-no Wine}" | sed 's/;$//; s/;/; /g')
      skipped "windows-i686 under 32-bit Wine" "$no_i686"
      skipped "windows-x86_64 under 64-bit Wine" "no Wine that runs Windows programs here ($why)" ;;
  esac
  if [ "$native_built" != 1 ]; then
    skipped "registry file against Wine's regedit" "the native build failed"
  elif [ -n "${PELLUMIN_WINE_ARCH:-}" ]; then
    banner "registry file against Wine's regedit, both ways"
    run_ctest "registry vs regedit" --preset native -L regedit
    ran "registry file against Wine's regedit" "$ctest_counts"
  else
    skipped "registry file against Wine's regedit" "no Wine that runs Windows programs here"
  fi
  declare -F pellumin_wine_stop >/dev/null && pellumin_wine_stop
fi

banner "summary"
for stage in native threadsafety asan tsan e2e package fuzz windows; do
  want "$stage" || report+=("$stage: skipped, not in STAGES=\"$stages\"")
done
for line in "${report[@]}"; do echo "  $line"; done
if [ ${#failures[@]} -gt 0 ]; then
  echo "failed: ${failures[*]}"
fi
echo "${total_passed} passed, ${total_failed} failed"
[ "$total_failed" -eq 0 ]
