#!/usr/bin/env bash
# The frame window headless: `zentrope view --screenshot` under xvfb-run on
# the demo production, a segment and a posed figure. Checks the start-up
# order, the frame's layout (menu bar on top, the 30-pixel tool strip under
# it, the 20-pixel status line along the bottom), that a segment's
# wireframe lies inside its view, and that STATE "WindowPosition" and the
# panels written at close are read back at the next start.
# Usage: view_test.sh ZENTROPE SOURCE_DIR
set -u
zentrope=$1
source_dir=$2

# The checks run inside one virtual X server. xvfb-run's own status can
# report a failure to clean up its temporary folder after the checks
# passed, so the checks hand back their status through a file.
if [ -z "${VIEW_TEST_STATUS:-}" ]; then
  command -v xvfb-run > /dev/null ||
    { echo "FAIL: xvfb-run is missing: install the xvfb and xauth packages (scripts/setup.sh)"; exit 1; }
  status_file=$(mktemp)
  VIEW_TEST_STATUS=$status_file xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
  status=$(cat "$status_file")
  rm -f "$status_file"
  [ -n "$status" ] || echo "FAIL: the checks did not run under xvfb-run"
  exit "${status:-1}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: got [$1] expected [$2]"; }

# The display stack (Mesa, D-Bus) keeps allocations to the end of the
# process; the library's own leaks are caught by the unit tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
examples="$source_dir/examples"
cd "$work" || exit 1

view() {  # view INI ARGS...: the program on the 1024x768 virtual screen
  local ini=$1
  shift
  "$zentrope" --settings "$ini" view "$@"
}
shot() { python3 "$source_dir/tests/app/screenshot.py" "$1"; }
wait_window() {  # shown, and given a moment to open its document
  for _ in $(seq 100); do
    if xdotool search --onlyvisible --name "Zentrope Studio" > /dev/null 2>&1; then
      sleep 2
      return 0
    fi
    sleep 0.2
  done
  return 1
}
wait_exit() {  # wait_exit PID: gone within 30 s
  for _ in $(seq 150); do
    kill -0 "$1" 2> /dev/null || return 0
    sleep 0.2
  done
  return 1
}

field() { grep "^$2 " <<< "$1" | cut -d' ' -f2-; }

# --- No display: one line, status 1.
# Catches: SDL's own multi-line failure, a crash, or a hang without X.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$zentrope" --settings none.ini view \
  2>&1 > /dev/null)
expect_eq "$?" 1 "no display: status"
expect_eq "$(wc -l <<< "$out")" 1 "no display: lines"
[[ "$out" == *"no display"* ]] || fail "no display: says [$out]"

# A display that does not answer: SDL would draw off-screen where no one
# sees it. Catches: an invisible program running on, or exiting 0.
out=$(DISPLAY=:9999 "$zentrope" --settings none.ini view 2>&1 > /dev/null)
expect_eq "$?" 1 "dead display: status"
expect_eq "$(wc -l <<< "$out")" 1 "dead display: lines"
[[ "$out" == *"cannot open the display :9999"* ]] || fail "dead display: says [$out]"

# --- The demo production from a stored placement, the start-up order traced.
# Catches: a step out of order (the memory limit set after the settings,
# the frame created before the placement is read), a placement ignored, or
# the menu bar, tool strip or status line missing or out of place.
# The stored flags (7) and show state (2, minimised) come back written as
# the program writes them (0 and 1), so the file shows the close wrote it.
cat > a.ini << 'INI'
[STATE]
WindowPosition=7 2 -1 -1 -1 -1 40 30 840 630
ToolPanel=0 0 0
InfoPanel=1 420 60
INI
view a.ini "$examples/demo/demo.cho" --view front --frame 15 --trace-startup \
  --screenshot demo.png --quit-after 4 2> trace.txt
expect_eq "$?" 0 "demo view status"
expect_eq "$(grep '^start-up:' trace.txt | tr '\n' '|')" \
  "start-up: 1 window kinds|start-up: 2 project list|start-up: 3 memory limit|start-up: 4 noise table|start-up: 5 temporary folder and settings|start-up: 6 menu|start-up: 7 font|start-up: 8 frame window|start-up: 9 placement and panels|start-up: 10 show and run|" \
  "start-up order"
