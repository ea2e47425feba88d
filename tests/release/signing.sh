#!/usr/bin/env bash
# Signing for release: a throwaway self-signed code-signing certificate and a throwaway time-stamp
# authority made on the spot, setup.exe signed and time-stamped by scripts/sign.sh into
# build/win32/signed/setup.exe, osslsigncode's verification of that copy against the two
# certificates, and the copy without its signature equal to setup.exe. The e2e scenario
# signed-install installs with the copy.
#   tests/release/signing.sh [BUILD]    (default build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/win32}
keys=$(mktemp -d "${TMPDIR:-/tmp}/quillet-signing.XXXXXX")
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$keys"' EXIT

certificate() {  # name, subject, extended key usage
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=$3" \
        -keyout "$keys/$1-key.pem" -out "$keys/$1.pem" 2>/dev/null
}
certificate publisher "Quillet test publisher" codeSigning
certificate tsa "Quillet test time-stamp authority" critical,timeStamping
openssl rand -hex 16 > "$keys/password"
openssl pkcs12 -export -inkey "$keys/publisher-key.pem" -in "$keys/publisher.pem" \
    -passout "file:$keys/password" -out "$keys/publisher.p12"

mkdir "$keys/tsa"
timeout 120 /usr/bin/python3 "$root/tests/release/timestamp_server.py" "$keys/tsa.pem" "$keys/tsa-key.pem" \
    "$keys/tsa" > "$keys/port" &
server=$!
for _ in $(seq 100); do [ -s "$keys/port" ] && break; sleep 0.1; done
[ -s "$keys/port" ] || { echo "signing: the time-stamp server did not start"; exit 1; }

signed=$build/signed/setup.exe
rm -f "$signed"
bash "$root/scripts/sign.sh" --pkcs12 "$keys/publisher.p12" --password-file "$keys/password" \
    --timestamp "http://127.0.0.1:$(cat "$keys/port")/" "$build/setup.exe" "$signed"
if ! report=$(osslsigncode verify -CAfile "$keys/publisher.pem" -TSA-CAfile "$keys/tsa.pem" -in "$signed" 2>&1) ||
   ! grep -qx "Signature verification: ok" <<<"$report" ||
   ! grep -qx "Timestamp Server Signature verification: ok" <<<"$report" ||
   ! grep -q "Subject: /CN=Quillet test publisher" <<<"$report"; then
    echo "signing: the signed copy does not verify against its certificates:"
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
echo "signing: $signed verifies against the throwaway certificate and time-stamp authority; unsigned, it is setup.exe"
