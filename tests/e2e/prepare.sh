#!/usr/bin/env bash
# Makes a Wine prefix for every script that runs Windows programs, and reuses
# it while it works: null graphics driver, one persistent wineserver for the
# whole run, a session of its own. The end-to-end suite prepares everything
# else itself. Given a build folder, it also installs Lumenkeep.exe, the
# trace viewer and the driver stand-in in a folder whose path has spaces and
# registers the stand-in, for scripts that run the program by hand (run.sh,
# benchmark.sh).
#   prepare.sh PREFIX LOADER [BUILD_DIR]
#
# A prefix is reused only when it was finished by this same loader and still
# starts a program: one left half-made by an interrupted run, or made for the
# other architecture, is made again.
set -euo pipefail
prefix=$(realpath -m "$1") loader=$2 build=${3:-}
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all
made_by="$prefix/.lumenkeep-made-by"

works() {
  [ -f "$prefix/system.reg" ] && [ "$(cat "$made_by" 2>/dev/null)" = "$loader" ] &&
    timeout 30 "$loader" cmd /c exit </dev/null >/dev/null 2>&1
}

mkdir -p "$prefix"
# The persistent server starts first, so every Wine process of the run uses
# it; when one is running already from an earlier preparation, that one is.
wineserver -p </dev/null >/dev/null 2>&1 || true
if ! works; then
  echo "creating the Wine prefix $prefix"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true  # a new server must not race the old one's exit
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wineserver -p </dev/null >/dev/null 2>&1 || true
  "$loader" wineboot -i </dev/null >/dev/null 2>&1
  "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  echo "$loader" >"$made_by"
  # The session that made the prefix runs its services twice over, and the
  # COM service then cannot start (every activation that needs it waits
  # 10 s): the tests get a session of their own.
  "$(dirname "$0")/new-session.sh" "$prefix" "$loader"
  works || { echo "the new prefix $prefix does not start a program"; exit 1; }
fi

echo "prefix ready: $prefix"
[ -n "$build" ] || exit 0
source "$(dirname "$0")/identity.sh"
install=$(installed_in "$prefix")
mkdir -p "$install"
cp "$build/Lumenkeep.exe" "$build/LumenkeepTrace.exe" "$build/driver-standin.dll" \
  "$build/debuggee.exe" "$install/"
"$loader" regsvr32 /s "$install_folder\driver-standin.dll" </dev/null >/dev/null 2>&1
echo "Lumenkeep installed in $install, the driver stand-in registered"
