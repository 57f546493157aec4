# Sourced by the test scripts: checks that print what they expected and what
# they got, and a summary that sets the exit code.
failed=0 passed=0

check() {  # check WHAT EXPECTED GOT
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1)); echo "ok: $1 = $3"
  else
    failed=$((failed + 1)); echo "Test failed: $1: expected '$2', got '$3'"
  fi
}

summary() {  # summary NAME: prints the counts; exit status 0 when none failed
  echo "$1: $passed passed, $failed failed"
  [ $failed -eq 0 ]
}
