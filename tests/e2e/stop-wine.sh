#!/usr/bin/env bash
# Ends every Wine process of the given prefixes and checks that none is left:
# the wineserver and whatever it started (services, the COM surrogate, the
# programs). Prints what is left and exits 1 when something outlives it.
#   stop-wine.sh PREFIX...
set -uo pipefail
# This script's own environment must not name a prefix, or it finds itself.
[ -n "${WINEPREFIX:-}" ] && exec env -u WINEPREFIX "$0" "$@"

# The processes whose environment names the prefix: Wine hands WINEPREFIX on
# to every process it starts, the wineserver included.
processes_of() {
  local pid
  for environ in $(grep -lsxzF -- "WINEPREFIX=$1" /proc/[0-9]*/environ); do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    echo "$pid $(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null)"
  done
}

status=0
for prefix in "$@"; do
  [ -d "$prefix" ] || continue
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 10 wineserver -w >/dev/null 2>&1
  left=""
  for _ in $(seq 50); do
    left=$(processes_of "$prefix")
    [ -z "$left" ] && break
    sleep 0.1
  done
  if [ -n "$left" ]; then
    echo "Test failed: Wine processes of $prefix left running (now killed):"
    sed 's/^/  /' <<<"$left"
    kill -9 $(cut -d' ' -f1 <<<"$left") 2>/dev/null
    status=1
  else
    echo "ok: no Wine process of $prefix left running"
  fi
done
exit $status
