"""The product's facts that the release scripts and checks share.

The description is the one in project() in CMakeLists.txt, from which the
build also makes Lumenkeep.exe's FileDescription; the MSI's upgrade code is
stated here.
"""
import os
import re
import uuid

# The MSI's upgrade code, which never changes: every version is a major
# upgrade of any earlier one.
UPGRADE_CODE = uuid.UUID("8038A079-5AF5-42AB-886F-BCD19D671D45")


def description(source):
    """The product's one-line description, as project() gives it."""
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r'^project\([^)]*\bDESCRIPTION "([^"]*)"', f.read(), re.MULTILINE)
    if not found:
        raise SystemExit("CMakeLists.txt: project() has no DESCRIPTION")
    return found.group(1)

