#!/usr/bin/env bash
# A real next logon: "-INSTALL" with ADB off, the Wine session ended, then
# wineboot, which starts the current user's Run commands as the shell does at
# logon. The trace viewer listens system-wide meanwhile; the test waits
# (60 s at most) for the logon run to switch ADB on and delete its value,
# then checks its trace. The suite prepares the run and checks before and
# after it; the logon itself is Wine's.
#   logon.sh PREFIX LOADER BUILD_DIR
set -uo pipefail
prefix=$1 loader=$2 build=$3
here=$(cd "$(dirname "$0")" && pwd)
wine=("$here/wine.sh" "$prefix" "$loader")
export WINEPREFIX=$prefix
listened=$(mktemp) said=$(mktemp)
trap 'rm -f "$listened" "$said"' EXIT

"${wine[@]}" "$build/e2e_tests.exe" logon-install | tr -d '\r' || exit 1

echo "ending the session (wineserver -k)"
"$here/new-session.sh" "$prefix" "$loader"
"${wine[@]}" "$build/LumenkeepTrace.exe" --listen 90 </dev/null >"$listened" 2>"$said" &
listener=$!
for _ in $(seq 100); do grep -q 'listening' "$said" && break; sleep 0.1; done

echo "logging on (wineboot)"
"${wine[@]}" wineboot </dev/null >/dev/null 2>&1
done=1
for _ in $(seq 600); do
  if "${wine[@]}" "$build/e2e_tests.exe" logon-done >/dev/null 2>&1; then done=0; break; fi
  sleep 0.1
done
[ $done -eq 0 ] || echo "Test failed: the logon run did not finish within 60 s"
sleep 0.5  # the run's last message may still be on its way
kill -INT "$listener" 2>/dev/null  # Ctrl+C: the listener ends with its count
wait "$listener" 2>/dev/null
sed -i -e '/^caught /d' -e 's/\r//g' "$listened"
echo "listener caught:"; sed 's/^/  /' "$listened"

"${wine[@]}" "$build/e2e_tests.exe" logon-check "Z:${listened//\//\\}" | tr -d '\r'
status=${PIPESTATUS[0]}
[ $done -eq 0 ] && exit "$status"
exit 1
