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
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Runs the suites of the presets given at once, then prints their output one
# after the other. PRESET:N runs N of its tests at a time.
side_by_side() {
  local pids=() each
  for each in "$@"; do
    ctest --preset "${each%%:*}" -j"${each#*:}" >"$logs/${each%%:*}" 2>&1 &
    pids+=($!)
  done
  for each in "${pids[@]}"; do wait "$each" || status=1; done
  for each in "$@"; do
    echo "== tests: ${each%%:*}"
    cat "$logs/${each%%:*}"
  done
}
# The fuzzers run for a fixed time, beside the host tests. The two Windows
# builds' suites each have a Wine prefix and session of their own, so they
# too run side by side, after the others, whose load would slow the timed
# end-to-end checks.
side_by_side host:2 fuzz:2
side_by_side windows-x86:1 windows-x64:1
echo "== nothing left running"
tests/e2e/stop-wine.sh "$PWD/build/windows-x86/wineprefix" "$PWD/build/windows-x64/wineprefix" || status=1
exit $status
