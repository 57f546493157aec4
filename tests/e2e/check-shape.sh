#!/usr/bin/env bash
# Checks the shape of the built Lumenkeep.exe: PE32 for x86, windowed
# subsystem, only system DLLs imported, the manifest asking for asInvoker
# and no UI access and nothing else, icon groups 107 and 108 with the same
# eight images. Prints every value it checks.
#   check-shape.sh EXE
set -uo pipefail
exe=$1
failed=0 passed=0
check() {  # check WHAT EXPECTED GOT
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1)); echo "ok: $1 = $3"
  else
    failed=$((failed + 1)); echo "Test failed: $1: expected '$2', got '$3'"
  fi
}

headers=$(i686-w64-mingw32-objdump -p "$exe")
check "file format" "pei-i386" "$(i686-w64-mingw32-objdump -f "$exe" | sed -n 's/.*file format //p')"
check "optional header magic" "010b" "$(awk '/^Magic/ {print $2}' <<<"$headers")"
check "subsystem" "00000002" "$(awk '/^Subsystem/ {print $2}' <<<"$headers")"

allowed="ADVAPI32.dll KERNEL32.dll SHELL32.dll USER32.dll msvcrt.dll ole32.dll"
imports=$(awk '/DLL Name:/ {print $3}' <<<"$headers" | sort -f | tr '\n' ' ')
unexpected=""
for dll in $imports; do
  grep -qiw -- "$dll" <<<"$allowed" || unexpected+="$dll "
done
check "imports outside the system DLLs ($imports)" "" "$unexpected"

manifest=$(wrestool -x --raw -t24 -n1 "$exe" | tr -s ' \r\n\t' ' ')
check "manifest execution level" 'level="asInvoker" uiAccess="false"' \
  "$(grep -o 'level="[^"]*" uiAccess="[^"]*"' <<<"$manifest")"
elements=$(grep -o '<[a-zA-Z][a-zA-Z]*' <<<"$manifest" | tr -d '<' | tr '\n' ' ')
check "manifest elements" "assembly trustInfo security requestedPrivileges requestedExecutionLevel " "$elements"

images="32x32x4 16x16x4 48x48x8 32x32x8 16x16x8 48x48x32 32x32x32 16x16x32 "
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for group in 107 108; do
  wrestool -x -t14 -n$group "$exe" >"$tmp/$group.ico" 2>/dev/null
  got=$(icotool -l "$tmp/$group.ico" 2>/dev/null |
        sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1x\2x\3/p' | tr '\n' ' ')
  check "icon group $group images" "$images" "$got"
done
check "icon groups 107 and 108 hold the same images" "same" \
  "$(cmp -s "$tmp/107.ico" "$tmp/108.ico" && echo same || echo different)"

echo "executable shape: $passed passed, $failed failed"
[ $failed -eq 0 ]
