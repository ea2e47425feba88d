#!/usr/bin/env bash
# Signs setup.exe for release: an Authenticode signature (SHA-256) made by osslsigncode with the
# publisher's PKCS#12 certificate, time-stamped (RFC 3161) when a time-stamp server is given. The
# password is read from a file, "-" for standard input, so that it never shows in the process list.
#   scripts/sign.sh --pkcs12 FILE --password-file FILE [--timestamp URL] IN.exe OUT.exe
set -euo pipefail

usage() { echo "usage: $0 --pkcs12 FILE --password-file FILE [--timestamp URL] IN.exe OUT.exe" >&2; exit 2; }
pkcs12= password= timestamp=
while [ $# -gt 0 ]; do
    case $1 in
        --pkcs12) pkcs12=${2:?}; shift 2 ;;
        --password-file) password=${2:?}; shift 2 ;;
        --timestamp) timestamp=${2:?}; shift 2 ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -eq 2 ] && [ -n "$pkcs12" ] && [ -n "$password" ] || usage
in=$1 out=$2
[ "$(realpath -m "$in")" != "$(realpath -m "$out")" ] || { echo "sign: OUT must differ from IN" >&2; exit 2; }

command -v osslsigncode >/dev/null || bash "$(dirname "$0")/install-deps.sh"
args=(sign -pkcs12 "$pkcs12" -readpass "$password" -h sha256 -n "Quillet setup")
[ -z "$timestamp" ] || args+=(-ts "$timestamp")
# Written beside OUT first, so that a failed signing never leaves a half-made OUT behind.
partial="$out.partial"
trap 'rm -f "$partial"' EXIT
mkdir -p "$(dirname "$out")"
osslsigncode "${args[@]}" -in "$in" -out "$partial" >/dev/null
mv "$partial" "$out"
echo "sign: $out signed with $pkcs12${timestamp:+, time-stamped by $timestamp}"
