#!/usr/bin/env bash
# The demo installer image end to end: the real program in a virtual X server (Xvfb), clicked
# with xdotool the way a person would, each run in a home and a temporary folder of its own.
#
#   setup_e2e.sh IMAGE DEMO SHOTS
#
# IMAGE is the demo installer image, DEMO the program that it carries (tavrix-demo, which writes
# tavrix.started beside itself when it runs), SHOTS a folder for the screenshots of the pages
# and of the box shown for a damaged image. The runs:
#
#   install   "Setup", then "Accept": exit code 0, the program installed unchanged as
#             $HOME/Tavrix/tavrix.exe and started, no temporary extraction file left
#   exit      "Exit": exit code 0, nothing installed, no temporary extraction file left
#   damaged   one byte of the appended resource block flipped: a message box and no window,
#             dismissed with Return; exit code 3 and nothing unpacked
#
# Every wait has a time limit, and the setup program and the X server are ended on every way
# out, so a hang fails the test instead of stalling it. Exit status 0 when every run passes.
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 IMAGE DEMO SHOTS" >&2
  exit 2
fi
image=$(realpath "$1")
demo=$(realpath "$2")
shots=$3

readonly WaitSeconds=10    # for a window, a page, the end of the program
readonly MarkerSeconds=5   # for the installed program's marker file
readonly BadImageExit=3    # the setup program's exit code for a damaged image
# The window as the form describes it, and the places of its buttons (centres, in the window).
readonly FormWidth=401 FormHeight=245
readonly SetupAt=(269 220) ExitAt=(349 220) AcceptAt=(269 220)
readonly PageGrey='#C0C0C0' MemoWhite='#FFFFFF' TextBlack='#000000'

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "-- $*"; }

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null ||
    fail "$tool is not installed (Debian packages xvfb, xdotool and imagemagick; ./check installs them)"
done
[ -x "$image" ] || fail "no installer image at $image (build the target tavrix-setup)"
[ -f "$demo" ] || fail "no demo program at $demo"
mkdir -p "$shots" || fail "cannot make $shots"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrix-e2e.XXXXXX") || fail "cannot make a working folder"
xvfb_pid=""
setup_pid=""
run_dir=""

