#!/usr/bin/env bash
# `cmake --install` lays out a desktop citizen: both programs, the desktop entry and the icon.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
status=0
for file in bin/fennick bin/fennick-convert share/applications/fennick.desktop \
    share/icons/hicolor/scalable/apps/fennick.svg; do
  [ -e "$prefix/$file" ] || { echo "FAIL: $file was not installed"; status=1; }
done
for program in bin/fennick bin/fennick-convert; do
  [ ! -e "$prefix/$program" ] || [ -x "$prefix/$program" ] || { echo "FAIL: $program is not executable"; status=1; }
done
exit $status
