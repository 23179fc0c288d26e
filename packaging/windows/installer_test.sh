#!/usr/bin/env bash
# The Windows installer under 32-bit Wine, in a Wine prefix of its own:
# a silent install puts the files, the settings key, the Start-menu entry
# and the uninstall entry in place; the installed hxhost.exe with the
# installed Tarnwick.dll and sample list allows one request and denies
# another; a second install keeps the key's values; a silent uninstall
# removes the files and keeps the key; /REMOVESETTINGS removes the key too.
#
# Usage: installer_test.sh BUILD_DIR SETUP_EXE [--strict]
#   Skips (prints "skipped: ..." and exits 77, which ctest shows as a skip)
#   without a 32-bit Wine, curl or python3; --strict makes that a failure.
set -uo pipefail
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

usage() { echo "Usage: $0 BUILD_DIR SETUP_EXE [--strict]"; }
strict=0
args=()
for a in "$@"; do
  case "$a" in
    --strict) strict=1 ;;
    -h|--help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) args+=("$a") ;;
  esac
done
[ "${#args[@]}" = 2 ] || { usage >&2; exit 2; }
setup=${args[1]}

skip() {
  [ "$strict" = 1 ] && { echo "FAILED (strict): $*" >&2; exit 1; }
  echo "skipped: $*"
  exit 77
}
work=""
fail() {
  echo "FAILED: $*" >&2
  [ -n "$work" ] && [ -f "$work/hxhost.err" ] && sed 's/^/  hxhost: /' "$work/hxhost.err" >&2
  exit 1
}

[ -f "$setup" ] || skip "the installer is not built ($setup)"
setup=$(cd "$(dirname "$setup")" && pwd)/$(basename "$setup")
command -v curl >/dev/null || skip "curl is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"

work=$(mktemp -d)
origin_pid=""
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
  wait 2>/dev/null
  declare -F pellumin_wine_stop >/dev/null && pellumin_wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

# A fresh prefix: wine-env.sh makes its prefix below XDG_CACHE_HOME.
here=$(cd "$(dirname "$0")/../.." && pwd)
unset WINE WINEPREFIX PELLUMIN_WINESERVER
export XDG_CACHE_HOME=$work/cache
# shellcheck source=/dev/null
. "$here/cmake/wine-env.sh" >/dev/null 2>&1 || skip "no Wine that can run Windows programs here"
[ "$PELLUMIN_WINE_ARCH" = i686 ] || skip "no 32-bit Wine here (${PELLUMIN_WINE_WHY:-})"

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
KEY='HKEY_LOCAL_MACHINE\SOFTWARE\Pellumin\Filter'
UNINSTALL_KEY='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pellumin'
dir="$WINEPREFIX/drive_c/Program Files/Pellumin"
link="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Pellumin/Pellumin settings.lnk"
files=(Corvane.dll Tarnwick.dll corvane.exe hxhost.exe sample.lst README.md doc/hxhost.md uninstall.exe)

reg_value() {  # KEY NAME -> the value's data, or status 1
  "$WINE" reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | grep .
}
wine_run() {  # program args...
  "$WINE" "$@" </dev/null >"$work/run.out" 2>&1
}
install() {
  wine_run "$(winpath "$setup")" /S || fail "setup /S failed: $(cat "$work/run.out")"
}
uninstall() {  # extra switches; the uninstaller runs a copy of itself and
  # returns at once, so wait for the folder to go
  [ -f "$dir/uninstall.exe" ] || fail "no uninstall.exe in $dir"
  wine_run "C:\\Program Files\\Pellumin\\uninstall.exe" /S "$@" || fail "uninstall /S $* failed"
  for _ in $(seq 1 600); do [ -e "$dir" ] || break; sleep 0.1; done
  [ ! -e "$dir" ] || fail "uninstall /S $*: $dir is still there: $(ls -R "$dir")"
  [ ! -e "$link" ] || fail "uninstall /S $*: the Start-menu entry is still there"
  reg_value "$UNINSTALL_KEY" DisplayName >/dev/null && fail "uninstall /S $*: the uninstall entry is still there"
  return 0
}

# 1. Silent install into the fresh prefix.
install
for f in "${files[@]}"; do [ -f "$dir/$f" ] || fail "not installed: $f"; done
cmp -s "$dir/hxhost.exe" "${args[0]}/bin/hxhost.exe" || fail "the installed hxhost.exe is not the built one"
control=$(reg_value "$KEY" ControlFile) || fail "no ControlFile in $KEY"
[ "$control" = 'C:\Program Files\Pellumin\sample.lst' ] || fail "ControlFile is '$control'"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${args[0]}/CMakeCache.txt")
while IFS='|' read -r name want; do
  got=$(reg_value "$UNINSTALL_KEY" "$name") || fail "no $name in the uninstall entry"
  [ "$got" = "$want" ] || fail "uninstall entry: $name is '$got', not '$want'"
