#!/usr/bin/env bash
# Signing for release: a throwaway self-signed code-signing certificate and a throwaway time-stamp
# authority made on the spot, setup.exe signed and time-stamped by scripts/sign.sh into
# build/win32/signed/setup.exe, osslsigncode's verification of that copy against the two
# certificates, and the copy without its signature equal to setup.exe. The same for the one file a
# publisher hands out: the sample packed (scripts/pack.sh), signed into
# build/win32/signed/Quillet-setup.exe, verified, read back whole through the installer's reader, and
# without its signature the packed file. The e2e scenarios signed-install and packed-signed install
# with them.
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

# Whether A and B are the same bytes but for the PE checksum and B's zeros to a multiple of 8. The
# signing tool pads the file to 8 bytes and, taking the signature off, recomputes the checksum over
# the whole file, which a packed setup.exe's header gives for its image alone.
same_but_checksum() {
    /usr/bin/python3 - "$1" "$2" <<'EOF'
import struct, sys
a, b = (open(path, "rb").read() for path in sys.argv[1:3])
at = struct.unpack_from("<I", a, 0x3C)[0] + 24 + 64
pad = len(b) - len(a)
sys.exit(0 if 0 <= pad < 8 and b[len(a):] == bytes(pad) and a[:at] + a[at + 4:] == b[:at] + b[at + 4:len(a)] else 1)
EOF
}

# Signs IN into OUT with the throwaway certificate and time stamp, checks the signature against
# both, and that without it OUT is IN, byte for byte (COMPARE, e.g. same_but_checksum for a packed
# file): the signature is all that signing adds, which is what lets anyone tie a signed file to the
# commit it was built from.
sign_and_verify() {
    local in=$1 out=$2 compare=${3:-cmp -s} report
    rm -f "$out"
    bash "$root/scripts/sign.sh" --pkcs12 "$keys/publisher.p12" --password-file "$keys/password" \
        --timestamp "http://127.0.0.1:$(cat "$keys/port")/" "$in" "$out"
    if ! report=$(osslsigncode verify -CAfile "$keys/publisher.pem" -TSA-CAfile "$keys/tsa.pem" -in "$out" 2>&1) ||
       ! grep -qx "Signature verification: ok" <<<"$report" ||
       ! grep -qx "Timestamp Server Signature verification: ok" <<<"$report" ||
       ! grep -q "Subject: /CN=Quillet test publisher" <<<"$report"; then
        echo "signing: $out does not verify against its certificates:"
        echo "$report"
        exit 1
    fi
    rm -f "$keys/unsigned.exe"
    osslsigncode remove-signature -in "$out" -out "$keys/unsigned.exe" >/dev/null
    $compare "$in" "$keys/unsigned.exe" || {
        echo "signing: $out without its signature differs from $in"
        exit 1
    }
}

signed=$build/signed/setup.exe
sign_and_verify "$build/setup.exe" "$signed"
echo "signing: $signed verifies against the throwaway certificate and time-stamp authority; unsigned, it is setup.exe"

# The sample with the real uninstaller, its files given the time the end-to-end runner gives
# distribution files (run.py's DEFAULT_MTIME_NS), which scenario packed-signed checks the installed
# files' times against.
sample=$keys/sample
mkdir "$sample"
find "$root/samples" -maxdepth 1 -type f ! -name '.*' ! -name '*.sh' -exec cp {} "$sample/" \;
cp "$build/setup.exe" "$build/samples/Quillet.exe" "$build/Unquil.exe" "$sample/"
touch -d '2001-02-03 04:05:06.1234567 UTC' "$sample"/*
bash "$root/scripts/pack.sh" --out "$keys/packed.exe" "$sample" >/dev/null
packed_signed=$build/signed/Quillet-setup.exe
sign_and_verify "$keys/packed.exe" "$packed_signed" same_but_checksum
# The payload lies before the signature, which covers it; the installer's reader still finds it whole.
bash "$root/scripts/pack.sh" --check "$packed_signed" >/dev/null || {
    echo "signing: the installer's reader does not read $packed_signed back whole:"
    bash "$root/scripts/pack.sh" --check "$packed_signed" || true
    exit 1
}
echo "signing: $packed_signed (the sample packed, then signed) verifies; unsigned, it is the packed file" \
    "(but for the PE checksum and padding), and its payload reads back whole"
