#!/usr/bin/env bash
# Reads every Windows binary in a build's bin folder with objdump -p and
# checks that each one (DLLs, test modules, programs) is a PE image for the
# expected machine and imports only system DLLs and the project's own, so
# that it loads on a bare Windows with nothing else beside it: a module that
# imports libgcc_s_dw2-1.dll, libstdc++-6.dll or libwinpthread-1.dll was
# linked without the static runtime. The two product DLLs must also export
# every name their .def file lists, undecorated, and carry a VERSIONINFO
# resource.
#
# Usage: check-windows-dlls.sh BIN_DIR [--machine i686|x86_64]
#   --machine  the build's processor (default i686: 32-bit PE32 images)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bin=""
machine=i686
while [ $# -gt 0 ]; do
  case "$1" in
    --machine) [ $# -ge 2 ] || { echo "--machine needs i686 or x86_64" >&2; exit 2; }; machine=$2; shift ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
    *) bin=$1 ;;
  esac
  shift
done
[ -n "$bin" ] || { echo "usage: check-windows-dlls.sh BIN_DIR [--machine i686|x86_64]" >&2; exit 2; }
case "$machine" in
  i686) magic=010b; kind="32-bit PE32"; prefix=i686-w64-mingw32 ;;
  x86_64) magic=020b; kind="64-bit PE32+"; prefix=x86_64-w64-mingw32 ;;
  *) echo "--machine must be i686 or x86_64, not $machine" >&2; exit 2 ;;
esac
objdump=$(command -v "$prefix-objdump" || command -v objdump) ||
  { echo "no objdump (package binutils-mingw-w64-${machine/_/-})" >&2; exit 1; }

# DLLs that every Windows has, and the project's own.
system_dlls='KERNEL32|msvcrt|WS2_32|ADVAPI32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|SHLWAPI|ole32|OLEAUT32|UxTheme|VERSION|IPHLPAPI|bcrypt|CRYPT32|Secur32|WINMM|ntdll|RPCRT4'
own_dlls='Corvane|Tarnwick'
# A test module whose whole point is to import a DLL that exists nowhere.
declare -A extra_imports=([hxhost_orphan_plugin.dll]='pellumin_absent')

status=0
checked=0
problem() { echo "FAIL $1"; status=1; }

check_imports() {
  local file=$1 dump=$2 name imports allowed
  name=$(basename "$file")
  allowed="^($system_dlls|$own_dlls${extra_imports[$name]:+|${extra_imports[$name]}})\.dll$"
  imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
  echo "$name imports: $(tr '\n' ' ' <<<"$imports")"
  while read -r imp; do
    [ -z "$imp" ] && continue
    grep -Eqi "$allowed" <<<"$imp" || problem "$name: imports $imp, which is neither a system DLL nor the project's own"
  done <<<"$imports"
}

check_product_dll() {
  local dll=$1 def=$2 dump=$3 name names exports n
  name=$(basename "$dll")
  # The VERSIONINFO resource holds the UTF-16 text "VS_VERSION_INFO".
  if ! LC_ALL=C grep -aPq 'V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O' "$dll"; then
    problem "$name: no VERSIONINFO resource"
  fi
  # Export names in the .def file: "Name", "Name @n", "Name = Internal @n".
  names=$(sed -n '/^EXPORTS/,$p' "$def" | sed '1d' | sed -E 's/;.*//; s/^\s+//; s/[ =@].*//' | grep -v '^$' || true)
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump")
  for n in $names; do
    grep -Eq "\] $n\$" <<<"$exports" || problem "$name: export $n missing or decorated"
  done
  echo "$name exports: $(grep -Ec "^\s*\[ *[0-9]+\] " <<<"$exports") names"
}

shopt -s nullglob nocaseglob
for file in "$bin"/*.dll "$bin"/*.exe; do
  name=$(basename "$file")
  if ! dump=$("$objdump" -p "$file" 2>&1); then
    # The other machine's images are unreadable to this machine's objdump.
    problem "$name: not a $kind image that $(basename "$objdump") can read: ${dump##*: }"
    continue
  fi
  checked=$((checked + 1))
  grep -q "Magic.*$magic" <<<"$dump" || problem "$name: not a $kind image"
  check_imports "$file" "$dump"
  case "$name" in
    Corvane.dll) check_product_dll "$file" "$root/engine/corvane.def" "$dump" ;;
    Tarnwick.dll) check_product_dll "$file" "$root/plugin/tarnwick.def" "$dump" ;;
  esac
done
shopt -u nullglob nocaseglob

for required in Corvane.dll Tarnwick.dll; do
  [ -f "$bin/$required" ] || problem "missing: $bin/$required"
done
echo "checked $checked Windows binaries in $bin: $([ "$status" = 0 ] && echo "all good" || echo "problems above")"
exit $status
