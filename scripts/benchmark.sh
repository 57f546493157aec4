#!/usr/bin/env bash
# Builds, then prints Lumenkeep.exe's footprint and start-up cost:
# - the size of the 32-bit executable and of each of its sections;
# - its import list;
# - whether the program's own code can allocate from the heap;
# - the median wall time of 10 "Lumenkeep.exe -OFF" runs under Wine against
#   the driver stand-in (one warm wineserver), next to the median of 10 runs
#   of a floor executable built with the same flags that does only the
#   unavoidable work (split the command line, enter and leave the apartment,
#   create and release the driver object), and of a do-nothing executable;
# - a listener (LumenkeepTrace --listen) beside 2,000 short-lived programs
#   that each write one message and end, and one steady writer: messages
#   written and caught, the listener's handle count and private bytes at its
#   start and end, and the slowest single write.
#   scripts/benchmark.sh           all of it
#   scripts/benchmark.sh listener  only the listener's figure
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
what=${1:-all}
scripts/install-deps.sh
source scripts/wine-target.sh
source tests/e2e/identity.sh
presets=(windows-x86 $preset)
[ "$what" = listener ] && presets=($preset)
for p in "${presets[@]}"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" >/dev/null
done

footprint() {

exe=build/windows-x86/Lumenkeep.exe
echo "== Lumenkeep.exe (32-bit): $(stat -c %s "$exe") bytes"
i686-w64-mingw32-objdump -h "$exe" | awk '/^ +[0-9]+ / {print $2, $3}' |
  while read -r name size; do printf '  %-9s %6d bytes\n' "$name" "$((16#$size))"; done
echo "== imports"
i686-w64-mingw32-objdump -p "$exe" | awk -F'\t' '
  /DLL Name:/ {split($2, w, " "); dll = w[3]; list = ""; next}
  dll != "" && NF == 3 {split($3, w, " "); list = list " " w[2]; next}
  dll != "" && list != "" {print "  " dll ":" list; dll = ""}'

echo "== heap allocation in the program's own code"
objects=$(find build/windows-x86/CMakeFiles/Lumenkeep.dir -name '*.obj' ! -path '*platform*')
found=$(i686-w64-mingw32-nm -u $objects |
  grep -E ' _?(malloc|calloc|realloc|_Znwj|_Znaj|HeapAlloc|LocalAlloc|GlobalAlloc)(@[0-9]+)?$' || true)
echo "  ${found:-none: no reference to malloc, operator new or a Windows heap call}"
}
[ "$what" = listener ] || footprint

build="$root/build/$preset"
prefix="$build/wineprefix"
trap 'tests/e2e/stop-wine.sh "$prefix" >/dev/null' EXIT
tests/e2e/prepare.sh "$prefix" "$loader" "$build" >/dev/null
install=$(installed_in "$prefix")
cp "$build/bench/bench_floor.exe" "$build/bench/bench_do_nothing.exe" "$install/"
wine=(tests/e2e/wine.sh "$prefix" "$loader")
"${wine[@]}" reg delete "$standin_key" /v Journal /f >/dev/null 2>&1 || true
"${wine[@]}" reg delete "$standin_key" /v Faults /f >/dev/null 2>&1 || true
"${wine[@]}" reg add "$standin_key" /v Locked /t REG_DWORD /d 0 /f >/dev/null
"${wine[@]}" reg add "$standin_key" /v Creation /t REG_DWORD /d 0 /f >/dev/null

start_up() {
ms() {  # wall time of one run, in milliseconds
  local start end
  start=$(date +%s%N)
  "${wine[@]}" "$install_folder\\$1" -OFF
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
median() { tr ' ' '\n' | sort -n | awk '{a[NR] = $1} END {print (a[5] + a[6]) / 2}'; }

for exe in Lumenkeep.exe bench_floor.exe bench_do_nothing.exe; do ms "$exe" >/dev/null; done  # warm up
lk="" fl="" dn=""
for _ in $(seq 10); do  # interleaved, so that drift hits all three alike
  lk+="$(ms Lumenkeep.exe) "
  fl+="$(ms bench_floor.exe) "
  dn+="$(ms bench_do_nothing.exe) "
done
lk_m=$(median <<<"$lk") fl_m=$(median <<<"$fl") dn_m=$(median <<<"$dn")
echo "== start-up under Wine ($preset build, median of 10 runs, ms)"
echo "  Lumenkeep.exe -OFF: $lk_m   ($lk)"
echo "  floor:              $fl_m   ($fl)"
echo "  do-nothing:         $dn_m   ($dn)"
awk -v a="$lk_m" -v b="$fl_m" -v c="$dn_m" \
  'BEGIN {printf "  ratio to the floor: %.2f; to the do-nothing executable: %.2f\n", a / b, a / c}'
}
[ "$what" = listener ] || start_up

listener() {
  local dir=$install_folder out
  out=$(mktemp -d)
  "${wine[@]}" "$dir\LumenkeepTrace.exe" --listen </dev/null >"$out/lines" 2>"$out/said" &
  local listening=$!
  for _ in $(seq 150); do grep -q listening "$out/said" && break; sleep 0.1; done
  local before after
  before=$("${wine[@]}" "$dir\debuggee.exe" probe LumenkeepTrace.exe)
  "${wine[@]}" "$dir\debuggee.exe" writers 2000 20 </dev/null | tr -d '\r' >"$out/wrote"
  sleep 3  # the listener lets go of the writers that ended within a few seconds
  after=$("${wine[@]}" "$dir\debuggee.exe" probe LumenkeepTrace.exe)
  kill -INT "$listening"
  wait "$listening" || true
  local written
  written=$(awk '/short-lived/ {n += $1} /^steady/ {n += $3} END {print n}' "$out/wrote")
  echo "== a listener beside 2,000 short-lived writers and one steady writer ($preset build)"
  sed 's/^/  /' "$out/wrote"
  echo "  messages written: $written; the listener's count: $(tail -1 "$out/lines" | tr -d '\r')"
  echo "  the listener at its start: $(tr -d '\r' <<<"$before")"
  echo "  the listener at its end:   $(tr -d '\r' <<<"$after")"
  rm -rf "$out"
}
listener
