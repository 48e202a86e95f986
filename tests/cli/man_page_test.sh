#!/usr/bin/env bash
# A manual page renders without a warning from man or groff, and names every long option that the
# program's --help lists, so that an option added later cannot go undocumented.
# Usage: man_page_test.sh PAGE PROGRAM
set -uo pipefail
export LC_ALL=C.UTF-8 MANWIDTH=80 QT_QPA_PLATFORM=offscreen
status=0
warnings=$(man --warnings -l "$1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "FAIL: $1: $warnings"; status=1; }
options=$("$2" --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "FAIL: $2 --help lists no options"; exit 1; }
source=$(sed 's/\\-/-/g' "$1") # the page's dashes are written \-
for option in $options; do
  grep -qF -- "$option" <<<"$source" || { echo "FAIL: $1 does not mention $option"; status=1; }
done
exit $status
