#!/usr/bin/env bash
# Makes the release zip and checks what a user gets: the two executables (the
# ones built), the README and SHA256SUMS, whose sums verify.
#   check-package.sh BUILD_DIR ZIP
set -uo pipefail
build=$1 zip=$2
source "$(dirname "$0")/../common/check.sh"

rm -f "$zip"
cmake --build "$build" --target package >/dev/null
check "package made ($(basename "$zip"))" yes "$([ -f "$zip" ] && echo yes || echo no)"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
top=$(basename "$zip" .zip)
check "files in the zip" "$top/Lumenkeep.exe $top/LumenkeepTrace.exe $top/README.txt $top/SHA256SUMS " \
  "$(cd "$unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')"
check "SHA256SUMS lines" "2" "$(wc -l <"$unpacked/$top/SHA256SUMS")"
check "sha256sum -c SHA256SUMS" "Lumenkeep.exe: OK LumenkeepTrace.exe: OK " \
  "$(cd "$unpacked/$top" && sha256sum -c SHA256SUMS 2>&1 | LC_ALL=C sort | tr '\n' ' ')"
for exe in Lumenkeep.exe LumenkeepTrace.exe; do
  check "$exe in the zip is the one built" same \
    "$(cmp -s "$unpacked/$top/$exe" "$build/$exe" && echo same || echo different)"
done
summary "release package"
