#!/usr/bin/python3
"""Checks the shape of the shipped executables with a PE library.

  check_shape.py VERSION BUILD_DIR FILE_DESCRIPTION

Lumenkeep.exe: PE32 for x86, windowed, only system DLLs imported, the
manifest asking for asInvoker and no UI access and nothing else, icon groups
107 and 108 with the same eight images. LumenkeepTrace.exe: PE32 console
program with the same manifest and icon. Both: version information from the
project's version (Lumenkeep.exe's FileDescription as the build made it), no
build timestamp, ASLR with relocations, NX, terminal-server aware, and NO_SEH
backed by code that never touches the SEH chain. LumenkeepTrace's help text names the project's version in its first
line. Prints every value it checks, as "ok: ..." or "Test failed: ...".
"""
import re
import struct
import subprocess
import sys

import pefile

IMAGES = ["32x32x4", "16x16x4", "48x48x8", "32x32x8", "16x16x8", "48x48x32", "32x32x32",
          "16x16x32"]
MANIFEST_ELEMENTS = ["assembly", "trustInfo", "security", "requestedPrivileges",
                     "requestedExecutionLevel"]
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "shell32.dll", "user32.dll", "msvcrt.dll",
               "ole32.dll"}
FLAGS = {"DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100, "NO_SEH": 0x0400,
         "TERMINAL_SERVER_AWARE": 0x8000}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

passed = 0
failed = 0


def check(what, expected, got):
    global passed, failed
    if expected == got:
        passed += 1
        print(f"ok: {what} = {got!r}")
    else:
        failed += 1
        print(f"Test failed: {what}: expected {expected!r}, got {got!r}")


def resources(pe):
    """{(type, name): data} of every resource."""
    found = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                found[(kind.id, name.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def group_images(data):
    """The images a group icon lists, as WIDTHxHEIGHTxBITS (0 means 256)."""
    count = int.from_bytes(data[4:6], "little")
    # Each entry: width, height, colours, reserved, planes, bits, size, id.
    entries = struct.iter_unpack("<4B2HIH", data[6:6 + 14 * count])
    return [f"{width or 256}x{height or 256}x{bits}" for width, height, _, _, _, bits, _, _ in entries]


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode()] = value.decode()
    return strings


def check_common(name, path, version, description, subsystem):
    pe = pefile.PE(path)
    check(f"{name} machine", hex(0x14C), hex(pe.FILE_HEADER.Machine))
    check(f"{name} optional header magic", hex(0x10B), hex(pe.OPTIONAL_HEADER.Magic))
    check(f"{name} subsystem", subsystem, pe.OPTIONAL_HEADER.Subsystem)
    check(f"{name} build timestamp", 0, pe.FILE_HEADER.TimeDateStamp)
    for flag, bit in FLAGS.items():
        check(f"{name} {flag}", True, bool(pe.OPTIONAL_HEADER.DllCharacteristics & bit))
    check(f"{name} has relocations for ASLR", True, pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size > 0)

    imports = sorted(entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    check(f"{name} imports outside the system DLLs ({' '.join(imports)})", [],
          [dll for dll in imports if dll not in SYSTEM_DLLS])

    # NO_SEH promises the loader that no handler is ever registered; on x86
    # that is done through fs:[0], the head of the SEH chain.
    code = subprocess.run(["i686-w64-mingw32-objdump", "-d", path], capture_output=True,
                          text=True, check=True).stdout
    check(f"{name} instructions that touch the SEH chain (fs:0)", [],
          re.findall(r".*%fs:0x0\b.*", code))

    found = resources(pe)
    manifest = found.get((RT_MANIFEST, 1), b"").decode()
    level = re.search(r'level="[^"]*" uiAccess="[^"]*"', manifest)
    check(f"{name} manifest execution level", 'level="asInvoker" uiAccess="false"',
          level.group(0) if level else None)
    check(f"{name} manifest elements", MANIFEST_ELEMENTS,
          re.findall(r"<([a-zA-Z]+)", manifest))
    check(f"{name} icon group 107 images", IMAGES,
          group_images(found.get((RT_GROUP_ICON, 107), bytes(6))))

    strings = version_strings(pe)
    expected = {
        "CompanyName": "Lumenkeep",
        "FileDescription": description,
        "FileVersion": version,
        "InternalName": name,
        "LegalCopyright": "Copyright (C) 2026 the Lumenkeep developers",
        "OriginalFilename": f"{name}.exe",
        "ProductName": "Lumenkeep",
        "ProductVersion": version,
    }
    for key, value in expected.items():
        check(f"{name} version string {key}", value, strings.get(key))
    fixed = pe.VS_FIXEDFILEINFO[0]
    check(f"{name} numeric file version", version,
          f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}.{fixed.FileVersionLS >> 16}")
    return found


def help_first_line(path):
    """The line before the usage line of the viewer's help, as the executable holds it."""
    with open(path, "rb") as f:
        data = f.read()
    end = data.find(b"\nusage: LumenkeepTrace ")
    return data[data.rfind(b"\0", 0, end) + 1:end].decode(errors="replace") if end > 0 else None


def main():
    version, build, description = sys.argv[1:4]
    found = check_common("Lumenkeep", f"{build}/Lumenkeep.exe", version, description, 2)
    check("Lumenkeep icon groups 107 and 108 hold the same images", True,
          found.get((RT_GROUP_ICON, 107)) == found.get((RT_GROUP_ICON, 108)))
    check("Lumenkeep resource types (icon, group icon, version, manifest)",
          [RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST], sorted({k for k, _ in found}))
    check_common("LumenkeepTrace", f"{build}/LumenkeepTrace.exe", version,
                 "LumenkeepTrace: shows the trace messages of Lumenkeep", 3)
    check("LumenkeepTrace --help first line", f"LumenkeepTrace {version}",
          help_first_line(f"{build}/LumenkeepTrace.exe"))
    print(f"executable shape: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
