# Sourced by the scripts that run Lumenkeep under Wine: sets `preset` and
# `loader`. Wine runs the 32-bit build where this machine executes 32-bit
# code, and the same program built for x86-64 where it does not.
if "$(dirname "${BASH_SOURCE[0]}")/runs-32bit-code.sh"; then
  preset=windows-x86 loader=/usr/lib/wine/wine
else
  preset=windows-x64 loader=/usr/lib/wine/wine64
fi
