#!/usr/bin/env bash
# Exits 0 when this kernel runs i386 programs, which the 32-bit Wine needs: runs a 96-byte static
# i386 ELF that only calls exit(42). A kernel without 32-bit support refuses to start it at all,
# so the answer comes from the kernel itself rather than from its version or configuration.
set -u
# Made in the build folder rather than in /tmp, which may be mounted without execution rights.
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${OBX_BUILD:-$root/build}
mkdir -p "$dir"
probe=$(mktemp "$dir/i386probe.XXXXXX")
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment at 0x08048000, then: mov eax,1; mov ebx,42; int 0x80.
printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0'\
'\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08'\
'\x60\0\0\0\x60\0\0\0\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\xbb\x2a\0\0\0\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
