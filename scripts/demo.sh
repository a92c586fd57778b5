#!/usr/bin/env bash
# Builds velador and shows a round trip on a sample disc image made in a temporary folder:
# three files of three types are encapsulated into the image, then decapsulated and compared;
# last, velador-image checks the whole image at once.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== building velador and velador-image (about a minute the first time) ..."
cmake --preset default >/dev/null
cmake --build --preset default --target velador velador-image >/dev/null
velador="$PWD/build/default/app/velador"
velador_image="$PWD/build/default/app/velador-image"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Through a pipe velador keeps its texts' Windows-1252 bytes; show them in UTF-8 when iconv is
# there (on a terminal of their own they are readable as they come). velador-image writes its
# texts in the locale's character set, piped or not.
show() { if command -v iconv >/dev/null; then iconv -f WINDOWS-1252 -t UTF-8; else cat; fi; }
run() {
  printf '\n$ velador %s\n' "$*"
  "$velador" "$@" | show
}

mkdir -p disc/ADV_OBJ disc/AACS restored
head -c 40060 /dev/zero > disc/AACS/CONTENT_HASH_TABLE2.AACS   # a fresh content hash table
printf '\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff' > key.bin
printf '<menu><item>Play</item></menu>\n' > menu.xml
head -c 3000 /dev/urandom > logo.png
head -c 20000 /dev/urandom > script.js

for file in menu.xml logo.png script.js; do
  run -e -d "$file" disc key.bin
done
for file in menu.xml logo.png script.js; do
  run -d "disc/ADV_OBJ/$file" restored key.bin
done

echo
for file in menu.xml logo.png script.js; do
  if cmp -s "$file" "restored/$file"; then
    echo "restored/$file is identical to $file"
  else
    echo "restored/$file DIFFERS from $file"; exit 1
  fi
done
echo "table: $(stat -c %s disc/AACS/CONTENT_HASH_TABLE2.AACS) bytes (40060 + 8 per entry)"

printf '\n$ velador-image check disc --key key.bin\n'
"$velador_image" check disc --key key.bin
