#!/usr/bin/env bash
# Runs a Windows program in the end-to-end tests' Wine prefix.
#   wine.sh PREFIX LOADER PROGRAM [ARGUMENTS...]
set -euo pipefail
export WINEPREFIX=$1 WINELOADER=$2 WINEDEBUG=-all
shift 2
exec "$WINELOADER" "$@"
