#!/usr/bin/env bash
# The installed AppStream metainfo passes appstreamcli's checks (offline), together with the desktop
# entry it launches, and every screenshot it names is in the source tree at the path its URL gives.
# Usage: metainfo_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null || exit 1
status=0
appstreamcli validate-tree --no-net "$prefix" || status=1
for url in $(sed -n 's|.*<image[^>]*>\(.*\)</image>.*|\1|p' "$prefix"/share/metainfo/*.metainfo.xml); do
  [ -f "$2/${url#*/raw/v*/}" ] || { echo "FAIL: the screenshot $url is not in the source tree"; status=1; }
done
exit $status
