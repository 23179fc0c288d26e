#!/usr/bin/env bash
# Checks check-windows-dlls.sh itself on real binaries of a Windows build:
# it passes a folder of good ones, and fails, naming the cause, a folder with
# a module that imports a DLL that is neither a system DLL nor ours, with a
# product DLL missing, or with images of the other machine.
#
# Usage: check-windows-dlls_test.sh BIN_DIR i686|x86_64
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?usage: check-windows-dlls_test.sh BIN_DIR i686|x86_64}
machine=${2:?usage: check-windows-dlls_test.sh BIN_DIR i686|x86_64}
other=$([ "$machine" = i686 ] && echo x86_64 || echo i686)
work=$(mktemp -d "${TMPDIR:-/tmp}/pellumin-dllcheck.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

for f in Corvane.dll Tarnwick.dll hxhost_stub_plugin.dll hxhost_orphan_plugin.dll; do
  [ -f "$bin/$f" ] || { echo "FAIL: $bin/$f is not built"; exit 1; }
done

# case: files to copy (src:dest), --machine, expected exit (0 or 1), text the output must hold
cases=(
  "Corvane.dll:Corvane.dll Tarnwick.dll:Tarnwick.dll hxhost_stub_plugin.dll:plugin.dll|$machine|0|all good"
  "Corvane.dll:Corvane.dll Tarnwick.dll:Tarnwick.dll hxhost_orphan_plugin.dll:stray.dll|$machine|1|stray.dll: imports pellumin_absent.dll"
  "Corvane.dll:Corvane.dll hxhost_stub_plugin.dll:plugin.dll|$machine|1|missing: "
  "Corvane.dll:Corvane.dll Tarnwick.dll:Tarnwick.dll|$other|1|Corvane.dll: not a "
)
for i in "${!cases[@]}"; do
  IFS='|' read -r files want_machine want_rc want_text <<<"${cases[$i]}"
  dir=$work/case$i
  mkdir -p "$dir"
  for pair in $files; do cp "$bin/${pair%%:*}" "$dir/${pair##*:}"; done
  out=$(bash "$here/check-windows-dlls.sh" "$dir" --machine "$want_machine" 2>&1)
  rc=$?
  [ "$rc" -ne 0 ] && rc=1
  if [ "$rc" != "$want_rc" ] || [[ "$out" != *"$want_text"* ]]; then
    echo "FAIL case $i ($files, --machine $want_machine): exit $rc, wanted $want_rc and \"$want_text\":"
    sed 's/^/  /' <<<"$out"
    failures=$((failures + 1))
  else
    echo "ok case $i: exit $rc, \"$want_text\""
  fi
done
exit $((failures > 0))
