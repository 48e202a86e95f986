#!/usr/bin/env bash
# The bash completion offers each option's values, files for the operands, and every long option
# that fennick-convert's --help lists, so that an option added later cannot be left out of it.
# Usage: completion_test.sh COMPLETION_FILE FENNICK_CONVERT. Exits 77 (skipped) without bash-completion.
set -uo pipefail
helpers=/usr/share/bash-completion/bash_completion
[ -r "$helpers" ] || { echo "SKIP: bash-completion is not installed"; exit 77; }
source "$helpers"
source "$1"
long_options=$("$2" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch take.wav "my mix.wav"

offers() { # WORDS: what completing the last of them offers, one a line
  local -a COMP_WORDS COMPREPLY=()
  read -ra COMP_WORDS <<<"fennick-convert $1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  local COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE="fennick-convert $1"
  local COMP_POINT=${#COMP_LINE}
  _fennick_convert fennick-convert "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}"
}
expect() { # WORDS OFFERS
  local offered
  offered=$(offers "$1" | paste -sd' ')
  [ "$offered" = "$2" ] || { echo "FAIL: '$1<TAB>' offered '$offered', expected '$2'"; status=1; }
}

expect "-q " "quick low medium bits16 high bits24 veryHigh bits32"
expect "--quality b" "bits16 bits24 bits32"
expect "-f " "int16 int24 float32"
expect "--type " "wav rf64 w64 aiff flac caf"
expect "-r 4" "44100 48000"
expect "--phase " "linear intermediate minimum"
expect "--rolloff " "small medium none"
expect "--dither s" "shaped-light shaped"
expect "--bandwidth " ""
expect "-r 48000 ta" "take.wav"
expect "take.wav my" "my mix.wav"
[ "$(offers "--" | sort)" = "$long_options" ] ||
  { echo "FAIL: '--<TAB>' offers $(offers "--" | paste -sd' '), --help lists $(paste -sd' ' <<<"$long_options")"; status=1; }
exit $status
