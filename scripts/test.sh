#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: the host
# unit tests and static analysis, the fuzzers for a bounded time, then the
# end-to-end tests of the Windows builds under Wine: the x86-64 build's
# everywhere, the 32-bit build's wherever this machine can run it (elsewhere
# that suite reports itself skipped, with the reason). Afterwards no Wine
# process of the project's prefixes is left.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=(host fuzz windows-x86 windows-x64)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
for preset in host fuzz; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j2 || status=1
done
# The two Windows builds' suites each have a Wine prefix and session of their
# own, so they run side by side; their output follows, one after the other.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
pids=()
for preset in windows-x86 windows-x64; do
  ctest --preset "$preset" >"$logs/$preset" 2>&1 &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for preset in windows-x86 windows-x64; do
  echo "== tests: $preset"
  cat "$logs/$preset"
done
echo "== nothing left running"
tests/e2e/stop-wine.sh "$PWD/build/windows-x86/wineprefix" "$PWD/build/windows-x64/wineprefix" || status=1
exit $status
