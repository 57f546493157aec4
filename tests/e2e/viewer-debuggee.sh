#!/usr/bin/env bash
# The trace viewer with a program it starts, under Wine, against the test
# debuggee: messages that try to forge lines, a DebugBreak(), a quoted
# program name, long messages, --time, --only, the program's exit code, the
# programs it starts and a batch file's, Ctrl+C that leaves the program to
# finish, text in a console, help.
#   viewer-debuggee.sh PREFIX LOADER
set -uo pipefail
source "$(dirname "$0")/viewer-env.sh"
out="$scratch/out"

view() {  # view ARGUMENTS...: runs the viewer; output in $out, exit code in $code
  "${wine[@]}" "$viewer" "$@" </dev/null 2>&1 | tr -d '\r' >"$out"
  code=${PIPESTATUS[0]}
}

view "$debuggee" forge
check "forged lines" "[Glimmer]one\\nexit code: 0\\n1234: [Glimmer]forged|exit code: 0" \
  "$(paste -sd'|' "$out")"

view "$debuggee" break
check "DebugBreak() ends the program" \
  "[Glimmer]before the break|unhandled exception 0x80000003|exit code: -2147483645" \
  "$(paste -sd'|' "$out")"

view "$debuggee" exit 7
check "the program's exit code is the viewer's" 7 "$code"
# Windows finds "C:\...\LumenkeepTrace".exe, and so must the viewer.
"${wine[@]}" "$debuggee" spawn "\"$dir\\LumenkeepTrace\".exe \"$debuggee\" exit 5" </dev/null |
  tr -d '\r' >"$out"
check "quoted program name: exit code" 5 "${PIPESTATUS[0]}"
check "quoted program name: output" "[Glimmer]exiting|exit code: 5" "$(paste -sd'|' "$out")"

for n in 65535 70000; do
  view "$debuggee" long-ansi "$n"
  check "8-bit message of $n characters: line length" "$n" "$(head -1 "$out" | awk '{print length($0)}')"
done
view "$debuggee" long-wide 70000
first=$(head -1 "$out")
shown=${first%%[^w]*}
if [ ${#shown} -eq 70000 ]; then
  check "UTF-16 message of 70000 characters shown whole" "$(printf 'w%.0s' {1..3})" "${first:0:3}"
else
  check "UTF-16 message of 70000 characters: marked as cut" \
    " (32766 characters, where the system cuts longer UTF-16 messages)" "${first:${#shown}}"
fi

view --time --only '[Glimmer]' "$debuggee" burst 6
check "--time --only lines" "3 [Glimmer]message 0 [Glimmer]message 2 [Glimmer]message 4" \
  "$(grep -c '^[0-9][0-9]*\.[0-9][0-9][0-9] \[Glimmer\]message [024]$' "$out") $(grep -o '\[Glimmer\].*' "$out" | paste -sd' ')"
check "--only keeps the exit code line" "exit code: 0" "$(tail -1 "$out")"

# Programs the debuggee starts, named as in listen mode; the exit code stays
# the first program's.
printf '@"%%~dp0debuggee.exe" burst 2\r\n@exit /b 6\r\n' >"$installed/children.bat"
view "$dir\\children.bat"
check "a batch file's program: lines, exit code" \
  "debuggee.exe: [Glimmer]message 0|debuggee.exe: other 1|exit code: 6 6" \
  "$(sed 's/^[0-9][0-9]* //' "$out" | paste -sd'|') $code"
view "$debuggee" spawn "\"$dir\\debuggee.exe\" exit 4"
check "a child's message carries its process" "1 exit code: 4" \
  "$(grep -c '^[0-9][0-9]* debuggee\.exe: \[Glimmer\]exiting$' "$out") $(tail -1 "$out")"

# Ctrl+C (SIGINT, which Wine hands to the console handler) while the program
# runs: the viewer stops watching and the program runs on to its end.
rm -f "$prefix/drive_c/lingered"
"${wine[@]}" "$viewer" "$debuggee" linger 2000 'C:\lingered' </dev/null >"$out" 2>&1 &
wait_for '[Glimmer]lingering' "$out"
kill -INT $!
wait $!
check "Ctrl+C: exit code (0xC000013A, of which Linux keeps 8 bits), its line" \
  "58 LumenkeepTrace: stopped watching; the program runs on to its own end" \
  "$? $(tail -1 "$out" | tr -d '\r')"
sleep 3
check "... and the program finished" yes "$([ -f "$prefix/drive_c/lingered" ] && echo yes || echo no)"

# In a console (a terminal, which Wine's console takes as one), text is
# written as UTF-16, which the console shows as it is.
LANG=C.UTF-8 script -qec "$(printf '%q ' "${wine[@]}" "$viewer" "$debuggee" wide 'café naïve')" \
  /dev/null </dev/null >"$out"
check "a console shows the text as written" 1 "$(grep -c 'café naïve' "$out")"

for help in --help -h '/?'; do
  view "$help"
  check "$help: exit code and first line" "0 usage: LumenkeepTrace [--time] [--only TEXT] PROGRAM [ARGUMENTS...]" \
    "$code $(head -1 "$out")"
done
summary "viewer with a program"
