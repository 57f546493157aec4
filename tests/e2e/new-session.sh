#!/usr/bin/env bash
# Starts a new Wine session in a prefix: ends the running one and waits until
# its server is gone (a new server must not race the old one's exit), starts
# the persistent server, then Wine's own services, which start with the
# session's first program and so hold no handle of the caller's output.
#   new-session.sh PREFIX LOADER
set -uo pipefail
export WINEPREFIX=$1 WINELOADER=$2 WINEDEBUG=-all
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
"$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1
