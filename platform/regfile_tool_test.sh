#!/bin/sh
# pellumin_regfile's command line and value coding, without Wine: each line
# of the table sets a value and reads it back, or is refused with exit 2.
#
# usage: regfile_tool_test.sh PATH-TO-pellumin_regfile
set -u

REGFILE=${1:?usage: $0 PATH-TO-pellumin_regfile}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-regfile.XXXXXX") || exit 1
trap 'rm -rf "$WORK"' EXIT
FILE="$WORK/hklm.reg"
KEY='SOFTWARE\PelluminTest\Tool'
FAILURES=0

fail() { printf "FAIL: %s\n" "$*"; FAILURES=$((FAILURES + 1)); }

# check KIND DATA STATUS SHOWN: "set" exits STATUS; after a 0, "get" prints
# SHOWN.
check() {
  "$REGFILE" --file "$FILE" set "$KEY" V "$1" "$2" >/dev/null 2>&1
  status=$?
  if [ "$status" != "$3" ]; then
    fail "set $1 [$2]: exit $status, wanted $3"
    return
  fi
  [ "$3" = 0 ] || { printf "ok: set %s [%s] refused\n" "$1" "$2"; return; }
  got=$("$REGFILE" --file "$FILE" get "$KEY" V 2>&1)
  if [ "$got" = "$4" ]; then printf "ok: %s [%s] -> %s\n" "$1" "$2" "$4"; else fail "$1 [$2]: got [$got], wanted [$4]"; fi
}

check sz 'plain' 0 'sz plain'
check sz 'a\tb\r\n\\' 0 'sz a\tb\r\n\\'
check sz '\x41\x7a\xFF\x00' 0 'sz Az\xff\x00'
check sz 'bad\q' 2 ''
check sz 'end\' 2 ''
check sz '\x4' 2 ''
check sz '\x4g' 2 ''
# Two hexadecimal digits exactly: no sign, no space.
check sz '\x-1' 2 ''
check sz '\x+1' 2 ''
check sz '\x 1' 2 ''
check dword 0 0 'dword 0'
check dword 0x12345678 0 'dword 305419896'
check dword 4294967295 0 'dword 4294967295'
check dword 4294967296 2 ''
check dword '' 2 ''
check dword 12x 2 ''
check blob 1 2 ''

# A REG_DWORD is stored least significant byte first whatever the machine.
"$REGFILE" --file "$FILE" set "$KEY" D dword 0x01020304 >/dev/null 2>&1
if grep -q '"D"=dword:01020304' "$FILE"; then echo "ok: dword in the file"; else fail "dword in the file: $(grep '"D"' "$FILE")"; fi

# The command line: "--help" anywhere, "--file" only in front.
"$REGFILE" set K N sz -h | grep -q '^usage: pellumin_regfile' || fail "-h as a value did not show the usage"
for line in "" "--file" "--file $FILE" "bogus" "create" "get K" "-- dump"; do
  # shellcheck disable=SC2086
  "$REGFILE" $line >/dev/null 2>&1
  status=$?
  [ "$status" = 2 ] && echo "ok: [$line] exit 2" || fail "[$line]: exit $status, wanted 2"
done

[ "$FAILURES" = 0 ] || { echo "$FAILURES failed"; exit 1; }
echo "all passed"
