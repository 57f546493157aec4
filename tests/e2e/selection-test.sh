#!/usr/bin/env bash
# How a machine picks its end-to-end suites, checked on any machine: with
# LUMENKEEP_NO_32BIT=1 the scripts and the configure step act as on a machine
# that cannot execute 32-bit code, so the 32-bit suite must configure as one
# skipped test that gives its reason, and the x86-64 suite as the full one;
# with LUMENKEEP_NO_32BIT=0 as on one that can, so the 32-bit suite must
# configure in full.
#   selection-test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
src=$1 scratch=$2
source "$(dirname "$0")/../common/check.sh"
tests_of() { (cd "$1" && ctest -N -L e2e) | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' '; }

export LUMENKEEP_NO_32BIT=1
rm -rf "$scratch"
mkdir -p "$scratch"

"$src/scripts/runs-32bit-code.sh"
check "runs-32bit-code.sh exit code" 1 $?
source "$src/scripts/wine-target.sh"
check "build that run.sh runs" "windows-x64 /usr/lib/wine/wine64" "$preset $loader"

cmake --preset windows-x86 -S "$src" -B "$scratch/x86" >/dev/null
check "windows-x86 end-to-end tests" "e2e.not-on-this-machine " "$(tests_of "$scratch/x86")"
skip=$(cd "$scratch/x86" && ctest -V -R not-on-this-machine 2>&1)
check "ctest exit code of the skipped suite" 0 $?
check "skipped suite reported" "1 skipped" \
  "$(grep -c 'Not Run (Disabled)\|\*\*\*Skipped' <<<"$skip") skipped"
reason="skipped: LUMENKEEP_NO_32BIT=1 is set: acting as a machine that can't execute 32-bit x86 code"
check "reason printed whole" "$reason" "$(grep -oF "$reason" <<<"$skip")"

cmake --preset windows-x64 -S "$src" -B "$scratch/x64" >/dev/null
x64=$(tests_of "$scratch/x64")
for name in e2e.prepare-prefix e2e.switches e2e.next-logon e2e.stop-wineserver; do
  check "windows-x64 has $name" yes "$(grep -qw -- "$name" <<<"$x64" && echo yes || echo no)"
done

# The other way round: the 32-bit suite as a machine that runs it configures
# it, with the 32-bit Wine loader.
export LUMENKEEP_NO_32BIT=0
cmake --preset windows-x86 -S "$src" -B "$scratch/x86-full" >/dev/null
x86=$(tests_of "$scratch/x86-full")
for name in e2e.prepare-prefix e2e.switches e2e.driver-faults-1 e2e.next-logon \
  e2e.viewer-listen-held-buffer; do
  check "windows-x86 as where it runs has $name" yes \
    "$(grep -qw -- "$name" <<<"$x86" && echo yes || echo no)"
done
# Read whole first: grep -q would stop reading early, and under pipefail the
# writer's broken pipe would count as no.
commands=$(cd "$scratch/x86-full" && ctest -N -V -R e2e.switches)
check "windows-x86 suite's Wine loader" yes \
  "$(grep -q ' "/usr/lib/wine/wine" ' <<<"$commands" && echo yes || echo no)"

rm -rf "$scratch"
summary "suite selection"
