#!/usr/bin/env bash
# Exit 0 when the 32-bit build can run under Wine here. Otherwise prints the
# reason in one line and exits 1. LUMENKEEP_NO_32BIT=1 answers no anywhere;
# LUMENKEEP_NO_32BIT=0 answers yes anywhere, so that the 32-bit suite can be
# configured (not run) on a machine that cannot run it.
here=$(cd "$(dirname "$0")" && pwd)
if [ "${LUMENKEEP_NO_32BIT:-}" = 0 ]; then
  exit 0
elif [ "${LUMENKEEP_NO_32BIT:-0}" = 1 ]; then
  echo "LUMENKEEP_NO_32BIT=1 is set: acting as a machine that can't execute 32-bit x86 code"
elif ! "$here/runs-32bit-code.sh"; then
  echo "this machine can't execute 32-bit x86 code"
elif [ ! -x /usr/lib/wine/wine ]; then
  echo "the 32-bit Wine (wine32:i386) isn't installed"
else
  exit 0
fi
exit 1
