#!/usr/bin/python3
"""Makes Lumenkeep's Windows Installer package from packaging/lumenkeep.wxs.

  make-msi.py SOURCE_DIR VERSION MSI FILE...

The FILEs (Lumenkeep.exe, LumenkeepTrace.exe, README.txt) are installed
under their own names. Two builds of one commit give the same bytes:

- the product code is derived from the version and the package code from
  the version and the bytes that go in, where wixl would draw both at random
  (it ignores the package code of the source, so it is set afterwards with
  msibuild);
- the summary's creation and save times, which wixl takes from the clock,
  and the files' times in the embedded cabinet, which it takes from the
  files, are the commit's time, found as make-zip.py finds the zip's. wixl
  runs under faketime for the clock.
"""
import hashlib
import importlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

# The upgrade code of packaging/lumenkeep.wxs, which never changes; the codes
# derived here are name-based UUIDs in its namespace.
UPGRADE_CODE = uuid.UUID("8038A079-5AF5-42AB-886F-BCD19D671D45")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
make_zip = importlib.import_module("make-zip")


def code(name):
    return "{" + str(uuid.uuid5(UPGRADE_CODE, name)).upper() + "}"


def main():
    source, version, msi, files = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3]), \
        sys.argv[4:]
    wxs = os.path.abspath(os.path.join(source, "packaging", "lumenkeep.wxs"))
    when = max(make_zip.commit_time(source), make_zip.EARLIEST)
    with tempfile.TemporaryDirectory() as folder:
        for path in files + [os.path.join(source, "res", "lumenkeep.ico"), wxs]:
            staged = os.path.join(folder, os.path.basename(path))
            shutil.copyfile(path, staged)
            os.utime(staged, (when, when))
        contents = hashlib.sha256(version.encode())
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                contents.update(name.encode() + b"\0" + f.read())

        clock = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(when))
        env = dict(os.environ, TZ="UTC")
        subprocess.run(["faketime", clock, "wixl", "-a", "x86", "-D", f"Version={version}",
                        "-D", f"ProductCode={code('Lumenkeep ' + version)}", "-o", msi, wxs],
                       cwd=folder, env=env, check=True)
    subprocess.run(["msibuild", msi, "-s", f"Lumenkeep {version}", "Lumenkeep", "Intel;1033",
                    code("package " + contents.hexdigest())], check=True)


if __name__ == "__main__":
    main()
