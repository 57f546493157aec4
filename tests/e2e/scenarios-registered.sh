#!/usr/bin/env bash
# Checks that the scenarios the end-to-end runner knows and the ones
# registered as tests are the same names, and says where a missing one goes.
#   scenarios-registered.sh PREFIX LOADER E2E_TESTS_EXE SCENARIOS_FILE
set -uo pipefail
here=$(dirname "$0")
source "$here/../common/check.sh"
known=$("$here/wine.sh" "$1" "$2" "$3" --list | tr -d '\r' | LC_ALL=C sort) ||
  { echo "Test failed: $3 --list did not run"; exit 1; }
registered=$(LC_ALL=C sort "$4")
check "scenarios of Scenarios() in tests/e2e/e2e_tests.cpp that are not registered (add each to SCENARIOS in tests/e2e/CMakeLists.txt)" \
  "" "$(LC_ALL=C comm -23 <(echo "$known") <(echo "$registered") | xargs)"
check "names in SCENARIOS in tests/e2e/CMakeLists.txt that the runner does not know (add a row to Scenarios() in tests/e2e/e2e_tests.cpp, or remove the name)" \
  "" "$(LC_ALL=C comm -13 <(echo "$known") <(echo "$registered") | xargs)"
summary "scenario registration"
