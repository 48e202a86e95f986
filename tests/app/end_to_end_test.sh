#!/usr/bin/env bash
# Drives the real fennick binary under Xvfb with real key presses, as a user would:
#  1. a WAV file given on the command line is the source; Return presses "Convert…", Return in the save
#     dialog accepts the suggested name next to the source; the written file is checked; screenshots of
#     the window before and after the run are kept for review; Ctrl+Q quits.
#  2. Ctrl+Q while a run is held in the middle of its work (a stand-in libsoxr waits while a gate file
#     exists): the run is cancelled, and neither the output nor a temporary file is left.
#  3. Ctrl+Shift+N opens the batch window; Add Folder… takes a folder with a subfolder; Convert All
#     writes each take next to its source (the default folder, the mirrored layout); a screenshot is kept.
#  4. A 1024×600 screen, then 1600×1000 at QT_SCALE_FACTOR=2, with a window manager (openbox): the
#     window opens whole on it, and a click where the bottom bar keeps Convert… (the window's bottom
#     right corner) converts; a screenshot of each screen is kept.
# Usage: end_to_end_test.sh FENNICK_BINARY SCREENSHOT_DIR GATED_LIBSOXR. Exits 77 (skipped) when a tool
# is missing.
set -euo pipefail
fennick=$1
shots=$2
gated=$3
for tool in Xvfb openbox xdotool sox soxi import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid="" app_pid="" wm_pid=""
trap 'kill $app_pid $wm_pid $xvfb_pid 2>/dev/null || true; wait || true; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$work/fennick.log" >&2 2>/dev/null || true
  exit 1
}
# Polls COMMAND every 0.2 s for at most SECONDS seconds.
wait_for() {
  local tries=$(($1 * 5))
  shift
  for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}

# Xvfb chooses a free display itself and writes its number to descriptor 3 once it accepts clients.
start_xvfb() { # WIDTHxHEIGHT
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  DISPLAY=":$(head -n1 "$work/display")"
}
start_xvfb 1280x1024
# Qt's own save dialog, which xdotool drives, whatever desktop this runs on.
export DISPLAY QT_QPA_PLATFORM=xcb FENNICK_WIDGET_DIALOGS=1
# Remembered settings go to a folder of the run's own, never the user's.
export XDG_CONFIG_HOME="$work/config"
unset WAYLAND_DISPLAY

start_fennick() {
  env "${@:2}" "$fennick" "$1" >"$work/fennick.log" 2>&1 &
  app_pid=$!
  # Xvfb runs no window manager: windowactivate would fail, windowfocus sets the input focus directly.
  main_window=$(timeout 30 xdotool search --sync --onlyvisible --name 'Fennick$' | head -n1) ||
    fail "the Fennick window did not appear"
  xdotool windowfocus --sync "$main_window"
}
# Return presses "Convert…"; Return in the save dialog accepts the suggested name.
convert_with_suggested_name() {
  xdotool key Return
  local dialog
  dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Save As$' | head -n1) ||
    fail "the save dialog did not open"
  xdotool windowfocus --sync "$dialog" key Return
}
send_quit() {
  xdotool windowfocus --sync "$main_window" 2>/dev/null || true
  xdotool key ctrl+q
}
# A key press can be lost while a loaded machine is still mapping a window: Ctrl+Q goes again once
# after 10 s. A process that still does not exit gets its threads' stacks printed.
wait_for_exit() { # SECONDS
  if ! wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null"; then
    echo "fennick still running 10 s after Ctrl+Q: pressing it again" >&2
    send_quit
    if ! wait_for "$1" bash -c "! kill -0 $app_pid 2>/dev/null"; then
      command -v gdb >/dev/null && gdb -p "$app_pid" -batch -ex 'thread apply all bt' >&2 2>/dev/null
      fail "fennick did not exit within $1 s"
    fi
  fi
  local status=0
  wait "$app_pid" || status=$?
  app_pid=""
  [ "$status" -eq 0 ] || fail "fennick exited with status $status"
}
# Frame count of a WAV file, or nothing while its header is not final.
frames_of() { soxi -s "$1" 2>/dev/null || true; }
check_output() { # FILE FRAMES: 44.1 kHz stereo 16-bit, every frame, still the 440 Hz sine of the source
  local format frequency
  format="$(soxi -r "$1") $(soxi -c "$1") $(soxi -b "$1") $(soxi -e "$1") $(frames_of "$1")"
  [ "$format" = "44100 2 16 Signed Integer PCM $2" ] || fail "$1: $format"
  frequency=$(sox "$1" -n remix 1 stat 2>&1 | awk '/Rough   frequency/ {print $3}')
  [ -n "$frequency" ] && [ "$frequency" -ge 430 ] && [ "$frequency" -le 450 ] ||
    fail "$1: rough frequency '$frequency', expected about 440 Hz"
}

mkdir -p "$shots"

# 1. One conversion from start to finish, with screenshots.
sox -n -r 48000 -c 2 -b 24 "$work/take.wav" synth 3 sine 440 gain -6
output="$work/take_44100-16.wav"
expected=$((3 * 44100))
start_fennick "$work/take.wav"
sleep 1 # let the first paint land before the screenshots
import -window "$main_window" "$shots/fennick-window.png"
convert_with_suggested_name
wait_for 120 bash -c "[ \"\$(soxi -s '$output' 2>/dev/null)\" = $expected ]" ||
  fail "no complete $output appeared (frames: $(frames_of "$output"))"
