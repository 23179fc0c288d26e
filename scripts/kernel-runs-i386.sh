#!/usr/bin/env bash
# Tells whether this kernel runs 32-bit x86 (i386) programs itself, which
# 32-bit Wine needs. Exit 0 when it does; otherwise exit 1 and say why in
# one line.
#
# It runs a 96-byte static i386 program that only exits with status 42
# (written here byte by byte, so nothing 32-bit has to be installed). Some
# virtual machines have the kernel's IA32 emulation switched off: then the
# program fails with "Exec format error". A binfmt_misc entry that hands
# i386 programs to an emulator (qemu-user) would run it too, but far too
# slowly for Wine, so such an entry counts as "no".
set -u

for entry in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$entry" ] || continue
  case "$entry" in */register|*/status) continue ;; esac
  if grep -qx enabled "$entry" 2>/dev/null &&
     grep -q '^magic 7f454c46010101.*0300$' "$entry" 2>/dev/null; then
    echo "i386 programs go to an emulator through binfmt_misc ($(basename "$entry")), too slow for Wine"
    exit 1
  fi
done

probe=$(mktemp "${TMPDIR:-/tmp}/pellumin-i386.XXXXXX") || { echo "cannot create a probe file"; exit 1; }
trap 'rm -f "$probe"' EXIT
# ELF header, one program header, then: mov eax,1; mov ebx,42; int 0x80.
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
chmod +x "$probe"
out=$("$probe" 2>&1)
rc=$?
if [ "$rc" -eq 42 ]; then
  exit 0
fi
if [ "$rc" -eq 126 ] && [[ "$out" == *"ermission denied"* ]]; then
  echo "cannot tell: ${TMPDIR:-/tmp} does not allow running programs (set TMPDIR elsewhere)"
else
  echo "the kernel cannot run 32-bit programs (${out##*: }; exit status $rc)"
fi
exit 1
