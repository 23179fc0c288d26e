#!/usr/bin/env bash
# Reads the Windows DLLs with objdump -p and checks that each exports every
# name its .def file lists (undecorated) and imports only system DLLs and
# each other, so that they load on a bare Windows with nothing else beside.
set -euo pipefail
bin=${1:?usage: check-windows-dlls.sh BIN_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
objdump=$(command -v i686-w64-mingw32-objdump || command -v objdump)

allowed='^(KERNEL32|msvcrt|WS2_32|ADVAPI32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|ole32|Corvane)\.dll$'
status=0

check_dll() {
  local dll=$1 def=$2
  if [ ! -f "$dll" ]; then
    echo "missing: $dll"; status=1; return
  fi
  local dump
  dump=$("$objdump" -p "$dll")
  grep -q 'Magic.*010b' <<<"$dump" || { echo "$dll: not a 32-bit PE (PE32) image"; status=1; }
  # The VERSIONINFO resource holds the UTF-16 text "VS_VERSION_INFO".
  if ! LC_ALL=C grep -aPq 'V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O' "$dll"; then
    echo "$dll: no VERSIONINFO resource"; status=1
  fi
  local imports
  imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
  echo "$(basename "$dll") imports: $(tr '\n' ' ' <<<"$imports")"
  while read -r imp; do
    [ -z "$imp" ] && continue
    if ! grep -Eqi "$allowed" <<<"$imp"; then
      echo "$dll: unexpected import $imp"; status=1
    fi
  done <<<"$imports"
  # Export names in the .def file: "Name", "Name @n", "Name = Internal @n".
  local names
  names=$(sed -n '/^EXPORTS/,$p' "$def" | sed '1d' | sed -E 's/;.*//; s/^\s+//; s/[ =@].*//' | grep -v '^$' || true)
  local exports
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump")
  for n in $names; do
    if ! grep -Eq "\] $n\$" <<<"$exports"; then
      echo "$dll: export $n missing or decorated"; status=1
    fi
  done
  echo "$(basename "$dll") exports: $(grep -Ec "^\s*\[ *[0-9]+\] " <<<"$exports") names"
}

check_dll "$bin/Corvane.dll" "$root/engine/corvane.def"
if [ -f "$root/plugin/tarnwick.def" ]; then
  check_dll "$bin/Tarnwick.dll" "$root/plugin/tarnwick.def"
fi
exit $status
