#!/usr/bin/env bash
# The trace viewer's system-wide listening, under Wine: a second listener
# refuses while the first keeps every message; lines name the writing process
# by PID and image name, also when ids come round again, with --time and
# --only; a writer that takes the buffer and never writes costs the others a
# second at most; a listener started while writers still hold the channel of
# one that ended waits them out; writers never wait on output that nobody
# reads, and output that went away ends the listening; Ctrl+C (SIGINT, which
# Wine hands to the console handler) ends an open-ended listening with the
# count.
#   viewer-listen.sh PREFIX LOADER
set -uo pipefail
source "$(dirname "$0")/viewer-env.sh"
out="$scratch/out" err="$scratch/err"

listen() {  # listen ARGUMENTS...: a listener in the background, once it listens
  "${wine[@]}" "$viewer" "$@" </dev/null >"$out" 2>"$err" &
  listener=$!
  wait_for listening "$err" || echo "Test failed: the listener did not start: $(cat "$err")"
}
hold_channel() {  # a writer that takes the buffer and holds it for 2 s
  "${wine[@]}" "$debuggee" hold-channel 2000 </dev/null >"$scratch/held" &
  wait_for taken "$scratch/held"
}
messages() { grep -c "^[0-9]* $1: " "$out"; }

listen --time --listen
"${wine[@]}" "$viewer" --listen 5 </dev/null 2>"$scratch/second" >/dev/null
check "a second listener: exit code, its line" \
  "3 LumenkeepTrace: another program already listens to the system-wide debug channel" \
  "$? $(tr -d '\r' <"$scratch/second")"
hold_channel
start=$(date +%s%N)
"${wine[@]}" "$debuggee" burst 300 </dev/null
check "300 messages after a writer took the buffer and never wrote: seconds at most" 5 \
  "$(( $(seconds_since "$start") <= 5 ? 5 : $(seconds_since "$start") ))"
"${wine[@]}" "$debuggee" long-ansi 5000 </dev/null
for image in alpha beta; do cp "$installed/debuggee.exe" "$installed/$image.exe"; done
for _ in 1 2 3 4 5; do
  for image in alpha beta; do "${wine[@]}" "$dir\\$image.exe" whoami </dev/null; done
done
sleep 0.5
kill -INT "$listener"
wait "$listener"
check "Ctrl+C: exit code" 0 "$?"
tr -d '\r' <"$out" >"$scratch/lines" && mv "$scratch/lines" "$out"
check "the first listener kept every message" 300 \
  "$(grep -c '^[0-9]*\.[0-9][0-9][0-9] [0-9][0-9]* debuggee\.exe: \(\[Glimmer\]message\|other\) [0-9]*$' "$out")"
check "a message that fills the channel: its end" \
  "aaa (4091 bytes, where the system-wide channel cuts longer messages)" \
  "$(grep -o 'aaa (.*' "$out")"
check "names follow the writers, whichever id they get" "10 10" \
  "$(grep -c ' \(alpha\|beta\)\.exe: I am \1\.exe$' "$out") $(grep -c 'I am' "$out")"
check "Ctrl+C: the count" "caught 311 messages" "$(tail -1 "$out")"

# The next listener, while a writer still holds the channel of the last.
listen --listen
hold_channel
kill -INT "$listener"
wait "$listener"
listen --listen 3
check "a listener after one that ended: it waited for the writers" 1 \
  "$(grep -c 'waiting up to 11 s for programs that were writing' "$err")"
"${wine[@]}" "$debuggee" burst 10 </dev/null
wait "$listener"
check "... and then caught every message" "caught 10 messages" "$(tail -1 "$out" | tr -d '\r')"

listen --only '[Glimmer]' --listen 3
"${wine[@]}" "$debuggee" burst 10 </dev/null
wait "$listener"
tr -d '\r' <"$out" >"$scratch/lines" && mv "$scratch/lines" "$out"
check "--only: the lines shown" "5 [Glimmer]message 0|[Glimmer]message 2|[Glimmer]message 4|[Glimmer]message 6|[Glimmer]message 8" \
  "$(messages 'debuggee\.exe') $(grep -o '\[Glimmer\].*' "$out" | paste -sd'|')"
check "--only: the count" "caught 10 messages, 5 shown" "$(tail -1 "$out")"

# Output that nobody reads for 5 s: 200 KB of messages do not wait for it.
("${wine[@]}" "$viewer" --listen 12 </dev/null 2>"$err" | (sleep 5; tr -d '\r') >"$out") &
wait_for listening "$err"
start=$(date +%s%N)
"${wine[@]}" "$debuggee" burst 1000 200 </dev/null
check "1000 messages while the output is not read: seconds at most" 8 \
  "$(( $(seconds_since "$start") <= 8 ? 8 : $(seconds_since "$start") ))"
wait
check "... and all of them arrive" "1000 caught 1000 messages" \
  "$(grep -c 'debuggee\.exe: \.*\(\[Glimmer\]message\|other\) [0-9]*$' "$out") $(tail -1 "$out" | tr -d '\r')"

# Output that went away.
("${wine[@]}" "$viewer" --listen 20 </dev/null 2>"$err" | head -1 >"$out"
 echo "${PIPESTATUS[0]}" >"$scratch/code") &
wait_for listening "$err"
"${wine[@]}" "$debuggee" burst 5 </dev/null
wait
check "output gone: exit code, its line" \
  "3 LumenkeepTrace: cannot write the output any more; stopped listening" \
  "$(cat "$scratch/code") $(tail -1 "$err" | tr -d '\r')"
"${wine[@]}" "$viewer" --listen 1 </dev/null >/dev/null 2>&1
check "... and the next listener may listen" 0 "$?"
summary "viewer listening"
