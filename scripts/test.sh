#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: the host
# unit tests and static analysis, the fuzzers for a bounded time, then the
# end-to-end tests of the Windows builds under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=(host fuzz windows-x86 windows-x64)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
for preset in "${presets[@]}"; do
  echo "== tests: $preset"
  ctest --preset "$preset" || status=1
done
exit $status
