#!/usr/bin/python3
"""Checks that the README writes out the product's facts as they are.

  readme_facts.py SOURCE_DIR FILE_DESCRIPTION

A user reads them there: the MSI's upgrade code for administrators'
detection rules (packaging/product.py's) and the name Task Manager shows for
the Run value, Lumenkeep.exe's FileDescription (made from project()'s
description).
"""
import os
import sys

sys.path.insert(0, os.path.join(sys.argv[1], "packaging"))
import product  # noqa: E402


def main():
    source, file_description = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        readme = " ".join(f.read().split())
    facts = {"the MSI's upgrade code": "{" + str(product.UPGRADE_CODE).upper() + "}",
             "Lumenkeep.exe's FileDescription": f'"{file_description}"'}
    failed = 0
    for what, text in facts.items():
        if text in readme:
            print(f"ok: README.md writes {what}, {text}")
        else:
            failed += 1
            print(f"Test failed: README.md should write {what}, {text}, and does not")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
