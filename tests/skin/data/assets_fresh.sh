#!/usr/bin/env bash
# assets_fresh.sh SKINGEN ASSETS: the committed skin equals a fresh build.
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$1" "$tmp"
for f in clipsalvage.skin skinstream.bin menuglyphs.bmp; do cmp "$tmp/$f" "$2/$f"; done
diff -r "$tmp/skin" "$2/skin"
