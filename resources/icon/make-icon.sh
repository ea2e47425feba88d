#!/usr/bin/env bash
# Rebuilds ../install.ico (16 colours, 32 x 32 and 16 x 16) from the two pixel drawings here.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 32 16; do
  convert "install-$size.xpm" "PNG32:$tmp/install-$size.png"
done
icotool -c -b 4 -o ../install.ico "$tmp/install-32.png" "$tmp/install-16.png"
icotool -l ../install.ico
