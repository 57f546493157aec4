#!/usr/bin/python3
"""Renders the package managers' manifests of a release.

  render-manifests.py SOURCE_DIR OUT_DIR VERSION ZIP BASE_URL [HOMEPAGE]

Every file under SOURCE_DIR/packaging/winget and SOURCE_DIR/packaging/scoop
is written under OUT_DIR/winget and OUT_DIR/scoop with @VERSION@, @ZIP_URL@
(BASE_URL/ZIP's name), @DESCRIPTION@ (product.py's), @ZIP_SHA256@ (lower
case; @ZIP_SHA256_UPPER@ in upper case, as winget's manifests write it) and
@HOMEPAGE@ (BASE_URL when not given) filled in. The addresses go into quoted strings of YAML and JSON, so
they must be plain web addresses: anything else stops the release.
"""
import hashlib
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import product  # noqa: E402

ADDRESS = re.compile(r"https?://[^\s\"'\\]+")


def main():
    source, out, version, zip_path, base = sys.argv[1:6]
    homepage = sys.argv[6] if len(sys.argv) > 6 else base
    for address in (base, homepage):
        if not ADDRESS.fullmatch(address):
            sys.exit(f"render-manifests: not a plain web address: {address!r}")
    with open(zip_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    values = {
        "@VERSION@": version,
        "@DESCRIPTION@": product.description(source),
        "@ZIP_URL@": f"{base.rstrip('/')}/{os.path.basename(zip_path)}",
        "@ZIP_SHA256@": digest,
        "@ZIP_SHA256_UPPER@": digest.upper(),
        "@HOMEPAGE@": homepage,
    }
    for manager in ("winget", "scoop"):
        templates = os.path.join(source, "packaging", manager)
        os.makedirs(os.path.join(out, manager), exist_ok=True)
        for name in sorted(os.listdir(templates)):
            with open(os.path.join(templates, name), encoding="utf-8") as f:
                text = f.read()
            text = re.sub(r"@[A-Z0-9_]+@", lambda m: values[m.group(0)], text)
            with open(os.path.join(out, manager, name), "w", encoding="utf-8", newline="\n") as f:
                f.write(text)
            print(f"rendered: {os.path.join(out, manager, name)}")


if __name__ == "__main__":
    main()
