#!/usr/bin/env bash
# Builds the shipped executables from two copies of the source in folders of
# different names and lengths, and checks that both give the same bytes as
# the build under test: nothing of the time or the place of a build may end
# up in them.
#   reproducible.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR
set -uo pipefail
src=$1 build=$2 scratch=$3
source "$(dirname "$0")/../common/check.sh"
rm -rf "$scratch"
for copy in one another-clone-with-a-longer-name; do
  mkdir -p "$scratch/$copy"
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - -cf -) | tar -xf - -C "$scratch/$copy"
  (cd "$scratch/$copy" && cmake --preset windows-x86 >/dev/null &&
     cmake --build --preset windows-x86 --target Lumenkeep LumenkeepTrace >/dev/null) ||
    { echo "Test failed: cannot build in $scratch/$copy"; exit 1; }
  for exe in Lumenkeep.exe LumenkeepTrace.exe; do
    check "sha256 of $exe built in $copy" "$(sha256sum <"$build/$exe" | cut -d' ' -f1)" \
      "$(sha256sum <"$scratch/$copy/build/windows-x86/$exe" | cut -d' ' -f1)"
  done
done
rm -rf "$scratch"
summary "reproducible build"
