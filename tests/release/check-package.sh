#!/usr/bin/env bash
# Makes the release zip and checks what a user gets: the two executables (the
# ones built), README.txt and SHA256SUMS at the zip's top level, sums that
# verify, entries dated with the commit, a README.txt for Windows (CR LF line
# ends, no link to a file outside the zip), the zip's .sha256 beside it, and a
# changelog entry for the version.
#   check-package.sh SOURCE_DIR BUILD_DIR VERSION
set -uo pipefail
src=$1 build=$2 version=$3
source "$(dirname "$0")/../common/check.sh"
name=Lumenkeep-$version-win32.zip zip=$build/Lumenkeep-$version-win32.zip

rm -f "$zip" "$zip.sha256"
cmake --build "$build" --target package >/dev/null
check "package made ($name)" yes "$([ -f "$zip" ] && echo yes || echo no)"
check "sha256sum -c $name.sha256" "$name: OK" "$(cd "$build" && sha256sum -c "$name.sha256" 2>&1)"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
check "files in the zip" "Lumenkeep.exe LumenkeepTrace.exe README.txt SHA256SUMS " \
  "$(cd "$unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')"
check "sha256sum -c SHA256SUMS" "Lumenkeep.exe: OK LumenkeepTrace.exe: OK " \
  "$(cd "$unpacked" && sha256sum -c SHA256SUMS 2>&1 | LC_ALL=C sort | tr '\n' ' ')"
for file in Lumenkeep.exe LumenkeepTrace.exe README.txt; do
  check "$file in the zip is the one built" same \
    "$(cmp -s "$unpacked/$file" "$build/$file" && echo same || echo different)"
done
when=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
check "entries' times (the commit's, UTC, to the even second)" \
  "$(python3 -c "import time; t = time.gmtime($when - $when % 2); print(' '.join([time.strftime('%Y-%m-%d %H:%M:%S', t)] * 4))")" \
  "$(python3 -c "import sys, zipfile
print(' '.join('%04d-%02d-%02d %02d:%02d:%02d' % i.date_time for i in zipfile.ZipFile(sys.argv[1]).infolist()))" "$zip")"

readme=$unpacked/README.txt
check "README.txt lines without CR LF" 0 "$(grep -c $'[^\r]$\|^$' "$readme")"
check "README.txt Markdown links" "" "$(grep -o '\]([^)]*)' "$readme")"
check "README.txt names of files outside the zip" "" \
  "$(grep -oE '[A-Za-z0-9_.-]+/[A-Za-z0-9_./-]+\.(md|sh|py|cpp|h)|\b(docs|scripts|tests)/' "$readme")"

check "CHANGELOG.md entry for $version" "## [$version]" \
  "$(grep -oF "## [$version]" "$src/CHANGELOG.md")"
summary "release package"