s=$(shot demo.png)
expect_eq "$(field "$s" size)" "800 600" "stored placement: window size"
[ "$(field "$s" colours)" -gt 20 ] || fail "demo screenshot is nearly blank: $(field "$s" colours) colours"
read -r strip strip_rows status status_rows menu_colour menu_share <<< "$(field "$s" bands)"
[ "$strip" -ge 12 ] && [ "$strip" -le 30 ] || fail "tool strip starts at row $strip, not under the menu bar"
expect_eq "$strip_rows" 30 "tool strip height"
expect_eq "$status" 580 "status line's first row"
expect_eq "$status_rows" 20 "status line height"
[ "$menu_colour" != "212,208,200" ] || fail "no menu bar above the tool strip"
[[ "$menu_share" > "0.80" ]] || fail "menu bar does not span the frame ($menu_share)"
read -r x0 y0 x1 y1 bx0 by0 bx1 by1 marks <<< "$(field "$s" view)"
[ "$bx1" -gt "$bx0" ] || fail "demo front view: no lines drawn"
# The state written back at close, in the program's own words.
expect_eq "$(grep '^WindowPosition=' a.ini)" "WindowPosition=0 1 -1 -1 -1 -1 40 30 840 630" \
  "WindowPosition written at close"
expect_eq "$(grep '^ToolPanel=' a.ini)" "ToolPanel=0 0 0" "hidden tool panel written back"
[[ "$(grep '^InfoPanel=' a.ini)" == "InfoPanel=1 "* ]] || fail "info panel: $(grep InfoPanel a.ini)"

# --- The next start reads back what the last one wrote.
# Catches: a placement written in a layout the reader does not take. The
# window is moved and sized by hand (xdotool) so the value written at close
# is the program's own, then a second start must come up at that size.
if command -v xdotool > /dev/null; then
  "$zentrope" --settings a.ini view 2> /dev/null &
  pid=$!
  if wait_window; then
    xdotool search --onlyvisible --name "Zentrope Studio" windowsize --sync 640 480 \
      windowmove --sync 16 24 > /dev/null 2>&1
    sleep 1
    xdotool key --delay 250 alt+F4
  else
    fail "read back: no window appeared"
  fi
  wait_exit "$pid" || { fail "read back: Exit did not close"; kill "$pid"; }
  read -r flags show _ _ _ _ left top right bottom <<< \
    "$(grep '^WindowPosition=' a.ini | cut -d= -f2)"
  expect_eq "$flags $show $((right - left)) $((bottom - top))" "0 1 640 480" \
    "placement written after a resize"
  view a.ini --screenshot again.png --quit-after 3 2> /dev/null
  expect_eq "$(field "$(shot again.png)" size)" "640 480" "placement read back at the next start"
else
  fail "xdotool is missing: install the xdotool package (scripts/setup.sh)"
fi

# --- SIGTERM (the session ends) closes the frame in order.
# Catches: a signal that kills the frame without writing its state.
printf '[STATE]\nWindowPosition=7 2 -1 -1 -1 -1 0 0 700 500\n' > t.ini
"$zentrope" --settings t.ini view 2> /dev/null &
pid=$!
wait_window || fail "SIGTERM: no window appeared"
kill -TERM "$pid"
wait_exit "$pid" || { fail "SIGTERM did not close the frame"; kill -KILL "$pid"; }
wait "$pid"
expect_eq "$?" 0 "SIGTERM: status"
expect_eq "$(grep '^WindowPosition=' t.ini)" "WindowPosition=0 1 -1 -1 -1 -1 0 0 700 500" \
  "SIGTERM: state written"

# --- A stored placement larger than the screen, or off it, is fitted.
# Catches: a damaged value that puts the frame out of reach, or one so
# large the program cannot start (every later start too).
printf '[STATE]\nWindowPosition=0 1 -1 -1 -1 -1 5000 5000 65000 65000\n' > big.ini
view big.ini --screenshot big.png --quit-after 3 2> /dev/null
expect_eq "$?" 0 "huge placement: status"
expect_eq "$(field "$(shot big.png)" size)" "1024 768" "huge placement: the screen's size"
expect_eq "$(grep '^WindowPosition=' big.ini)" "WindowPosition=0 1 -1 -1 -1 -1 0 0 1024 768" \
  "huge placement: written fitted"

# --- "Bogus": the frame fills the screen and is stored maximised.
# Catches: the default placement taken as a rectangle, or a maximised frame
# stored as a window.
view b.ini --screenshot bogus.png --quit-after 3 2> /dev/null
expect_eq "$?" 0 "empty frame status"
expect_eq "$(field "$(shot bogus.png)" size)" "1024 768" "Bogus: the whole screen"
[[ "$(grep '^WindowPosition=' b.ini)" == "WindowPosition=0 3 "* ]] ||
  fail "Bogus frame stored as $(grep WindowPosition b.ini)"
