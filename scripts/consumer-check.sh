#!/usr/bin/env bash
# Builds the example program examples/check-image against an installed velador (cmake --install,
# or the Debian packages unpacked) in both ways another program would, and runs it on a disc
# image that velador-image makes:
#   - CMake: find_package(velador CONFIG REQUIRED) and velador::image;
#   - pkg-config: c++ -std=c++20 with `pkg-config --cflags --libs velador`;
#   - every installed header compiled in one unit, so none includes a header left uninstalled.
# Each build checks the image: three containers accepted (exit status 0), then one with a byte
# of its hashed content changed, refused (exit status 1).
# Prints every check and ends with status 1 when one fails.
# Usage: scripts/consumer-check.sh <prefix> <velador-image>
#   <prefix> holds include/velador/, and lib/ (or lib/<triplet>/) holds cmake/velador/ and
#   pkgconfig/velador.pc.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
prefix=$(realpath "$1")
velador_image=$(realpath "$2")
cxx=${CXX:-c++}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source scripts/checks.sh
# logged <log> <command...>: runs the command with its output in the log, shown if it fails.
logged() {
  local log=$1 status=0
  shift
  "$@" >"$log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || sed 's/^/          /' "$log"
  return "$status"
}

# A disc image of three types, made by velador-image itself.
image="$work/image"
mkdir -p "$image"
printf '0123456789abcdef' >"$image/key.bin"
printf '<menu/>\n' >"$image/menu.xml"
head -c 3000 /dev/urandom >"$image/logo.png"
head -c 20000 /dev/urandom >"$image/script.js"
(cd "$image" && "$velador_image" init disc >/dev/null &&
  "$velador_image" add disc --key key.bin menu.xml logo.png script.js >/dev/null) ||
  { echo "  FAIL  velador-image could not make the sample image"; exit 1; }
cp -r "$image/disc" "$image/damaged"
# A byte of the script's hashed content inverted: the check must refuse the file.
byte=$(od -An -tu1 -j 1000 -N 1 "$image/damaged/ADV_OBJ/script.js" | tr -d ' ')
# shellcheck disable=SC2059 # the format is the byte's octal escape
printf "\\$(printf '%03o' $((byte ^ 255)))" |
  dd of="$image/damaged/ADV_OBJ/script.js" bs=1 seek=1000 conv=notrunc status=none

# runs_on_image <label> <program>: the program accepts the three files of the sample image and
# refuses the damaged script.
runs_on_image() {
  local label=$1 program=$2 out="$work/$1.out" status=0
  "$program" "$image/disc" "$image/key.bin" >"$out" 2>&1 || status=$?
  sed 's/^/          /' "$out"
  check "$label: exit status 0 on the sample image" [ "$status" -eq 0 ]
  check "$label: accepted menu.xml (Hash)" grep -qx 'accepted     menu.xml (Hash)' "$out"
  check "$label: accepted logo.png (Encryption)" grep -qx 'accepted     logo.png (Encryption)' "$out"
  check "$label: accepted script.js (Encryption-and-Hash)" \
    grep -qx 'accepted     script.js (Encryption-and-Hash)' "$out"
  status=0
  "$program" "$image/damaged" "$image/key.bin" >"$out" 2>&1 || status=$?
  check "$label: exit status 1 on the damaged image" [ "$status" -eq 1 ]
  check "$label: refused script.js" grep -qx 'refused      script.js (Encryption-and-Hash)' "$out"
}

echo "== consumer with CMake: find_package(velador) against $prefix"
cmake_build="$work/cmake-build"
if logged "$work/cmake.log" cmake -S "$source_dir/examples/check-image" -B "$cmake_build" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release &&
  logged "$work/cmake-build.log" cmake --build "$cmake_build" -j 2; then
  check "CMake: the example configures and builds" true
  runs_on_image cmake "$cmake_build/check-image"
else
  check "CMake: the example configures and builds" false
fi

pc_folder=$(dirname "$(find "$prefix/lib" -path '*/pkgconfig/velador.pc' | head -n 1)")
echo "== consumer with pkg-config: velador.pc in $pc_folder"
export PKG_CONFIG_PATH="$pc_folder"
unset PKG_CONFIG_LIBDIR
if flags=$(pkg-config --cflags --libs velador); then
  echo "        pkg-config --cflags --libs velador: $flags"
  # shellcheck disable=SC2086 # the flags are words
  if logged "$work/pc-build.log" "$cxx" -std=c++20 -O2 \
    "$source_dir/examples/check-image/main.cpp" -o "$work/check-image-pc" $flags; then
    check "pkg-config: the example compiles and links" true
    runs_on_image pkg-config "$work/check-image-pc"
  else
    check "pkg-config: the example compiles and links" false
  fi
else
  check "pkg-config knows velador" false
fi

echo "== installed headers"
headers=$(cd "$prefix/include/velador" && find . -name '*.h' | sed 's|^\./||' | sort)
for header in $headers; do echo "#include \"$header\""; done >"$work/all_headers.cpp"
check "every installed header compiles, none including one left uninstalled" \
  logged "$work/headers.log" "$cxx" -std=c++20 -fsyntax-only -I"$prefix/include/velador" \
  "$work/all_headers.cpp"

echo "consumer check: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
