#!/usr/bin/env bash
# `cmake --install` lays out a desktop citizen: both programs, the desktop entry, the icon, the
# AppStream metainfo, the manual pages and the shell completion. The metainfo passes appstreamcli's
# checks (offline) with the desktop entry it launches, and every screenshot it names is in the source
# tree at the path its URL gives.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null || exit 1
status=0
for file in bin/fennick bin/fennick-convert share/applications/fennick.desktop \
    share/icons/hicolor/scalable/apps/fennick.svg share/metainfo/io.github.fennick.Fennick.metainfo.xml \
    share/man/man1/fennick.1.gz share/man/man1/fennick-convert.1.gz share/bash-completion/completions/fennick-convert; do
  [ -e "$prefix/$file" ] || { echo "FAIL: $file was not installed"; status=1; }
done
[ -x "$prefix/bin/fennick" ] && [ -x "$prefix/bin/fennick-convert" ] || { echo "FAIL: a program is not executable"; status=1; }
if command -v appstreamcli >/dev/null; then
  appstreamcli validate-tree --no-net "$prefix" || status=1
else
  echo "appstreamcli is not installed: the metainfo is not validated"
fi
for url in $(sed -n 's|.*<image[^>]*>\(.*\)</image>.*|\1|p' "$prefix"/share/metainfo/*.metainfo.xml); do
  [ -f "$2/${url#*/raw/v*/}" ] || { echo "FAIL: the screenshot $url is not in the source tree"; status=1; }
done
exit $status
