#!/usr/bin/env bash
# Builds the shipped executables and the release zip from two copies of the
# source in folders of different names and lengths, at different times, and
# checks that the executables are the bytes of the build under test and that
# the two zips, MSIs and test bundles are the same bytes: nothing of the time or
# the place of a build may end up in them. The zips are dated with the commit, as
# SOURCE_DATE_EPOCH gives it to the packaging alone: the linker would stamp it in.
#   reproducible.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR ZIP_NAME
set -uo pipefail
src=$1 build=$2 scratch=$3 zip=$4
source "$(dirname "$0")/../common/check.sh"
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
sha() { sha256sum <"$1" | cut -d' ' -f1; }
rm -rf "$scratch"
for copy in one another-clone-with-a-longer-name; do
  mkdir -p "$scratch/$copy"
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - -cf -) | tar -xf - -C "$scratch/$copy"
  (cd "$scratch/$copy" && cmake --preset windows-x86 >/dev/null &&
     env -u SOURCE_DATE_EPOCH cmake --build --preset windows-x86 >/dev/null &&
     cmake --build --preset windows-x86 --target package >/dev/null) ||
    { echo "Test failed: cannot build in $scratch/$copy"; exit 1; }
  for exe in Lumenkeep.exe LumenkeepTrace.exe; do
    check "sha256 of $exe built in $copy" "$(sha "$build/$exe")" \
      "$(sha "$scratch/$copy/build/windows-x86/$exe")"
  done
done
for file in "$zip" "${zip%.zip}.msi" "${zip%.zip}-tests.zip"; do
  check "sha256 of $file built in another-clone-with-a-longer-name" \
    "$(sha "$scratch/one/build/windows-x86/$file")" \
    "$(sha "$scratch/another-clone-with-a-longer-name/build/windows-x86/$file")"
done
rm -rf "$scratch"
summary "reproducible build"
