#!/bin/sh
# Checks that the POSIX registry file and Wine's regedit understand each
# other, both ways:
#   1. values set with pellumin_regfile -> "regedit /S" imports the file ->
#      "regedit /E" exports the key -> the export read through the layer
#      gives the same values;
#   2. values set with "reg add" -> "regedit /E" -> read through the layer.
# The part without Wine (set, get and dump through the layer) always runs.
# When Wine cannot run here, the Wine part says so and is skipped (exit 0).
#
# usage: wine_registry_roundtrip.sh PATH-TO-pellumin_regfile
# environment: WINE (default wine), WINEPREFIX as usual.
set -u

REGFILE=${1:?usage: $0 PATH-TO-pellumin_regfile}
WINE=${WINE:-wine}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-wine-reg.XXXXXX") || exit 1
trap 'rm -rf "$WORK"' EXIT
KEY='SOFTWARE\PelluminTest\RoundTrip'
FAILURES=0

fail() { printf "FAIL: %s\n" "$*"; FAILURES=$((FAILURES + 1)); }

# expect FILE NAME WANTED: the value as pellumin_regfile get prints it.
expect() {
  got=$("$REGFILE" --file "$1" get "$KEY" "$2" 2>&1)
  if [ "$got" = "$3" ]; then printf "ok: %s = %s\n" "$2" "$3"; else fail "$2: wanted [$3], got [$got]"; fi
}

# --- 1. The layer alone -----------------------------------------------------
STORE="$WORK/hklm.reg"
"$REGFILE" --file "$STORE" set "$KEY" Plain sz 'C:\\lists\\control' || fail "set Plain"
"$REGFILE" --file "$STORE" set "$KEY" Lines sz '<BODY>\r\n<p>x</p>\r\n</BODY>' || fail "set Lines"
"$REGFILE" --file "$STORE" set "$KEY" Quote sz 'say "hi"' || fail "set Quote"
"$REGFILE" --file "$STORE" set "$KEY" Count dword 10 || fail "set Count"
"$REGFILE" --file "$STORE" set "$KEY" AllBits dword 0xffffffff || fail "set AllBits"
expect "$STORE" Plain 'sz C:\\lists\\control'
expect "$STORE" Lines 'sz <BODY>\r\n<p>x</p>\r\n</BODY>'
expect "$STORE" Quote 'sz say "hi"'
expect "$STORE" Count 'dword 10'
expect "$STORE" AllBits 'dword 4294967295'
head -c 10 "$STORE" | od -c | grep -q 'R   E   G   E   D   I   T   4  \\r  \\n' \
  || fail "the file does not begin with REGEDIT4 and CR LF"
"$REGFILE" --file "$STORE" dump > "$WORK/dump.reg" || fail "dump"
cmp -s "$STORE" "$WORK/dump.reg" || fail "dump differs from the file as written"

# --- 2. Wine -------------------------------------------------------------------
export WINEDEBUG=${WINEDEBUG:--all}
if ! reason=$(WINEDEBUG= "$WINE" cmd /c exit 2>&1 </dev/null); then
  reason=$(printf '%s' "$reason" | tr '\n' ' ' | cut -c1-200)
  echo "skipped: wine cannot run here (${reason:-$WINE cmd /c exit failed})"
  [ "$FAILURES" -eq 0 ] && echo "PASS (without Wine)" && exit 0
  exit 1
fi

# Wine regedit takes Windows paths; winepath turns ours into one.
winpath() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

"$WINE" reg delete "HKLM\\$KEY" /f >/dev/null 2>&1
"$WINE" regedit /S "$(winpath "$STORE")" || fail "regedit /S"
EXPORT="$WORK/export.reg"
"$WINE" regedit /E "$(winpath "$EXPORT")" "HKEY_LOCAL_MACHINE\\$KEY" || fail "regedit /E"
[ -s "$EXPORT" ] || fail "regedit /E wrote nothing"
expect "$EXPORT" Plain 'sz C:\\lists\\control'
expect "$EXPORT" Lines 'sz <BODY>\r\n<p>x</p>\r\n</BODY>'
expect "$EXPORT" Quote 'sz say "hi"'
expect "$EXPORT" Count 'dword 10'
expect "$EXPORT" AllBits 'dword 4294967295'

# The other way: values that reg.exe sets, exported by regedit.
"$WINE" reg delete "HKLM\\$KEY" /f >/dev/null 2>&1
"$WINE" reg add "HKLM\\$KEY" /v Plain /t REG_SZ /d 'C:\lists\control' /f >/dev/null || fail "reg add Plain"
"$WINE" reg add "HKLM\\$KEY" /v Count /t REG_DWORD /d 10 /f >/dev/null || fail "reg add Count"
"$WINE" reg add "HKLM\\$KEY" /v Default /t REG_SZ /d 'text with spaces' /f >/dev/null || fail "reg add Default"
EXPORT2="$WORK/export2.reg"
"$WINE" regedit /E "$(winpath "$EXPORT2")" "HKEY_LOCAL_MACHINE\\$KEY" || fail "regedit /E (2)"
expect "$EXPORT2" Plain 'sz C:\\lists\\control'
expect "$EXPORT2" Count 'dword 10'
expect "$EXPORT2" Default 'sz text with spaces'
"$WINE" reg delete "HKLM\\$KEY" /f >/dev/null 2>&1

if [ "$FAILURES" -eq 0 ]; then echo "PASS"; exit 0; fi
echo "$FAILURES check(s) failed"
exit 1