done <<TABLE
DisplayName|Pellumin URL filter
DisplayVersion|$version
UninstallString|"C:\\Program Files\\Pellumin\\uninstall.exe"
QuietUninstallString|"C:\\Program Files\\Pellumin\\uninstall.exe" /S
TABLE
# The DLLs' version resources carry the project's version (FILEVERSION
# numbers and the FileVersion text).
for dll in Corvane.dll Tarnwick.dll; do
  python3 - "$dir/$dll" "$version" <<'PY' || fail "$dll: its version resource is not $version"
import struct, sys
data = open(sys.argv[1], "rb").read()
want = [int(n) for n in sys.argv[2].split(".")] + [0]
fixed = data.find(b"\xbd\x04\xef\xfe")
ms, ls = struct.unpack_from("<II", data, fixed + 8)
numbers = [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]
key = "FileVersion\0".encode("utf-16-le")
at = data.find(key) + len(key)
while data[at:at + 2] == b"\0\0":  # padding to the value
    at += 2
text = data[at:at + 64].decode("utf-16-le", "replace").split("\0")[0]
sys.exit(0 if fixed >= 0 and numbers == want[:4] and text.split(".")[:3] == sys.argv[2].split(".") else 1)
PY
done
[ -f "$link" ] || fail "no Start-menu entry 'Pellumin settings'"
python3 - "$link" <<'PY' || fail "the Start-menu entry does not open the settings sheet"
import sys
data = open(sys.argv[1], "rb").read()
want = '--plugin "C:\\Program Files\\Pellumin\\Tarnwick.dll" --config "SOFTWARE\\Pellumin\\Filter"'
sys.exit(0 if want.encode("utf-16-le") in data or want.encode() in data else 1)
PY
echo "ok: installed: files, ControlFile, uninstall entry, Start-menu entry"

# 2. The installed programs with the installed key and list: one category
# denied, an allowed and a denied request.
"$WINE" reg add "$KEY\\Deny" /v GamblingState /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1 ||
  fail "could not add a denied category"
mkdir -p "$work/www"
echo "hello from the origin" >"$work/www/hello.txt"
echo "must never be served" >"$work/www/poker"
origin_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/www" && exec python3 -m http.server --bind 127.0.0.1 "$origin_port") >"$work/origin.log" 2>&1 &
origin_pid=$!
(cd "$dir" && exec "$WINE" hxhost.exe --plugin 'C:\Program Files\Pellumin\Tarnwick.dll' \
  --listen 127.0.0.1:0 --resolve '*=127.0.0.1' --upstream-timeout 5) \
  </dev/null >"$work/hxhost.out" 2>"$work/hxhost.err" &
host_pid=$!
port=""
for _ in $(seq 1 300); do
  port=$(tr -d '\r' <"$work/hxhost.err" | sed -n 's/^hxhost: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p')
  [ -n "$port" ] && curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$origin_port/hello.txt" && break
  kill -0 "$host_pid" 2>/dev/null || fail "the installed hxhost.exe exited at start"
  sleep 0.1
done
[ -n "$port" ] || fail "the installed hxhost.exe did not start listening"
grep -q "Initialized Correctly" "$work/hxhost.err" || fail "the installed plug-in did not initialise"
body=$(curl -s --max-time 20 -x "http://127.0.0.1:$port" "http://unlisted.test:$origin_port/hello.txt")
[ "$body" = "hello from the origin" ] || fail "allowed request: '$body'"
body=$(curl -s --max-time 20 -x "http://127.0.0.1:$port" "http://casino.example.com:$origin_port/poker")
case "$body" in *"Access Restricted"*) ;; *) fail "denied request: '$body'" ;; esac
grep -q "GET /poker " "$work/origin.log" && fail "the denied request reached the origin"
kill -INT "$host_pid"; wait "$host_pid"; rc=$?; host_pid=""
[ "$rc" = 0 ] || fail "the installed hxhost.exe exited with $rc"
echo "ok: installed hxhost.exe: allowed and denied"

# 3. A second install keeps the key's values.
"$WINE" reg add "$KEY" /v ControlFile /d 'C:\lists\own.lst' /f </dev/null >/dev/null 2>&1 || fail "reg add"
install
[ "$(reg_value "$KEY" ControlFile)" = 'C:\lists\own.lst' ] || fail "a second install changed ControlFile"
reg_value "$KEY\\Deny" GamblingState >/dev/null || fail "a second install removed a setting"
echo "ok: reinstall keeps the settings"

# 4. Silent uninstall: files gone, settings kept.
uninstall
[ "$(reg_value "$KEY" ControlFile)" = 'C:\lists\own.lst' ] || fail "uninstall /S did not keep the settings"
echo "ok: uninstall /S removes the files and keeps the settings"

# 5. /REMOVESETTINGS removes the key as well.
install
uninstall /REMOVESETTINGS
"$WINE" reg query "$KEY" </dev/null >/dev/null 2>&1 && fail "uninstall /S /REMOVESETTINGS kept $KEY"
echo "ok: uninstall /S /REMOVESETTINGS removes the settings"
echo "installer test passed"