sleep 1 # the result line is drawn after the file is closed
import -window "$main_window" "$shots/fennick-finished.png"
check_output "$output" "$expected"
send_quit
wait_for_exit 30

# 2. Quit while a run is under way: it is cancelled and leaves nothing behind.
sox -n -r 96000 -c 2 -b 24 "$work/long.wav" synth 20 sine 440 gain -6
touch "$work/gate"
start_fennick "$work/long.wav" FENNICK_LIBSOXR="$gated" FENNICK_TEST_GATE="$work/gate"
convert_with_suggested_name
wait_for 30 test -e "$work/gate.reached" || fail "the run did not start"
send_quit
sleep 0.5
rm "$work/gate" # the held run goes on to its next block, where it sees the stop
wait_for_exit 30
left=$(find "$work" -name 'long_44100-16.wav*' | wc -l)
[ "$left" -eq 0 ] || fail "a cancelled run left $(find "$work" -name 'long_44100-16.wav*')"

# 3. Many files through the batch window, clicked as a user would (Xvfb has no window manager, so
#    the window opens at its default size and the buttons are where that size puts them).
mkdir -p "$work/album/disc 2"
sox -n -r 48000 -c 2 -b 24 "$work/album/one.wav" synth 2 sine 440 gain -6
sox -n -r 96000 -c 2 -b 24 "$work/album/disc 2/two.wav" synth 2 sine 440 gain -6
start_fennick "$work/take.wav"
xdotool key ctrl+shift+n
batch=$(timeout 30 xdotool search --sync --onlyvisible --name '^Convert Several Files — Fennick$' | head -n1) ||
  fail "the batch window did not open"
xdotool windowfocus --sync "$batch"
sleep 1
xdotool key --window "$batch" alt+d # Add Folder…, by its mnemonic wherever the layout puts it
dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Add Folder$' | head -n1) ||
  fail "the Add Folder dialog did not open"
xdotool windowfocus --sync "$dialog" type --delay 20 "$work/album"
sleep 0.5
xdotool key Escape Return # the completion popup, then the dialog's Choose
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Add Folder$' >/dev/null" || fail "the dialog stayed open"
xdotool windowfocus --sync "$batch"
# Convert All sits at the bottom bar's right end, whatever the steps above it hold.
eval "$(xdotool getwindowgeometry --shell "$batch")"
xdotool mousemove --window "$batch" $((WIDTH - 70)) $((HEIGHT - 22)) click 1
for take in "album/one_44100-16.wav" "album/disc 2/two_44100-16.wav"; do
  wait_for 60 bash -c "[ \"\$(soxi -s '$work/$take' 2>/dev/null)\" = $((2 * 44100)) ]" ||
    fail "no complete $take appeared"
  check_output "$work/$take" $((2 * 44100))
done
sleep 1 # the summary line is drawn after the last file is closed
import -window "$batch" "$shots/fennick-batch-finished.png"
send_quit
wait_for_exit 30

# 4. Small screens with a window manager, 1024×600 and 1600×1000 at scale 2: Convert… is on the
#    screen without scrolling.
for screen in 1024x600:1 1600x1000:2; do
  size=${screen%:*} scale=${screen#*:}
  kill $wm_pid "$xvfb_pid" 2>/dev/null || true
  wait $wm_pid "$xvfb_pid" 2>/dev/null || true
  start_xvfb "$size"
  openbox >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  wait_for 20 bash -c "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window" ||
    fail "openbox did not start: $(cat "$work/openbox.log")"
  sleep 1 # the check is there before openbox has finished starting; a window mapped meanwhile stays unplaced
  rm -f "$output"
  start_fennick "$work/take.wav" QT_SCALE_FACTOR="$scale"
  wait_for 20 bash -c "! xwininfo -tree -id $main_window | grep -q 'Parent window id:.*(the root window)'" ||
    fail "openbox did not frame the window"
  sleep 1 # the frame's first paint
  # The content's place on the screen in pixels (xdotool counts the frame's offset twice under a
  # window manager).
  geometry=$(xwininfo -id "$main_window")
  field() { awk -F: "/$1/ {print \$2}" <<<"$geometry" | tr -d ' '; }
  X=$(field 'Absolute upper-left X') Y=$(field 'Absolute upper-left Y') WIDTH=$(field Width) HEIGHT=$(field Height)
  [ $((Y + HEIGHT)) -le "${size#*x}" ] && [ $((X + WIDTH)) -le "${size%x*}" ] ||
    fail "the window ($WIDTH×$HEIGHT at $X,$Y) does not fit on a $size screen"
  import -window root "$shots/fennick-$size.png"
  xdotool mousemove --window "$main_window" $((WIDTH - 45 * scale)) $((HEIGHT - 24 * scale)) click 1
  dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Save As$' | head -n1) ||
    fail "$size: a click on Convert… did not open the save dialog"
  xdotool windowactivate --sync "$dialog" key Return
  wait_for 120 bash -c "[ \"\$(soxi -s '$output' 2>/dev/null)\" = $expected ]" ||
    fail "$size: no complete $output appeared (frames: $(frames_of "$output"))"
  check_output "$output" "$expected"
  send_quit
  wait_for_exit 30
done
