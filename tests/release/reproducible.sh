#!/usr/bin/env bash
# Builds the shipped executables and the release files again from a copy of
# the source in a folder of another name and length, at another time, and
# checks that the executables, the zip, the MSI and the test bundle are the
# bytes of the build under test: nothing of the time or the place of a build
# may end up in them. The release files are dated with the commit, as
# SOURCE_DATE_EPOCH gives it to the packaging alone: the linker would stamp it
# in.
#   reproducible.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR ZIP_NAME
set -uo pipefail
src=$1 build=$2 scratch=$3 zip=$4
source "$(dirname "$0")/../common/check.sh"
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
sha() { sha256sum <"$1" | cut -d' ' -f1; }
rm -rf "$scratch"
copy=another-clone-with-a-longer-name
mkdir -p "$scratch/$copy"
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
   tar --null -T - -cf -) | tar -xf - -C "$scratch/$copy"
# At a low priority: the test command runs it beside the timed end-to-end
# checks of the other build.
(cd "$scratch/$copy" && cmake --preset windows-x86 >/dev/null &&
   env -u SOURCE_DATE_EPOCH nice -n 19 cmake --build --preset windows-x86 -j2 \
     --target Lumenkeep LumenkeepTrace e2e_tests driver-standin debuggee >/dev/null &&
   cmake --build --preset windows-x86 --target package >/dev/null) ||
  { echo "Test failed: cannot build in $scratch/$copy"; exit 1; }
# The build under test's own release files, made with the same date.
cmake --build "$build" --target package >/dev/null ||
  { echo "Test failed: cannot make the release files in $build"; exit 1; }
for file in Lumenkeep.exe LumenkeepTrace.exe "$zip" "${zip%.zip}.msi" "${zip%.zip}-tests.zip"; do
  check "sha256 of $file built in $copy" "$(sha "$build/$file")" \
    "$(sha "$scratch/$copy/build/windows-x86/$file")"
done
# Stamped with the commit's time to the second, however slowly the packaging
# ran: a clock that runs on from that time would make two builds differ.
created=$(TZ=UTC msiinfo suminfo "$build/${zip%.zip}.msi" | sed -n 's/^Created: //p')
check "creation time of ${zip%.zip}.msi, seconds since 1970" "$SOURCE_DATE_EPOCH" \
  "$(TZ=UTC date -d "$created" +%s 2>&1)"
rm -rf "$scratch"
summary "reproducible build"
