#!/usr/bin/env bash
# The MSI under Wine, used as an administrator uses it: a silent install into
# the 32-bit Program Files folder with an Add/Remove Programs entry of the
# version, the installed program's -INSTALL, a repair, a removal that leaves
# no file and no entry (and the user's Run value alone), an upgrade to the
# next version (built here) that leaves one entry and the newer files, and a
# downgrade that is refused.
#   msi.sh SOURCE_DIR BUILD_DIR PREFIX LOADER VERSION
set -uo pipefail
src=$1 build=$2 prefix=$3 loader=$4 version=$5
source "$(dirname "$0")/../common/check.sh"
wine() {
  "$src/tests/e2e/wine.sh" "$prefix" "$loader" "$@" </dev/null 2>/dev/null | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
msiexec() { wine msiexec "$1" "Z:${2//\//\\}" /qn "${@:3}"; echo $?; }
entries() {  # the DisplayVersion of every Add/Remove Programs entry named Lumenkeep
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '/DisplayName +REG_SZ +Lumenkeep$/ {found = 1} found && /DisplayVersion/ {printf "%s ", $3; found = 0}'
}
run_value() { wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Lumenkeep | sed -n 's/.*REG_SZ *//p'; }
folder="$prefix/drive_c/Program Files (x86)/Lumenkeep"
installed() { (cd "$folder" 2>/dev/null && ls | tr '\n' ' ') || echo "no folder"; }

cmake --build "$build" --target package >/dev/null
msi=$build/Lumenkeep-$version-win32.msi
IFS=. read -r major minor patch <<<"$version"
newer=$major.$minor.$((patch + 1))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/release-files/"*.exe "$work/"
{ cat "$build/README.txt"; printf 'This is %s.\r\n' "$newer"; } >"$work/README.txt"
python3 "$src/packaging/make-msi.py" "$src" "$newer" "$work/newer.msi" "$work/"*.exe "$work/README.txt"
msiexec /x "$work/newer.msi" >/dev/null  # what an interrupted run may have left
msiexec /x "$msi" >/dev/null

check "silent install of $version: exit status" 0 "$(msiexec /i "$msi")"
check "installed files" "Lumenkeep.exe LumenkeepTrace.exe README.txt " "$(installed)"
check "Add/Remove Programs entries" "$version " "$(entries)"
wine 'C:\Program Files (x86)\Lumenkeep\Lumenkeep.exe' -INSTALL
check "Run value of the installed -INSTALL" '"C:\Program Files (x86)\Lumenkeep\Lumenkeep.exe" -FINISH' "$(run_value)"
rm "$folder/README.txt"
# What /fa stands for on Windows; Wine 8's msiexec /fa repairs nothing.
check "repair: exit status" 0 "$(msiexec /i "$msi" REINSTALL=ALL REINSTALLMODE=amus)"
check "files after the repair" "Lumenkeep.exe LumenkeepTrace.exe README.txt " "$(installed)"
check "silent removal: exit status" 0 "$(msiexec /x "$msi")"
check "files after the removal" "no folder" "$(installed)"
check "entries after the removal" "" "$(entries)"
check "Run value after the removal (not the package's)" '"C:\Program Files (x86)\Lumenkeep\Lumenkeep.exe" -FINISH' "$(run_value)"
wine reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Lumenkeep /f >/dev/null

msiexec /i "$msi" >/dev/null
check "upgrade to $newer: exit status" 0 "$(msiexec /i "$work/newer.msi")"
check "entries after the upgrade" "$newer " "$(entries)"
check "README.txt after the upgrade" "This is $newer." "$(tail -1 "$folder/README.txt" | tr -d '\r')"
# 1603 (the installation failed), of which a Linux exit status keeps 8 bits.
check "downgrade to $version: exit status" $((1603 & 255)) "$(msiexec /i "$msi")"
check "entries after the refused downgrade" "$newer " "$(entries)"
msiexec /x "$work/newer.msi" >/dev/null
summary "MSI"
