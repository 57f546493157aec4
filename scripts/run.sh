#!/usr/bin/env bash
# Runs Lumenkeep's main job for real: builds the Windows executable, prepares
# a Wine prefix with the graphics-driver stand-in, and runs
#   Lumenkeep.exe SWITCH [ARGUMENTS...]
# under the trace viewer, printing its trace, its exit code and the driver's
# ADB setting before and after. Any switch is passed on unchanged. Nothing of
# Wine is left running afterwards.
#   scripts/run.sh -OFF
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh

source scripts/wine-target.sh
source tests/e2e/identity.sh
[ "$preset" = windows-x86 ] ||
  echo "note: $(scripts/wine32-ready.sh); running the x86-64 build of Lumenkeep"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
build="$root/build/$preset"
prefix="$build/wineprefix"
trap 'tests/e2e/stop-wine.sh "$prefix" >/dev/null' EXIT
tests/e2e/prepare.sh "$prefix" "$loader" "$build" >/dev/null
wine=(tests/e2e/wine.sh "$prefix" "$loader")

setting() {
  local values
  values=$("${wine[@]}" reg query "$standin_key" 2>/dev/null | tr -d '\r' || true)
  local dc ac
  dc=$(awk '$1 == "DC" {print $3}' <<<"$values")
  ac=$(awk '$1 == "AC" {print $3}' <<<"$values")
  # The stand-in's setting is 1 for both until something writes it.
  echo "DC=$((${dc:-1})) AC=$((${ac:-1}))"
}

echo "driver ADB setting before: $(setting)"
echo "running: Lumenkeep.exe $*"
# Through a file rather than a pipe, which a process that Wine starts on the
# program's behalf could hold open long after the program ended.
output=$(mktemp)
"${wine[@]}" "$build/LumenkeepTrace.exe" "$install_folder\Lumenkeep.exe" "$@" \
  >"$output" 2>&1 || true
tr -d '\r' <"$output"
rm -f "$output"
echo "driver ADB setting after:  $(setting)"
