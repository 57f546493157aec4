# Sourced by the scripts that run Lumenkeep under Wine: sets `preset` and
# `loader`. Wine runs the 32-bit build, the one that ships, wherever it can,
# and the same program built for x86-64 elsewhere (see wine32-ready.sh).
if "$(dirname "${BASH_SOURCE[0]}")/wine32-ready.sh" >/dev/null; then
  preset=windows-x86 loader=/usr/lib/wine/wine
else
  preset=windows-x64 loader=/usr/lib/wine/wine64
fi
