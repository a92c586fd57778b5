#!/usr/bin/env bash
# Writes the seeds of udf_image_fuzzer into <folder>: small disc image files, each a UDF file
# system that genisoimage -udf masters from a tiny image folder. They are made here rather than
# committed, since genisoimage writes no image under about 600 KiB.
#   files      a file at the root, three files in ADV_OBJ (one of them empty, one over two
#              blocks long) and the table AACS/CONTENT_HASH_TABLE2.AACS
#   empty      an empty ADV_OBJ and nothing else
#   nested     a folder inside ADV_OBJ and a long name, not padded to 32 KiB
# Usage: tests/fuzz/make-udf-seeds.sh <folder>
set -euo pipefail
out=$1
command -v genisoimage >/dev/null ||
  { echo "make-udf-seeds.sh: genisoimage is needed (Debian: genisoimage)" >&2; exit 1; }
mkdir -p "$out"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# master <seed> [<option>...]: the image of "$tree/<seed>" into <folder>/<seed>.udf.
master() {
  local seed=$1
  shift
  genisoimage -quiet -udf "$@" -o "$out/$seed.udf" "$tree/$seed"
}

mkdir -p "$tree/files/ADV_OBJ" "$tree/files/AACS"
printf 'a file at the root\n' >"$tree/files/README.TXT"
printf '<menu/>\n' >"$tree/files/ADV_OBJ/menu.xml"
: >"$tree/files/ADV_OBJ/empty.txt"
for ((i = 0; i < 500; i++)); do printf 'x%04d=1;\n' "$i"; done >"$tree/files/ADV_OBJ/script.js"
head -c 40060 /dev/zero >"$tree/files/AACS/CONTENT_HASH_TABLE2.AACS"
master files

mkdir -p "$tree/empty/ADV_OBJ"
master empty

mkdir -p "$tree/nested/ADV_OBJ/inner"
printf 'inside\n' >"$tree/nested/ADV_OBJ/inner/deeper.txt"
printf 'long\n' >"$tree/nested/ADV_OBJ/a-name-longer-than-the-thirty-one-characters-of-iso9660.txt"
master nested -no-pad