cleanup() {
  local status=$?
  if [ -n "$setup_pid" ] && kill -0 "$setup_pid" 2>/dev/null; then
    kill -KILL "$setup_pid" 2>/dev/null
    wait "$setup_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ "$status" -ne 0 ] && [ -n "$run_dir" ] && [ -s "$run_dir/setup.log" ]; then
    echo "--- output of the setup program:" >&2
    cat "$run_dir/setup.log" >&2
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM HUP

# Polls a command until it succeeds; fails with the message after WaitSeconds (or $3 seconds).
wait_for() {
  local what=$1 check=$2 seconds=${3:-$WaitSeconds}
  local deadline=$((SECONDS + seconds))
  until eval "$check"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what did not happen within ${seconds}s"
    sleep 0.1
  done
}

# --- The X server --------------------------------------------------------------------------------

# Xvfb picks a free display itself and writes its number to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
  2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for "the X server start" \
  '[ -s "$work/display" ] || { kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended: $(tail -3 "$work/xvfb.log")"; false; }'
export DISPLAY=":$(head -1 "$work/display")"
step "X server on $DISPLAY"

# --- Helpers for one run -------------------------------------------------------------------------

# Starts a setup program in a fresh home, temporary folder and runtime folder under $work/$1.
start_setup() {
  local name=$1 program=$2
  run_dir=$work/$name
  home=$run_dir/home
  tmp=$run_dir/tmp
  mkdir -p "$home" "$tmp" "$run_dir/runtime" && chmod 700 "$run_dir/runtime"
  HOME=$home TMPDIR=$tmp XDG_RUNTIME_DIR=$run_dir/runtime QT_QPA_PLATFORM=xcb \
    env -u WAYLAND_DISPLAY "$program" >"$run_dir/setup.log" 2>&1 &
  setup_pid=$!
}

# Waits for the setup program to end and sets exit_code.
wait_exit() {
  local after=$1
  wait_for "the end of the setup program after $after" '! kill -0 "$setup_pid" 2>/dev/null'
  exit_code=0
  wait "$setup_pid" || exit_code=$?
  setup_pid=""
}

# The first visible window whose name is exactly $1; fails when none appears in time.
find_window() {
  local name=$1 found
  found=$(timeout "$WaitSeconds" xdotool search --sync --onlyvisible --name "^$name\$" | head -1)
  if [ -z "$found" ]; then
    kill -0 "$setup_pid" 2>/dev/null ||
      fail "the setup program ended before a window \"$name\" appeared"
    fail "no window \"$name\" appeared within ${WaitSeconds}s"
  fi
  echo "$found"
}

# How many pixels of the window's region (x y width height) have the colour #RRGGBB.
count_pixels() {
  local window=$1 x=$2 y=$3 w=$4 h=$5 colour=$6
  import -window "$window" -crop "${w}x${h}+${x}+${y}" -depth 8 txt:- 2>/dev/null |
    grep -c " $colour " || true
}

# Whether more than half of the region has the colour.
mostly() {
  local count
  count=$(count_pixels "$@")
  [ "$count" -gt $(($4 * $5 / 2)) ]
}

# Checks that the window has the form's size and waits until its page and buttons are painted:
# mostly page grey, with black button text in the right button.
wait_painted() {
  local window=$1
  eval "$(xdotool getwindowgeometry --shell "$window")"
  [ "$WIDTH" -eq "$FormWidth" ] && [ "$HEIGHT" -eq "$FormHeight" ] ||
    fail "the window is ${WIDTH}x${HEIGHT}, not ${FormWidth}x${FormHeight}"
  wait_for "the painting of the first page" \
    'mostly "$window" 0 0 "$FormWidth" "$FormHeight" "$PageGrey" &&
     [ "$(count_pixels "$window" 312 208 75 25 "$TextBlack")" -gt 0 ]'
}

# Clicks at a point of the window, after checking that the pointer got there.
click_at() {
  local window=$1 x=$2 y=$3
  xdotool mousemove --window "$window" "$x" "$y" || fail "cannot move the pointer"
  local X Y WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$window")"
  local wantX=$((X + x)) wantY=$((Y + y))
  eval "$(xdotool getmouselocation --shell)"
  [ "$X" -eq "$wantX" ] && [ "$Y" -eq "$wantY" ] ||
    fail "the pointer is at $X,$Y instead of $wantX,$wantY"
  [ "$WINDOW" -eq "$window" ] || fail "the pointer at $X,$Y is over window $WINDOW, not $window"
  xdotool click 1 || fail "cannot click"
}

temp_files() { compgen -G "$tmp/~fs*" || true; }

expect_no_temp_files() {
  local left
  left=$(temp_files)
  [ -z "$left" ] || fail "temporary extraction files were left: $left"
}

# Both files are unpacked while the window is up; checking this makes "none left" meaningful.
expect_unpacked_files() {
  local count
  count=$(temp_files | wc -l)
  [ "$count" -eq 2 ] || fail "$count temporary extraction files while the window is up, not 2"
}

# --- install: "Setup", then "Accept" -------------------------------------------------------------

step "install: Setup, then Accept"
start_setup install "$image"
window=$(find_window "Tavrix Setup") || exit 1
wait_painted "$window"
expect_unpacked_files
import -window "$window" "$shots/splash.png" || fail "cannot take a screenshot"
click_at "$window" "${SetupAt[@]}"
# The licence page is there when the memo, white, fills its place.
wait_for "the licence page" 'mostly "$window" 20 40 300 150 "$MemoWhite"'
import -window "$window" "$shots/licence.png" || fail "cannot take a screenshot"
click_at "$window" "${AcceptAt[@]}"
wait_exit '"Accept"'
[ "$exit_code" -eq 0 ] || fail "install: exit code $exit_code, not 0"
installed=$home/Tavrix/tavrix.exe
[ -f "$installed" ] || fail "install: $installed is missing"
cmp -s "$installed" "$demo" || fail "install: $installed differs from $demo"
wait_for "the installed program's start (its marker file)" \
  '[ -s "$home/Tavrix/tavrix.started" ]' "$MarkerSeconds"
expect_no_temp_files

# --- exit: "Exit" on the splash page --------------------------------------------------------------

step "exit: Exit"
start_setup exit "$image"
window=$(find_window "Tavrix Setup") || exit 1
wait_painted "$window"
expect_unpacked_files
click_at "$window" "${ExitAt[@]}"
wait_exit '"Exit"'
[ "$exit_code" -eq 0 ] || fail "exit: exit code $exit_code, not 0"
[ ! -e "$home/Tavrix" ] || fail "exit: $home/Tavrix was made"
expect_no_temp_files

# --- damaged: one byte of the resource block flipped ---------------------------------------------

step "damaged image: a message box, dismissed with Return"
mkdir -p "$work/damaged-image"
# Same file name, so that the box's caption (the program's name) is the usual one.
damaged=$work/damaged-image/$(basename "$image")
cp "$image" "$damaged"
# The trailer, the last 40 bytes, holds the block's offset and size (64-bit little-endian) at
# 16 and 24; the flipped byte lies in the middle of the block.
size=$(stat -c %s "$damaged")
block_offset=$(od -An -t u8 --endian=little -j $((size - 24)) -N 8 "$damaged" | tr -d ' ')
block_size=$(od -An -t u8 --endian=little -j $((size - 16)) -N 8 "$damaged" | tr -d ' ')
[ "$block_size" -gt 0 ] && [ $((block_offset + block_size + 40)) -eq "$size" ] ||
  fail "the image's trailer does not describe a block before it (offset $block_offset, size $block_size)"
at=$((block_offset + block_size / 2))
byte=$(od -An -t u1 -j "$at" -N 1 "$damaged" | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 0xFF)))" |
  dd of="$damaged" bs=1 seek="$at" conv=notrunc status=none
[ "$(cmp -l "$image" "$damaged" | wc -l)" -eq 1 ] || fail "the damaged copy differs in more than one byte"

start_setup damaged "$damaged"
box=$(find_window "$(basename "$image")") || exit 1
[ -z "$(xdotool search --onlyvisible --name '^Tavrix Setup$')" ] ||
  fail "damaged image: the main window was shown"
wait_for "the painting of the message box" \
  '[ "$(count_pixels "$box" 0 0 40 40 "$PageGrey")" -gt 0 ]'
import -window root "$shots/damaged-image.png" || fail "cannot take a screenshot"
kill -0 "$setup_pid" 2>/dev/null || fail "damaged image: the program ended without waiting for OK"
timeout "$WaitSeconds" xdotool windowfocus --sync "$box" || fail "cannot focus the message box"
xdotool key Return || fail "cannot press Return"
wait_exit "Return in the message box"
[ "$exit_code" -eq "$BadImageExit" ] ||
  fail "damaged image: exit code $exit_code, not $BadImageExit"
[ -z "$(ls -A "$tmp")" ] || fail "damaged image: something was unpacked: $(ls -A "$tmp")"
[ ! -e "$home/Tavrix" ] || fail "damaged image: $home/Tavrix was made"

echo "All runs passed; screenshots in $shots"
