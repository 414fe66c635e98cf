#!/usr/bin/env bash
# assets_fresh.sh SKINGEN ASSETS: the committed skin equals a fresh build.
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$1" "$tmp"
cmp "$tmp/clipsalvage.skin" "$2/clipsalvage.skin"
diff -r "$tmp/skin" "$2/skin"
