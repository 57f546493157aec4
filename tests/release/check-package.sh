#!/usr/bin/env bash
# Makes the release and checks the two zips it writes. The zip a user gets:
# the two executables (the ones built), README.txt and SHA256SUMS at its top
# level, a README.txt for Windows (CR LF line ends, no link to a file outside
# the zip), its .sha256 beside it, and a changelog entry for the version. The
# test bundle: the same executables, the end-to-end suite, the driver
# stand-in, the viewer's debuggee and a README.txt at its top level, no
# .sha256 of its own, and the same command for running it as the developer
# guide and CI's Windows job give. Both: sums that verify, entries dated with
# the commit.
#   check-package.sh SOURCE_DIR BUILD_DIR VERSION SYSTEM
set -uo pipefail
src=$1 build=$2 version=$3 system=$4
source "$(dirname "$0")/../common/check.sh"
name=Lumenkeep-$version-$system
user=$name.zip tests=$name-tests.zip
declare -A contents=(
  [$user]="Lumenkeep.exe LumenkeepTrace.exe README.txt SHA256SUMS "
  [$tests]="Lumenkeep.exe LumenkeepTrace.exe README.txt SHA256SUMS debuggee.exe driver-standin.dll e2e_tests.exe ")

rm -f "$build/$user" "$build/$user.sha256" "$build/$tests"
cmake --build "$build" --target package >/dev/null
check "sha256sum -c $user.sha256" "$user: OK" "$(cd "$build" && sha256sum -c "$user.sha256" 2>&1)"
check "checksum files of the test bundle" "" "$(cd "$build" && ls "$tests".* 2>/dev/null)"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
when=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
for zip in "$user" "$tests"; do
  mkdir "$unpacked/$zip"
  (cd "$unpacked/$zip" && cmake -E tar xf "$build/$zip")
  check "files in $zip" "${contents[$zip]}" \
    "$(cd "$unpacked/$zip" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')"
  check "sha256sum -c SHA256SUMS in $zip: lines not OK" "" \
    "$(cd "$unpacked/$zip" && sha256sum -c SHA256SUMS 2>&1 | grep -v ': OK$')"
  for file in ${contents[$zip]}; do
    [ "$file" = SHA256SUMS ] || [ "$zip/$file" = "$tests/README.txt" ] ||
      check "$file in $zip is the one built" same \
        "$(cmp -s "$unpacked/$zip/$file" "$build/$file" && echo same || echo different)"
  done
  check "$zip entries' times (the commit's, UTC, to the even second)" \
    "$(python3 -c "import time; print(time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime($when - $when % 2)))")" \
    "$(python3 -c "import sys, zipfile
print(' '.join(sorted({'%04d-%02d-%02d %02d:%02d:%02d' % i.date_time for i in zipfile.ZipFile(sys.argv[1]).infolist()})))" "$build/$zip")"

  readme=$unpacked/$zip/README.txt
  check "$zip README.txt lines without CR LF" 0 "$(grep -c $'[^\r]$\|^$' "$readme")"
  check "$zip README.txt Markdown links" "" "$(grep -o '\]([^)]*)' "$readme")"
  check "$zip README.txt names of files outside the zip" "" \
    "$(grep -oE '[A-Za-z0-9_.-]+/[A-Za-z0-9_./-]+\.(md|sh|py|cpp|h)|\b(docs|scripts|tests)/' "$readme")"
done
check "SHA256SUMS lines of the user's zip that the test bundle lacks" "" \
  "$(grep -vxFf "$unpacked/$tests/SHA256SUMS" "$unpacked/$user/SHA256SUMS")"

# The one command, the first given alone on its line, for a person and for CI.
suite_command() { sed -nE 's/^ *(run: )?(e2e_tests\.exe[^\r]*)\r?$/\2/p' "$1" | head -1; }
ci=$(suite_command "$src/.github/workflows/ci.yml")
check "the suite's command in CI's Windows job" "e2e_tests.exe --all" "$ci"
for file in "$unpacked/$tests/README.txt" "$src/docs/DEVELOPING.md"; do
  shown=${file#"$unpacked/"}
  check "the suite's command in ${shown#"$src/"}, CI's" "$ci" "$(suite_command "$file")"
done

check "CHANGELOG.md entry for $version" "## [$version]" \
  "$(grep -oF "## [$version]" "$src/CHANGELOG.md")"
summary "release package"
