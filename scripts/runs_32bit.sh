#!/usr/bin/env bash
# Asks the kernel whether this machine runs 32-bit x86 programs, without
# installing anything: it runs a 93-byte 32-bit Linux program that only
# exits with status 42. Exit status 0 when it ran; else 1, with the kernel's
# answer (e.g. "Exec format error") on standard output.
set -u
# ELF header, one loadable segment, then: xor ebx,ebx; mov bl,42; xor eax,eax; inc eax; int 0x80 (exit).
program='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
program+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
program+='\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00'
program+='\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80'

# Not /tmp alone: a directory mounted noexec would answer for the mount, not the kernel.
dir=$(mktemp -d "$(dirname "$0")/../build/.runs_32bit.XXXXXX" 2>/dev/null) ||
    dir=$(mktemp -d) || { echo "no scratch directory"; exit 1; }
trap 'rm -rf "$dir"' EXIT
printf "$program" >"$dir/exit42"
chmod +x "$dir/exit42"
answer=$("$dir/exit42" 2>&1)
status=$?
[ "$status" = 42 ] && exit 0
case "$answer" in
*"Exec format error"*) echo "Exec format error" ;;
"") echo "exit status $status" ;;
*) echo "${answer##*: }" ;;
esac
exit 1
