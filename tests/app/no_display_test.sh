#!/usr/bin/env bash
# Without any display, fennick must not abort in Qt but say how to convert without a window.
# Usage: no_display_test.sh FENNICK_BINARY
set -uo pipefail
message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" some.wav 2>&1 >/dev/null)
status=$?
[ "$status" -eq 1 ] || { echo "FAIL: exit status $status, expected 1"; exit 1; }
[[ "$message" == *fennick-convert* ]] || { echo "FAIL: message does not name fennick-convert: $message"; exit 1; }
