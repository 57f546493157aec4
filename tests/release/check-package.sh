#!/usr/bin/env bash
# Makes the release and checks its two zips: what a user gets (the two
# executables built, README.txt and SHA256SUMS, and the zip's .sha256) and
# the test bundle (the same executables, the suite, the stand-in, the
# debuggee and a README.txt giving the command CI's Windows job and the
# developer guide give); both with sums that verify, entries dated with the
# commit, a README.txt for Windows; and a changelog entry for the version.
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
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
when=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
for zip in "$user" "$tests"; do
  mkdir "$unpacked/$zip" && (cd "$unpacked/$zip" && cmake -E tar xf "$build/$zip")
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
    "$(date -u -d @$((when - when % 2)) '+%Y-%m-%d %H:%M:%S')" "$(python3 -c "import sys, zipfile
print(' '.join(sorted({'%04d-%02d-%02d %02d:%02d:%02d' % i.date_time for i in zipfile.ZipFile(sys.argv[1]).infolist()})))" "$build/$zip")"

  readme=$unpacked/$zip/README.txt
  check "$zip README.txt lines without CR LF" 0 "$(grep -c $'[^\r]$\|^$' "$readme")"
  check "$zip README.txt Markdown links" "" "$(grep -o '\]([^)]*)' "$readme")"
  check "$zip README.txt names of files outside the zip" "" \
    "$(grep -oE '[A-Za-z0-9_.-]+/[A-Za-z0-9_./-]+\.(md|sh|py|cpp|h)|\b(docs|scripts|tests)/' "$readme")"
done
check "SHA256SUMS lines of the user's zip that the test bundle lacks" "" \
  "$(grep -vxFf "$unpacked/$tests/SHA256SUMS" "$unpacked/$user/SHA256SUMS")"

suite_command() { sed -nE 's/^ *(run: )?(e2e_tests\.exe[^\r]*)\r?$/\2/p' "$1" | head -1; }
ci=$(suite_command "$src/.github/workflows/ci.yml")
check "the suite's command in CI's Windows job" "e2e_tests.exe --all" "$ci"
for file in "$unpacked/$tests/README.txt" "$src/docs/DEVELOPING.md"; do
  check "the suite's command in ${file##*/}, CI's" "$ci" "$(suite_command "$file")"
done

check "CHANGELOG.md entry for $version" "## [$version]" \
  "$(grep -oF "## [$version]" "$src/CHANGELOG.md")"
summary "release package"