expect_eq "$(grep '^ToolPanel=' b.ini)" "ToolPanel=1 0 0" "default tool panel written"

# --- A segment in the sculpture window: its wireframe inside its view.
# Catches: lines drawn outside the view's picture or off its edge, or the
# control points not marked.
printf '[STATE]\nWindowPosition=0 1 -1 -1 -1 -1 0 0 800 600\n' > c.ini
view c.ini "$examples/vase/vase.seg" --view front --screenshot vase.png --quit-after 4 2> err.txt
expect_eq "$?" 0 "segment view status"
read -r x0 y0 x1 y1 bx0 by0 bx1 by1 marks <<< "$(field "$(shot vase.png)" view)"
[ "$bx1" -gt "$bx0" ] && [ "$by1" -gt "$by0" ] || fail "vase: no wireframe in the view"
# A tenth of the view is kept free on each side (a pixel of rounding).
[ $((bx0 - x0)) -ge $(((x1 - x0) / 10 - 2)) ] || fail "vase: lines at column $bx0, view from $x0"
[ $((x1 - bx1)) -ge $(((x1 - x0) / 10 - 2)) ] || fail "vase: lines to column $bx1, view to $x1"
[ $((by0 - y0)) -ge $(((y1 - y0) / 10 - 2)) ] || fail "vase: lines from row $by0, view from $y0"
[ $((y1 - by1)) -ge $(((y1 - y0) / 10 - 2)) ] || fail "vase: lines to row $by1, view to $y1"
[ "$((x1 - x0))" -gt 300 ] || fail "vase: the view is only $((x1 - x0)) pixels wide"
[ "$marks" -gt 0 ] || fail "vase: no control point marks in the sculpture window"

# --- A figure posed by its action at a frame, in quad view order of views.
# Catches: the character window failing on an action, or the frame option
# ignored (frames 1 and 20 of the walk differ).
view c.ini "$examples/demo/walker.fig" --action "$examples/demo/walk.act" --view left \
  --frame 1 --screenshot walk1.png --quit-after 3 2> err.txt
expect_eq "$?" 0 "figure view status"
view c.ini "$examples/demo/walker.fig" --action "$examples/demo/walk.act" --view left \
  --frame 20 --screenshot walk20.png --quit-after 3 2> err.txt
[ "$(field "$(shot walk1.png)" digest)" != "$(field "$(shot walk20.png)" digest)" ] ||
  fail "frames 1 and 20 of the walk look the same in the view"

# --- Quick Render and Render from the direction window.
# Catches: the render's result never reaching a render window, a quick
# render writing a file, or a range render from the window writing
# something other than the scene's frames.
mkdir quick && cd quick || exit 1
view ../c.ini "$examples/demo/demo.cho" --frame 12 --render quick --screenshot ../quick.png \
  --quit-after 3 2> ../err.txt
expect_eq "$?" 0 "quick render status"
expect_eq "$(ls | wc -l)" 0 "files a quick render wrote"
cd .. || exit 1
[ "$(field "$(shot quick.png)" colours)" -gt 2000 ] ||
  fail "quick render: no shaded picture on screen ($(field "$(shot quick.png)" colours) colours)"
cp -r "$examples/demo" scene && mkdir range && cd range || exit 1
view ../c.ini ../scene/demo.cho --render range --quit-after 3 2> ../err.txt
expect_eq "$?" 0 "range render status"
if command -v ffprobe > /dev/null; then
  expect_eq "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries \
    stream=nb_read_frames -of csv=p=0 demo.avi)" 30 "frames of the window's render"
else
  fail "ffprobe is missing: install ffmpeg (scripts/setup.sh)"
fi
cd .. || exit 1
view c.ini "$examples/vase/vase.seg" --render quick --quit-after 2 2> err.txt
expect_eq "$?" 1 "rendering a segment's window"

