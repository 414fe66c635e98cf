#!/usr/bin/env bash
# Runs skinpack end to end: pack, list, extract, and the exit status on
# damaged files and bad usage.
set -u
skinpack=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}

mkdir -p "$dir/sub"
printf 'BM\x00\x01\x02top' >"$dir/sub/Top.bmp"
head -c 5000 /dev/urandom >"$dir/noise.bmp"
printf '[Colours]\r\nButtonFace=1,2,3\r\n' >"$dir/skin.ini"
: >"$dir/empty.bmp"

"$skinpack" pack "$dir/skin.skn" "$dir/sub/Top.bmp" "$dir/noise.bmp" "$dir/skin.ini" "$dir/empty.bmp"
check "pack status" 0 $?
check "list" "$(printf 'top.bmp\t8\nnoise.bmp\t5000\nskin.ini\t29\nempty.bmp\t0')" "$("$skinpack" list "$dir/skin.skn")"

"$skinpack" extract "$dir/skin.skn" NOISE.BMP "$dir/out.bmp"
check "extract status" 0 $?
cmp -s "$dir/noise.bmp" "$dir/out.bmp"
check "extracted bytes" 0 $?

"$skinpack" extract "$dir/skin.skn" missing.bmp "$dir/none" 2>"$dir/err"
check "missing entry status" 1 $?
check "missing entry leaves no file" no "$([ -e "$dir/none" ] && echo yes || echo no)"

# Damage: a stream that unpacks to 4 bytes (shorter than an archive header),
# and one that declares an unpacked size over the limit.
printf '\x04\x00\x00\x00\x12\x34' >"$dir/cut.skn"
"$skinpack" list "$dir/cut.skn" >/dev/null 2>"$dir/err"
check "cut file status" 1 $?
grep -q "damaged or rejected skin file" "$dir/err"
check "cut file message" 0 $?
printf '\x00\x00\x00\x10' >"$dir/huge.skn"
"$skinpack" list "$dir/huge.skn" >/dev/null 2>&1
check "oversized file status" 1 $?
"$skinpack" list "$dir/absent.skn" >/dev/null 2>&1
check "unreadable file status" 1 $?

"$skinpack" >/dev/null 2>&1
check "no command" 2 $?
"$skinpack" extract "$dir/skin.skn" top.bmp >/dev/null 2>&1
check "missing argument" 2 $?
"$skinpack" unpack x >/dev/null 2>&1
check "unknown command" 2 $?

[ "$failures" -eq 0 ] && echo "skinpack: all checks passed"
exit $((failures > 0))
