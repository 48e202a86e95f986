#!/usr/bin/env bash
# `cmake --install` lays out a desktop citizen: both programs, the desktop entry, the icon, the
# AppStream metainfo, the manual pages and the shell completion.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
status=0
for file in bin/fennick bin/fennick-convert share/applications/fennick.desktop \
    share/icons/hicolor/scalable/apps/fennick.svg share/metainfo/io.github.fennick.Fennick.metainfo.xml \
    share/man/man1/fennick.1.gz share/man/man1/fennick-convert.1.gz share/bash-completion/completions/fennick-convert; do
  [ -e "$prefix/$file" ] || { echo "FAIL: $file was not installed"; status=1; }
done
for program in bin/fennick bin/fennick-convert; do
  [ ! -e "$prefix/$program" ] || [ -x "$prefix/$program" ] || { echo "FAIL: $program is not executable"; status=1; }
done
exit $status
