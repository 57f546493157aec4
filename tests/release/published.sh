#!/usr/bin/env bash
# The release as it is published, made with a certificate (a throwaway
# authority and signer made here, given as PKCS#12 and as PEM) and a download
# address: the zip's executables and the MSI verify against that authority and
# the MSI installs the signed executables; each, its signature removed, is the
# unsigned reproducible build; the signed Lumenkeep.exe passes the switches family end to end
# under Wine (PREFIX: the e2e stand-in for the driver); the manifests parse,
# carry what winget and Scoop require, and name the version and the zip's
# address and SHA-256; the test bundle holds the signed executables. The
# release is then made again unsigned.
#   published.sh SOURCE_DIR BUILD_DIR VERSION [PREFIX LOADER]
set -uo pipefail
src=$1 build=$2 version=$3 prefix=${4:-} loader=${5:-}
source "$(dirname "$0")/../common/check.sh"
work=$(mktemp -d)
trap 'cmake --build "$build" --target package >/dev/null; rm -rf "$work"' EXIT
zip=Lumenkeep-$version-win32.zip msi=$build/Lumenkeep-$version-win32.msi
url=https://downloads.example.org/lumenkeep/$version
(cd "$work" &&
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Lumenkeep test authority" \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign \
    -keyout ca.key -out ca.pem &&
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Lumenkeep test signer" -keyout signer.key -out signer.csr &&
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
  openssl x509 -req -days 2 -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
    -extfile signer.ext -out signer.pem &&
  openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem \
    -passout pass:throwaway -out signer.p12) >/dev/null 2>&1
verifies() { osslsigncode verify -CAfile "$work/ca.pem" -in "$1" >/dev/null 2>&1 && echo yes || echo no; }

declare -A certificate=(
  [PKCS12]="LUMENKEEP_SIGN_PKCS12=$work/signer.p12 LUMENKEEP_SIGN_PASSWORD=throwaway"
  [PEM]="LUMENKEEP_SIGN_CERT=$work/signer.pem LUMENKEEP_SIGN_KEY=$work/signer.key")
for form in PKCS12 PEM; do
  # shellcheck disable=SC2086 # the settings are words
  env ${certificate[$form]} LUMENKEEP_RELEASE_URL=$url cmake --build "$build" --target package >/dev/null
  rm -rf "$work/zip" "$work/msi" "$work/tests"
  (mkdir "$work/zip" && cd "$work/zip" && cmake -E tar xf "$build/$zip")
  (mkdir "$work/tests" && cd "$work/tests" && cmake -E tar xf "$build/${zip%.zip}-tests.zip")
  msiextract -C "$work/msi" "$msi" >/dev/null
  check "$form: the MSI verifies" yes "$(verifies "$msi")"
  for exe in Lumenkeep.exe LumenkeepTrace.exe; do
    check "$form: $exe in the zip verifies" yes "$(verifies "$work/zip/$exe")"
    check "$form: the MSI's $exe is the zip's" same \
      "$(cmp -s "$work/zip/$exe" "$work/msi/Program Files/Lumenkeep/$exe" && echo same)"
    check "$form: the test bundle's $exe is the zip's" same \
      "$(cmp -s "$work/zip/$exe" "$work/tests/$exe" && echo same)"
    osslsigncode remove-signature -in "$work/zip/$exe" -out "$work/$exe" >/dev/null
    check "$form: $exe without its signature is the unsigned build" same \
      "$(cmp -s "$work/$exe" "$build/$exe" && echo same)"
  done
done

if [ -n "$prefix" ]; then
  # The bundle holds the signed executables beside the suite.
  "$src/tests/e2e/wine.sh" "$prefix" "$loader" "$work/tests/e2e_tests.exe" switches </dev/null >"$work/off" 2>&1
  check "the signed Lumenkeep.exe, e2e family switches: exit status" 0 "$?"
else
  echo "skipped: the signed Lumenkeep.exe under Wine (the 32-bit build does not run here)"
fi

declare -A got
while IFS='=' read -r what value; do got[$what]=$value; done < <(python3 - "$build/manifests" "$build/$zip" <<'EOF'
import json, sys, zipfile, yaml
out, archive = sys.argv[1], sys.argv[2]
def manifest(name):
    with open(f"{out}/{name}", encoding="utf-8") as f:
        return (json.load if name.endswith(".json") else yaml.safe_load)(f)
required = {  # what the winget 1.6.0 schemas and Scoop's schema require
    "winget/Lumenkeep.Lumenkeep.yaml": "PackageIdentifier PackageVersion DefaultLocale ManifestType ManifestVersion",
    "winget/Lumenkeep.Lumenkeep.installer.yaml": "PackageIdentifier PackageVersion Installers ManifestType ManifestVersion",
    "winget/Lumenkeep.Lumenkeep.locale.en-US.yaml": "PackageIdentifier PackageVersion PackageLocale Publisher PackageName License ShortDescription ManifestType ManifestVersion",
    "scoop/lumenkeep.json": "version description homepage license url hash bin",
}
found = {name: manifest(name) for name in required}
print("missing fields=" + " ".join(f"{n}:{k}" for n, keys in required.items() for k in keys.split() if not found[n].get(k)))
winget = [found[n] for n in required if n.startswith("winget")]
installer, scoop = winget[1], found["scoop/lumenkeep.json"]
print("winget versions and types=" + " ".join(f"{m['PackageVersion']}:{m['ManifestType']}" for m in winget))
print("winget installer=" + " ".join(str(v) for v in [installer["InstallerType"], installer["NestedInstallerType"]] +
      [v.lower() if k == "InstallerSha256" else v for k, v in installer["Installers"][0].items()]))
print("winget commands=" + " ".join(f"{f['RelativeFilePath']}:{f['PortableCommandAlias']}" for f in installer["NestedInstallerFiles"]))
print("winget files not in the zip=" + " ".join(sorted({f["RelativeFilePath"] for f in installer["NestedInstallerFiles"]} - set(zipfile.ZipFile(archive).namelist()))))
print("scoop=" + " ".join([scoop["version"], scoop["url"], scoop["hash"]]))
print("scoop commands=" + " ".join(":".join(b) for b in scoop["bin"]))
EOF
)
sha=$(sha256sum <"$build/$zip" | cut -d' ' -f1)
for row in "missing fields|" "winget versions and types|$version:version $version:installer $version:defaultLocale" \
    "winget installer|zip portable x86 $url/$zip $sha" "winget files not in the zip|" "scoop|$version $url/$zip $sha" \
    "winget commands|Lumenkeep.exe:lumenkeep LumenkeepTrace.exe:lumenkeeptrace" \
    "scoop commands|Lumenkeep.exe:lumenkeep LumenkeepTrace.exe:lumenkeeptrace"; do
  check "manifests: ${row%%|*}" "${row#*|}" "${got[${row%%|*}]-no such line}"
done
summary "published release"