# --- Closing a changed choreography, driven from the keyboard (xdotool).
# Catches: a close that abandons a changed choreography without asking, a
# refusal that ends the program anyway, "Don't Save" writing the file, or
# "Save" not writing it.
# Opens the Render dialog (R), sets "To" to 20 (the field under "From")
# and presses Render: the scene is changed and its 20 frames are rendered.
render_to_20() {
  # Waits are generous: under load a frame of the sanitizer build is slow.
  xdotool mousemove 400 300 click 1
  sleep 1
  xdotool key --delay 250 r
  sleep 1
  xdotool key --delay 250 Down Return ctrl+a 2 0 Return
  sleep 1
  xdotool key --delay 250 Down Down Down Down space
  for _ in $(seq 150); do
    [ "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
      -of csv=p=0 demo.avi 2> /dev/null)" == 20 ] && return 0
    sleep 0.2
  done
  return 1
}
if command -v xdotool > /dev/null; then
  cp -r "$examples/demo" closing && mkdir close_run && cd close_run || exit 1
  printf '[STATE]\nWindowPosition=0 1 -1 -1 -1 -1 0 0 800 600\n[RENDER]\nRenderMode=WIREFRAME\n' > d.ini
  "$zentrope" --settings d.ini view ../closing/demo.cho 2> err.txt &
  pid=$!
  wait_window || fail "close: no window appeared"
  render_to_20 || fail "close: the Render dialog did not render frames 1-20"
  xdotool key --delay 250 alt+F4
  sleep 1
  xdotool key --delay 250 Escape  # Cancel
  sleep 2
  kill -0 "$pid" 2> /dev/null || fail "close: Cancel ended the program"
  xdotool key --delay 250 alt+F4
  sleep 1
  xdotool key --delay 250 n  # Don't Save
  wait_exit "$pid" || { fail "close: Don't Save did not close"; kill "$pid"; }
  cmp -s ../closing/demo.cho "$examples/demo/demo.cho" || fail "close: Don't Save changed the file"
  grep -q '^WindowPosition=0 1 -1 -1 -1 -1 0 0 800 600' d.ini || fail "close: state not written"

  "$zentrope" --settings d.ini view ../closing/demo.cho 2> err.txt &
  pid=$!
  wait_window || fail "save: no window appeared"
  render_to_20 || fail "save: the Render dialog did not render frames 1-20"
  xdotool key --delay 250 alt+F4
  sleep 1
  xdotool key --delay 250 s  # Save
  wait_exit "$pid" || { fail "save: Save did not close"; kill "$pid"; }
  expect_eq "$("$zentrope" info ../closing/demo.cho --json | python3 -c \
    'import json,sys; print(json.load(sys.stdin)["render_to"])')" "20.0" "saved render range"
  cd .. || exit 1
else
  fail "xdotool is missing: install the xdotool package (scripts/setup.sh)"
fi

# --- A document that cannot be opened: said on one line, the frame runs on.
# Catches: a failed open ending the program or passing in silence.
view c.ini nosuch.cho --quit-after 2 2> err.txt
expect_eq "$?" 0 "missing document: the frame still runs"
grep -q "nosuch.cho: Trouble Opening Choreography" err.txt ||
  fail "missing document: said [$(cat err.txt)]"

# --- Several documents at once, tiled side by side.
# Catches: only the first file opened, or windows left on top of each other.
view c.ini "$examples/vase/vase.seg" "$examples/box.seg" --screenshot two.png --quit-after 4 \
  2> err.txt
expect_eq "$?" 0 "two documents status"
expect_eq "$(field "$(shot two.png)" panes)" 2 "views side by side"

# --- Help without a viewer to show it: message 294 on the screen and on
# standard error, and the program runs on.
# Catches: a help that fails in silence.
if command -v xdotool > /dev/null; then
  PATH=/nonexistent "$zentrope" --settings c.ini view 2> help.txt &
  pid=$!
  wait_window || fail "help: no window appeared"
  xdotool key --delay 250 F1
  sleep 1
  kill -0 "$pid" 2> /dev/null || fail "help: the program ended"
  xdotool key --delay 250 alt+F4
  wait_exit "$pid" || { fail "help: Exit did not close"; kill "$pid"; }
  grep -q "Could Not Open Help File \[Zentrope.hlp\]." help.txt ||
    fail "help: said [$(cat help.txt)]"
fi

# --- Bad options are usage errors, before any window.
"$zentrope" view --view sideways > /dev/null 2>&1
expect_eq "$?" 2 "unknown view"
"$zentrope" --settings c.ini view "$examples/vase/vase.seg" --action "$examples/demo/walk.act" \
  > /dev/null 2>&1
expect_eq "$?" 2 "an action without a figure"
"$zentrope" --settings c.ini view --frame 3 > /dev/null 2>&1
expect_eq "$?" 2 "a frame without a document"
# A model has no camera: said, and its Front view shown.
view c.ini "$examples/vase/vase.seg" --view camera --quit-after 2 2> err.txt
expect_eq "$?" 0 "camera view of a segment: status"
grep -q "the Camera view is a choreography's" err.txt || fail "camera view of a segment: [$(cat err.txt)]"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  echo 1 > "$VIEW_TEST_STATUS"
  exit 1
fi
echo "view: all checks passed"
echo 0 > "$VIEW_TEST_STATUS"
