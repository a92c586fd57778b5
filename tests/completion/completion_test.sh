#!/usr/bin/env bash
# Drives the bash completion functions of velador and velador-image as bash does at a <Tab>
# (COMP_WORDS, COMP_CWORD, then the function) in a folder of known files, and compares what
# they offer with what each command line wants. The options each velador-image command offers
# are also compared with the synopsis of its manual page, so neither can gain an option alone.
# Usage: completion_test.sh <completion folder> <velador-image.1.in> [fallback|bash-completion]
#   fallback (the default): bash alone; bash-completion: with the package's functions loaded
#   first (from /usr/share/bash-completion/bash_completion), as an interactive shell has them;
#   without the package this mode ends with status 77, which CTest reports as skipped.
set -uo pipefail
completions=$(realpath "$1")
manual_page=$(realpath "$2")
mode=${3:-fallback}
export LC_ALL=C

if [ "$mode" = bash-completion ]; then
  if [ ! -f /usr/share/bash-completion/bash_completion ]; then
    echo "bash-completion is not installed: skipped"
    exit 77
  fi
  # shellcheck disable=SC1091
  source /usr/share/bash-completion/bash_completion || exit 1
fi
# shellcheck disable=SC1091
source "$completions/velador" && source "$completions/velador-image" || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir -p img/ADV_OBJ img/AACS src out
touch key.bin menu.xml notes.txt -- -odd img/ADV_OBJ/menu.xml img/ADV_OBJ/logo.png \
  img/ADV_OBJ/.velador-1.tmp

checks=0
failures=0

# offered <function> <line>: what the function offers for the line's last word, sorted, on one
# line. The line is split at spaces, as bash splits it (with "=" a word of its own); a line
# that ends in a space completes an empty word.
offered() {
  local function=$1 line=$2
  local -a COMP_WORDS COMPREPLY
  local COMP_CWORD
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]-}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u | paste -sd ' ' -
}

# expect <function> <line> <wanted>: one row of the table.
expect() {
  local got
  got=$(offered "$1" "$2")
  checks=$((checks + 1))
  if [ "$got" = "$3" ]; then
    echo "  ok    [$2] -> [$3]"
  else
    echo "  FAIL  [$2] -> [$got], wanted [$3]"
    failures=$((failures + 1))
  fi
}

paths='-odd img key.bin menu.xml notes.txt out src'
folders='img out src'

echo "== velador-image ($mode)"
while IFS='|' read -r line wanted; do
  expect _velador_image "$line" "$wanted"
done <<EOF
velador-image |add build check compact extract init remove
velador-image c|check compact
velador-image -|--help --version
velador-image --json |add build check compact extract init remove
velador-image check |$paths
velador-image check i|img
velador-image check img |--json --key --quiet
velador-image check img -|--json --key --quiet
velador-image check img --json -|--key --quiet
velador-image check img --key |$paths
velador-image check img --key k|key.bin
velador-image check img --key = k|key.bin
velador-image check img --key =|$paths
velador-image check img --key key.bin -|--json --quiet
velador-image check img --key = key.bin -|--json --quiet
velador-image check --key key.bin |$paths
velador-image --json check |$paths
velador-image check img out |--json --key --quiet
velador-image add |$folders
velador-image add img |$paths
velador-image add img m|menu.xml
velador-image add img menu.xml |$paths
velador-image add img -|--json --key --quiet --replace
velador-image add img --replace menu.xml -|--json --key --quiet
velador-image add img -- -|-odd
velador-image add img -- --json |$paths
velador-image init |$folders
velador-image init new -|--json --quiet
velador-image extract |$paths
velador-image extract img |$folders
velador-image extract img out |--force --json --key --quiet
velador-image extract img out -|--force --json --key --quiet
velador-image compact |$folders
velador-image compact img -|--json --quiet
velador-image compact img |--json --quiet
velador-image remove |$folders
velador-image remove img |logo.png menu.xml
velador-image remove img m|menu.xml
velador-image remove img menu.xml |logo.png
velador-image remove img .|.velador-1.tmp
velador-image remove --json img |logo.png menu.xml
velador-image remove img -|--json --quiet
velador-image remove src |
velador-image build |$folders
velador-image build src |$folders
velador-image build src img |--cache-dir --change-key --dry-run --exclude --json --key --no-cache --no-default-exclude --quiet
velador-image build src img --exclude |
velador-image build src img --cache-dir |$folders
velador-image build src img --exclude x~ --exclude=y -|--cache-dir --change-key --dry-run --exclude --json --key --no-cache --no-default-exclude --quiet
velador-image build src img --dry-run -|--cache-dir --change-key --exclude --json --key --no-cache --no-default-exclude --quiet
velador-image frobnicate |
velador-image frobnicate -|
EOF

echo "== velador ($mode)"
while IFS='|' read -r line wanted; do
  expect _velador "$line" "$wanted"
done <<EOF
velador |-d -e /?
velador -|-d -e
velador -e |-d -p
velador -E |-d -p
velador /e |-d -p
velador -e -|-d -p
velador -e -d |$paths
velador -e -p m|menu.xml
velador -e -d menu.xml |$folders
velador -e -d menu.xml img |$paths
velador -e -d menu.xml img k|key.bin
velador -e -d menu.xml img key.bin |
velador -d |$paths
velador -d img/A|img/AACS img/ADV_OBJ
velador -d img/ADV_OBJ/menu.xml |$folders
velador -d img/ADV_OBJ/menu.xml out k|key.bin
velador -d img/ADV_OBJ/menu.xml out key.bin |
velador /? |
velador -x |
EOF

echo "== velador-image against the synopsis of velador-image(1) ($mode)"
# The synopsis: ".B velador-image <command>" opens a command, ".RB [ \-\-<option>" names one
# of its options, ".BR \-\-help ..." the words that stand alone.
synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH DESCRIPTION/p' "$manual_page" | sed 's/\\-/-/g')
commands=$(sed -n 's/^\.B velador-image \([a-z]*\)$/\1/p' <<<"$synopsis" | sort | paste -sd ' ' -)
expect _velador_image "velador-image " "$commands"
for command in $commands; do
  options=$(awk -v command="$command" '
    /^\.B velador-image / { current = $3 }
    current == command && /^\.RB \[ --/ { print $3 }' <<<"$synopsis" | sort | paste -sd ' ' -)
  expect _velador_image "velador-image $command -" "$options"
done
alone=$(sed -n 's/^\.BR \(--[a-z]*\) " | " \(--[a-z]*\)$/\1 \2/p' <<<"$synopsis")
expect _velador_image "velador-image -" "$alone"

echo "completion ($mode): $checks checks, $failures failed"
[ "$failures" -eq 0 ]
