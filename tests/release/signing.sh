#!/usr/bin/env bash
# Signing for release: a throwaway self-signed code-signing certificate made on the spot, setup.exe
# signed with it by scripts/sign.sh into build/win32/signed/setup.exe, osslsigncode's verification of
# that copy against the certificate, and the copy without its signature equal to setup.exe. The e2e
# scenario signed-install installs with the copy.
#   tests/release/signing.sh [BUILD]    (default build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/win32}
keys=$(mktemp -d "${TMPDIR:-/tmp}/quillet-signing.XXXXXX")
trap 'rm -rf "$keys"' EXIT

openssl rand -hex 16 > "$keys/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillet test publisher" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$keys/key.pem" -out "$keys/certificate.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/certificate.pem" \
    -passout "file:$keys/password" -out "$keys/publisher.p12"

signed=$build/signed/setup.exe
rm -f "$signed"
bash "$root/scripts/sign.sh" --pkcs12 "$keys/publisher.p12" --password-file "$keys/password" \
    "$build/setup.exe" "$signed"
if ! report=$(osslsigncode verify -CAfile "$keys/certificate.pem" -in "$signed" 2>&1) ||
   ! grep -qx "Signature verification: ok" <<<"$report" ||
   ! grep -q "Subject: /CN=Quillet test publisher" <<<"$report"; then
    echo "signing: the signed copy does not verify against its certificate:"
    echo "$report"
    exit 1
fi
# The signature is all that signing adds: without it the copy is the built setup.exe, byte for byte,
# which is what lets anyone tie a signed setup.exe to the commit it was built from.
osslsigncode remove-signature -in "$signed" -out "$keys/unsigned.exe" >/dev/null
cmp -s "$keys/unsigned.exe" "$build/setup.exe" || {
    echo "signing: the signed copy without its signature differs from $build/setup.exe"
    exit 1
}
echo "signing: $signed verifies against the throwaway certificate; unsigned, it is setup.exe"
