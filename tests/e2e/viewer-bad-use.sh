#!/usr/bin/env bash
# The trace viewer's bad use, under Wine: one line on standard error and exit
# code 2, or 3 for a program that cannot be started.
#   viewer-bad-use.sh PREFIX LOADER
set -uo pipefail
source "$(dirname "$0")/viewer-env.sh"

refuses() {  # refuses EXPECTED_CODE ARGUMENTS...
  local expected=$1
  shift
  local output
  output=$("${wine[@]}" "$viewer" "$@" </dev/null 2>&1 >/dev/null | tr -d '\r')
  local code=${PIPESTATUS[0]}
  check "$(printf '[%s]' "$@"): exit code, lines on standard error" "$expected 1" \
    "$code $(grep -c '^LumenkeepTrace: ' <<<"$output")"
}

refuses 2
refuses 2 --time
refuses 2 --only
refuses 2 --bogus Lumenkeep.exe
for seconds in 0 86401 ' 1' '+1' '-4294967295' $'\uff11' 1e3; do
  refuses 2 --listen "$seconds"
done
refuses 2 --listen 5 more
refuses 3 'C:/no/such/program.exe'
check "a program that cannot be started: why" "(error 2)" \
  "$("${wine[@]}" "$viewer" 'C:/no/such/program.exe' </dev/null 2>&1 | grep -o '(error [0-9]*)')"
summary "viewer bad use"
