# Sourced by the trace viewer's tests: the checks, the Wine command for the
# prefix and loader given as $1 and $2, where the viewer and the test
# debuggee are installed in the prefix, and helpers to run them.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../common/check.sh"
prefix=$1
wine=("$here/wine.sh" "$1" "$2")
dir='C:\Program Files\Lumenkeep E2E'
installed="$prefix/drive_c/Program Files/Lumenkeep E2E"
viewer="$dir\\LumenkeepTrace.exe" debuggee="$dir\\debuggee.exe"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; kill $(jobs -p) 2>/dev/null' EXIT

wait_for() {  # wait_for TEXT FILE: up to 15 s until FILE holds TEXT
  for _ in $(seq 150); do grep -qF "$1" "$2" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

seconds_since() {  # seconds_since START: whole seconds, rounded up, since date +%s%N
  echo $(( ($(date +%s%N) - $1 + 999999999) / 1000000000 ))
}
