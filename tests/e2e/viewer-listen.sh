#!/usr/bin/env bash
# The trace viewer's system-wide listening, under Wine: a second listener
# refuses while the first keeps every message; lines name the writing process
# by PID and image name, with --time and --only; Ctrl+C (SIGINT, which Wine
# hands to the console handler) ends an open-ended listening with the count.
#   viewer-listen.sh PREFIX LOADER
set -uo pipefail
source "$(dirname "$0")/viewer-env.sh"
first=$(mktemp) second=$(mktemp)
trap 'rm -f "$first" "$second"; [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null' EXIT

"${wine[@]}" "$viewer" --time --listen </dev/null >"$first" 2>&1 &
listener=$!
for _ in $(seq 100); do grep -q '^listening' "$first" && break; sleep 0.1; done

"${wine[@]}" "$viewer" --listen 5 </dev/null 2>&1 | tr -d '\r' >"$second"
check "a second listener: exit code" 3 "${PIPESTATUS[0]}"
check "a second listener: its line" \
  "LumenkeepTrace: another program already listens to the system-wide debug channel" "$(cat "$second")"

"${wine[@]}" "$debuggee" burst 300 </dev/null
sleep 0.5
kill -INT "$listener"
wait "$listener"
check "Ctrl+C: exit code" 0 "$?"
listener=""
tr -d '\r' <"$first" >"$second"
check "the first listener kept every message" 300 \
  "$(grep -c '^[0-9]*\.[0-9][0-9][0-9] [0-9][0-9]* debuggee\.exe: \(\[Glimmer\]message\|other\) [0-9]*$' "$second")"
check "Ctrl+C: the count" "caught 300 messages" "$(tail -1 "$second")"

"${wine[@]}" "$viewer" --only '[Glimmer]' --listen 3 </dev/null >"$first" 2>&1 &
listener=$!
for _ in $(seq 100); do grep -q '^listening' "$first" && break; sleep 0.1; done
"${wine[@]}" "$debuggee" burst 10 </dev/null
wait "$listener"
listener=""
tr -d '\r' <"$first" >"$second"
check "--only: the lines shown" "5 [Glimmer]message 0|[Glimmer]message 2|[Glimmer]message 4|[Glimmer]message 6|[Glimmer]message 8" \
  "$(grep -c '^[0-9][0-9]* debuggee\.exe: ' "$second") $(grep -o '\[Glimmer\].*' "$second" | paste -sd'|')"
check "--only: the count" "caught 10 messages, 5 shown" "$(tail -1 "$second")"
summary "viewer listening"
