#!/usr/bin/env bash
# Signs release files in place (Authenticode, SHA-256) with osslsigncode: the
# executables before they go into the zip and the MSI, the MSI last. The
# certificate comes from the environment; without one, nothing is signed and
# the files stay the unsigned reproducible build.
#   sign-release.sh FILE...
#
#   LUMENKEEP_SIGN_PKCS12         certificate, chain and key in one PKCS#12 file, or
#   LUMENKEEP_SIGN_CERT           certificate (and chain), PEM, with
#   LUMENKEEP_SIGN_KEY            its private key, PEM
#   LUMENKEEP_SIGN_PASSWORD       the PKCS#12 file's or the key's password, if any
#   LUMENKEEP_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping server, if any: a
#                                 time-stamped signature stays valid after the
#                                 certificate expires
set -euo pipefail
pkcs12=${LUMENKEEP_SIGN_PKCS12:-} cert=${LUMENKEEP_SIGN_CERT:-} key=${LUMENKEEP_SIGN_KEY:-}

if [ -z "$pkcs12$cert$key" ]; then
  echo "not signed (no LUMENKEEP_SIGN_PKCS12, nor LUMENKEEP_SIGN_CERT and LUMENKEEP_SIGN_KEY): $*"
  exit 0
fi
if [ -n "$pkcs12" ]; then
  [ -z "$cert$key" ] || { echo "sign-release: give LUMENKEEP_SIGN_PKCS12 or LUMENKEEP_SIGN_CERT and LUMENKEEP_SIGN_KEY, not both" >&2; exit 1; }
  credentials=(-pkcs12 "$pkcs12")
else
  [ -n "$cert" ] && [ -n "$key" ] || { echo "sign-release: LUMENKEEP_SIGN_CERT and LUMENKEEP_SIGN_KEY go together" >&2; exit 1; }
  credentials=(-certs "$cert" -key "$key")
fi
options=(-h sha256 -n Lumenkeep)
[ -n "${LUMENKEEP_SIGN_TIMESTAMP_URL:-}" ] && options+=(-ts "$LUMENKEEP_SIGN_TIMESTAMP_URL")

for file in "$@"; do
  rm -f "$file.signed"  # osslsigncode overwrites no file
  # The password is read from a pipe, never put on a command line that any
  # user of the machine can read.
  if [ -n "${LUMENKEEP_SIGN_PASSWORD:-}" ]; then
    osslsigncode sign "${credentials[@]}" "${options[@]}" \
      -readpass <(printf '%s' "$LUMENKEEP_SIGN_PASSWORD") -in "$file" -out "$file.signed" >/dev/null
  else
    osslsigncode sign "${credentials[@]}" "${options[@]}" -in "$file" -out "$file.signed" >/dev/null
  fi
  mv "$file.signed" "$file"
  echo "signed: $file"
done
