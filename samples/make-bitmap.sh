#!/usr/bin/env bash
# Regenerates setup.bmp, the demo's background tile: 64x48, 24-bit, uncompressed, no metadata,
# so the same ImageMagick always writes the same bytes.
set -euo pipefail
cd "$(dirname "$0")"
# /usr/bin first: some machines put a different "convert" earlier on the PATH.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
"$convert" -size 64x48 gradient:'#fbf6e9-#e9dcc0' \
    -stroke '#d8c8a4' -strokewidth 1 \
    -draw 'line 0,11 63,11' -draw 'line 0,23 63,23' -draw 'line 0,35 63,35' -draw 'line 0,47 63,47' \
    -stroke '#c98f8f' -draw 'line 9,0 9,47' \
    -stroke '#2f4f7f' -strokewidth 2 -draw 'line 40,40 56,6' \
    -stroke '#1d2f4d' -strokewidth 1 -draw 'line 40,40 38,45' \
    -strip -type TrueColor -define bmp:format=bmp3 -compress none BMP3:setup.bmp
