#!/usr/bin/python3
"""Makes the release zip so that two builds of one commit give the same bytes.

  make-zip.py SOURCE_DIR ZIP FILE...

The FILEs go into the zip's top level under their own names, with SHA256SUMS
(the sums of the .exe and .dll files among them).

Nothing of the build may show in the bytes: the entries are in sorted order,
with fixed attributes, deflated at level 9, and dated with the time of the
commit: $SOURCE_DATE_EPOCH when set (the usual convention of reproducible
builds), else `git log -1 --format=%ct` of SOURCE_DIR. Without either,
1980-01-01, the earliest time a zip holds. The deflated bytes come from the
system's zlib, which, like the compiler, is part of the Debian release the
build runs on.
"""
import hashlib
import os
import subprocess
import sys
import time
import zipfile

EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC


def commit_time(source):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        print("make-zip: no SOURCE_DATE_EPOCH and no git commit: entries dated 1980-01-01")
        return EARLIEST


def entry(name, when):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(when, EARLIEST))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix, so that the mode below means the same on every host
    info.external_attr = 0o100644 << 16  # a plain file, readable by all
    return info


def main():
    source, zip_path, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    when = commit_time(source)
    contents = {}
    for path in files:
        with open(path, "rb") as f:
            contents[os.path.basename(path)] = f.read()
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                   for name, data in sorted(contents.items()) if name.endswith((".exe", ".dll")))
    contents["SHA256SUMS"] = sums.encode()

    with zipfile.ZipFile(zip_path, "w") as archive:
        for name in sorted(contents):
            archive.writestr(entry(name, when), contents[name], compresslevel=9)


if __name__ == "__main__":
    main()
