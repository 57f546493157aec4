# Sourced by the scripts that run the program by hand, and by prepare.sh,
# which installs it for them: the folder it is installed in, in the Wine
# prefix, and the driver stand-in's registry key, read from the header the
# stand-in and the suite are built with.
identity_header="$(cd "$(dirname "${BASH_SOURCE[0]}")/../common" && pwd)/standin_identity.h"
# NAME's value in that header: its string literals joined, C's escapes undone.
identity() {
  printf '#include "%s"\n%s\n' "$identity_header" "$1" | cpp -P | grep -v '^$' | tail -n 1 |
    sed -e 's/" *"//g' -e 's/^"//' -e 's/"$//' -e 's/\\\\/\\/g'
}
install_folder='C:\Program Files\Lumenkeep E2E'
# The same folder seen from Linux, in the prefix PREFIX.
installed_in() { echo "$1/drive_c/$(tr '\\' / <<<"${install_folder#C:\\}")"; }
standin_key="HKCU\\$(identity STANDIN_STATE_KEY)"
