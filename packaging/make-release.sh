#!/usr/bin/env bash
# The release, in the order each step needs the one before:
#   1. the executables, copied to BUILD_DIR/release-files and signed there
#      when a certificate is given (sign-release.sh), so the build's
#      own executables stay the unsigned reproducible ones;
#   2. the zip of those executables, README.txt and SHA256SUMS (make-zip.py);
#   3. for the 32-bit build, the MSI of the same files (make-msi.py), signed
#      last;
#   then beside the zip and the MSI their .sha256, in the form `sha256sum -c`
#   reads ("HASH  NAME");
#   4. the test bundle, NAME-tests.zip: the executables of step 1, the
#      TEST_FILEs (the end-to-end suite, the driver stand-in, the viewer's
#      debuggee) and test-bundle.txt as README.txt, for running the suite on
#      Windows itself. It is for developers and CI: no checksum file, MSI or
#      manifest names it;
#   5. for the 32-bit build, when LUMENKEEP_RELEASE_URL names where the files
#      will be published, the winget and Scoop manifests for the zip, in
#      BUILD_DIR/manifests (LUMENKEEP_HOMEPAGE, when set, is the project's
#      page in them).
# All files are dated with the commit, as make-zip.py finds it.
#   make-release.sh SOURCE_DIR BUILD_DIR VERSION SYSTEM EXECUTABLE... -- TEST_FILE...
set -euo pipefail
src=$1 build=$2 version=$3 system=$4
shift 4
shipped=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do shipped+=("$1"); shift; done
[ $# -gt 0 ] && shift
name=Lumenkeep-$version-$system
files=$build/release-files

rm -rf "$files"
mkdir -p "$files"
cp "${shipped[@]}" "$files/"
executables=()
for exe in "${shipped[@]}"; do executables+=("$files/$(basename "$exe")"); done
"$src/packaging/sign-release.sh" "${executables[@]}"
python3 "$src/packaging/make-zip.py" "$src" "$build/$name.zip" "${executables[@]}" "$build/README.txt"

if [ "$system" = win32 ]; then
  python3 "$src/packaging/make-msi.py" "$src" "$version" "$build/$name.msi" \
    "${executables[@]}" "$build/README.txt"
  "$src/packaging/sign-release.sh" "$build/$name.msi"
fi
for published in "$name.zip" "$name.msi"; do
  if [ -f "$build/$published" ]; then (cd "$build" && sha256sum "$published" >"$published.sha256"); fi
done

mkdir -p "$build/test-bundle"
sed 's/$/\r/' "$src/packaging/test-bundle.txt" >"$build/test-bundle/README.txt"
python3 "$src/packaging/make-zip.py" "$src" "$build/$name-tests.zip" "${executables[@]}" "$@" \
  "$build/test-bundle/README.txt"

rm -rf "$build/manifests"
if [ "$system" != win32 ]; then
  exit 0
elif [ -n "${LUMENKEEP_RELEASE_URL:-}" ]; then
  python3 "$src/packaging/render-manifests.py" "$src" "$build/manifests" "$version" \
    "$build/$name.zip" "$LUMENKEEP_RELEASE_URL" ${LUMENKEEP_HOMEPAGE:+"$LUMENKEEP_HOMEPAGE"}
else
  echo "no manifests: LUMENKEEP_RELEASE_URL (where the release files will be published) is not set"
fi
