#!/usr/bin/env bash
# Runs the Windows build under wine beside the native build on the same commands and checks
# that both print the same text (the Windows one with CR LF line ends) and write the same files.
# Usage: scripts/windows-smoke.sh <native velador> <velador.exe>
set -euo pipefail
native=$(realpath "$1")
windows=$(realpath "$2")
export WINEDEBUG=-all
work=$(mktemp -d)
export WINEPREFIX="$work/wineprefix"
trap 'rm -rf "$work"' EXIT

for side in native windows; do
  mkdir -p "$work/$side/img/ADV_OBJ" "$work/$side/img/AACS" "$work/$side/out" "$work/$side/back"
  head -c 40060 /dev/zero > "$work/$side/img/AACS/CONTENT_HASH_TABLE2.AACS"
  printf '0123456789abcdef' > "$work/$side/key.bin"
  head -c 5000 /dev/zero | tr '\0' 'p' > "$work/$side/a.png"
  head -c 3000 /dev/zero | tr '\0' 'j' > "$work/$side/s.js"
  printf '<menu/>\n' > "$work/$side/m.xml"
  printf 'notes\n' > "$work/$side/n.txt"
done

commands=(
  "-e -d a.png img key.bin" "-e -p a.png out key.bin" "-e -d s.js img key.bin"
  "-e -p s.js out key.bin" "-e -d m.xml img" "-e -p n.txt out key.bin"
  "-d img/ADV_OBJ/a.png back key.bin" "-d img/ADV_OBJ/s.js back key.bin"
  "-d img/ADV_OBJ/m.xml back" "-d out/s.js back key.bin" "-d out/n.txt back key.bin"
  "-e -p a.png out key.bin" "-e -p n.txt . key.bin" "-e -d x.png img key.bin" "/?"
)
failures=0
for command in "${commands[@]}"; do
  read -r -a words <<< "$command"
  (cd "$work/native" && "$native" "${words[@]}" > "$work/native.out")
  (cd "$work/windows" && wine "$windows" "${words[@]}" > "$work/windows.raw" 2>/dev/null)
  tr -d '\r' < "$work/windows.raw" > "$work/windows.out"
  crlf=$(grep -c $'\r$' "$work/windows.raw" || true)
  lines=$(wc -l < "$work/windows.raw")
  if ! cmp -s "$work/native.out" "$work/windows.out" || [ "$crlf" != "$lines" ]; then
    echo "differs: velador $command"; failures=$((failures + 1))
  fi
done
for file in $(cd "$work/native" && find img out back -type f | sort); do
  cmp -s "$work/native/$file" "$work/windows/$file" || { echo "differs: $file"; failures=$((failures + 1)); }
done
leftovers=$(find "$work/windows" -path "$work/windows/../wineprefix" -prune -o -name '.velador-*' -print)
[ -z "$leftovers" ] || { echo "temporary files left: $leftovers"; failures=$((failures + 1)); }
echo "windows smoke: ${#commands[@]} commands, $failures differences"
[ "$failures" -eq 0 ]
