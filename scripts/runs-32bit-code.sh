#!/usr/bin/env bash
# Exit 0 when this machine can execute 32-bit x86 Linux programs (which the
# 32-bit Wine loader is), 1 when it cannot. Some virtual machines run only
# 64-bit user code; there Wine can run only the x86-64 build.
#
# LUMENKEEP_NO_32BIT=1 makes it answer 1 anywhere, so that the scripts and
# the configure step act as on a machine without 32-bit execution.
#
# The probe is a 96-byte static i386 ELF that exits with status 42.
set -u
[ "${LUMENKEEP_NO_32BIT:-0}" = 1 ] && exit 1
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00' >>"$probe"
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
