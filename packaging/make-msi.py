#!/usr/bin/python3
"""Makes Lumenkeep's Windows Installer package from packaging/lumenkeep.wxs.

  make-msi.py SOURCE_DIR VERSION MSI FILE...

The FILEs (Lumenkeep.exe, LumenkeepTrace.exe, README.txt) are installed
under their own names. The source's @UPGRADE_CODE@ and @DESCRIPTION@ are
filled in from product.py before wixl reads it. Two builds of one commit give
the same bytes:

- the product code is derived from the version and the package code from
  the version and the bytes that go in, where wixl would draw both at random
  (it ignores the package code of the source, so it is set afterwards with
  msibuild);
- the summary's creation and save times, which wixl takes from the clock,
  and the files' times in the embedded cabinet, which it takes from the
  files, are the commit's time, found as make-zip.py finds the zip's. wixl
  runs under faketime with the clock stopped at that time ("-f"): the plain
  form starts a running clock there, and a wixl slowed by a busy machine
  would stamp a second or two later.
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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
make_zip = importlib.import_module("make-zip")
product = importlib.import_module("product")


# The codes derived here are name-based UUIDs in the upgrade code's namespace.
def code(name):
    return "{" + str(uuid.uuid5(product.UPGRADE_CODE, name)).upper() + "}"


def render(wxs, source, into):
    with open(wxs, encoding="utf-8", newline="") as f:
        text = f.read()
    text = text.replace("@UPGRADE_CODE@", str(product.UPGRADE_CODE).upper())
    text = text.replace("@DESCRIPTION@", product.description(source))
    with open(into, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def main():
    source, version, msi, files = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3]), \
        sys.argv[4:]
    wxs = os.path.abspath(os.path.join(source, "packaging", "lumenkeep.wxs"))
    when = max(make_zip.commit_time(source), make_zip.EARLIEST)
    with tempfile.TemporaryDirectory() as folder:
        staged_wxs = os.path.join(folder, os.path.basename(wxs))
        render(wxs, source, staged_wxs)
        for path in files + [os.path.join(source, "res", "lumenkeep.ico")]:
            shutil.copyfile(path, os.path.join(folder, os.path.basename(path)))
        for name in os.listdir(folder):
            os.utime(os.path.join(folder, name), (when, when))
        contents = hashlib.sha256(version.encode())
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                contents.update(name.encode() + b"\0" + f.read())

        clock = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(when))
        env = dict(os.environ, TZ="UTC")
        subprocess.run(["faketime", "-f", clock, "wixl", "-a", "x86", "-D", f"Version={version}",
                        "-D", f"ProductCode={code('Lumenkeep ' + version)}", "-o", msi,
                        staged_wxs],
                       cwd=folder, env=env, check=True)
    subprocess.run(["msibuild", msi, "-s", f"Lumenkeep {version}", "Lumenkeep", "Intel;1033",
                    code("package " + contents.hexdigest())], check=True)


if __name__ == "__main__":
    main()
