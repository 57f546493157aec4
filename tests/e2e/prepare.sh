#!/usr/bin/env bash
# Makes the end-to-end tests' Wine prefix once and reuses it: null graphics
# driver, one persistent wineserver for the whole run, Lumenkeep.exe and the
# trace viewer in a folder whose path has spaces, the driver stand-in
# registered.
#   prepare.sh PREFIX LOADER BUILD_DIR
set -euo pipefail
prefix=$1 loader=$2 build=$3
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all

# The persistent server starts first, so every Wine process of the run uses
# it; when one is running already from an earlier preparation, that one is.
mkdir -p "$prefix"
wineserver -p </dev/null >/dev/null 2>&1 || true
if [ ! -f "$prefix/system.reg" ]; then
  echo "creating the Wine prefix $prefix"
  "$loader" wineboot -i </dev/null >/dev/null 2>&1
  "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
fi

install="$prefix/drive_c/Program Files/Lumenkeep E2E"
mkdir -p "$install"
cp "$build/Lumenkeep.exe" "$build/LumenkeepTrace.exe" "$build/driver-standin.dll" "$install/"
"$loader" regsvr32 /s 'C:\Program Files\Lumenkeep E2E\driver-standin.dll' </dev/null >/dev/null 2>&1
echo "prefix ready: $prefix"
