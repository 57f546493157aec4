# Sourced by the trace viewer's tests: the checks, the Wine command for the
# prefix and loader given as $1 and $2, and where the viewer and the test
# debuggee are installed in the prefix.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../common/check.sh"
wine=("$here/wine.sh" "$1" "$2")
dir='C:\Program Files\Lumenkeep E2E'
viewer="$dir\\LumenkeepTrace.exe" debuggee="$dir\\debuggee.exe"
