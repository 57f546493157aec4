#!/usr/bin/env bash
# Installs what building and testing Lumenkeep needs on Debian 12, skipping
# what is already there: the mingw-w64 cross compilers, CMake, GoogleTest,
# clang with libFuzzer, clang-tidy, clang-format, cppcheck, icoutils (to read
# the executable's icons) and Wine. The 32-bit Wine loader
# is installed only where this machine can execute 32-bit code.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(cmake make g++ libgtest-dev libgmock-dev
          clang libclang-rt-14-dev clang-tidy clang-format cppcheck
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 icoutils wine wine64)
need_i386=0
if "$here/runs-32bit-code.sh"; then
  packages+=(wine32:i386)
  need_i386=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ $need_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
