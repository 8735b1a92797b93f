#!/usr/bin/env bash
# The main job from the command line: `zentrope render SCENE.cho` over
# ranges, frame lists, formats and modes; resuming, interrupting, encoding,
# and the bad input a farm meets. Usage: render_test.sh ZENTROPE SOURCE_DIR
set -u
zentrope=$1
source_dir=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2> /dev/null; rm -rf "$work"' EXIT
export ZENTROPE_INI="$work/zentrope.ini"
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: got [$1] expected [$2]"; }

command -v ffprobe > /dev/null || { echo "FAIL: ffprobe is missing: install ffmpeg"; exit 1; }

examples="$source_dir/examples"
vase="$examples/vase/vase.cho"
cd "$work" || exit 1

# Frames a movie holds, as ffprobe decodes them.
movie_frames() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}
# The picture's width and height as `info` reads the written file.
picture_size() {
  "$zentrope" info "$1" --json | python3 -c \
    'import json,sys; j=json.load(sys.stdin); print(j["width"], j["height"])'
}

# --- A range of PNG frames, named by the run of #.
# Catches: frames named by the Targa rule when the name asks for padding,
# or the range's last frame left out.
out=$("$zentrope" render "$vase" --mode zbuffer --frames 1-6 --size 160x120 \
  -o full/v_####.png 2> err.txt)
expect_eq "$?" 0 "range render status"
expect_eq "$(ls full | tr '\n' ' ')" "v_0001.png v_0002.png v_0003.png v_0004.png v_0005.png v_0006.png " \
  "range render files"
grep -q "6 frame(s) rendered" <<< "$out" || fail "summary on standard output: [$out]"
expect_eq "$(picture_size full/v_0003.png)" "160 120" "frame size"

# Catches: a sub-range posing frames differently (range-dependent state) or
# naming them by their place in the list rather than by frame.
"$zentrope" render "$vase" --mode zbuffer --frames 3-4 --size 160x120 -o sub/v_####.png \
  > /dev/null 2>&1
expect_eq "$(ls sub | tr '\n' ' ')" "v_0003.png v_0004.png " "sub-range names"
for f in v_0003.png v_0004.png; do
  cmp -s "sub/$f" "full/$f" || fail "sub-range $f differs from the full range's"
done

# Catches: the picture depending on the thread count.
"$zentrope" render "$vase" --mode zbuffer --frames 2,5 --size 160x120 --threads 1 \
  -o one/v_####.png > /dev/null 2>&1
cmp -s one/v_0005.png full/v_0005.png || fail "--threads 1 differs from the default threads"

# --- Resuming.
# Catches: --skip-existing rendering finished frames again (their files
# rewritten) or skipping a missing one.
rm full/v_0002.png
before=$(stat -c %Y:%i full/v_0004.png)
sleep 1
"$zentrope" render "$vase" --mode zbuffer --frames 1-6 --size 160x120 --skip-existing \
  --progress json -o full/v_####.png > /dev/null 2> resume.txt
expect_eq "$?" 0 "resume status"
expect_eq "$(grep -c '"skipped":true' resume.txt)" 5 "frames kept when resuming"
expect_eq "$(grep -c '"skipped":false' resume.txt)" 1 "frames rendered when resuming"
expect_eq "$(stat -c %Y:%i full/v_0004.png)" "$before" "a finished frame left as it was"
cmp -s full/v_0002.png one/v_0002.png || fail "the missing frame was not rendered as before"
grep -q '"event":"completed"' resume.txt || fail "no completed line: $(cat resume.txt)"

# Catches: --list-missing listing finished frames or rendering anything.
rm full/v_0005.png
listed=$("$zentrope" render "$vase" --frames 1-7 -o full/v_####.png --list-missing)
expect_eq "$(tr '\n' ' ' <<< "$listed")" "5 7 " "--list-missing"
[ -e full/v_0007.png ] && fail "--list-missing rendered a frame"

# Catches: a skipped frame reported before the frame still being written.
rm full/v_0003.png
"$zentrope" render "$vase" --mode zbuffer --frames 1-4 --size 160x120 --skip-existing \
  --progress json -o full/v_####.png > /dev/null 2> order.txt
expect_eq "$(grep -o '"frame":[0-9]*' order.txt | tr '\n' ' ')" \
  '"frame":1 "frame":2 "frame":3 "frame":4 ' "JSON lines in frame order"

# Catches: a quick render's picture renamed by the sequence rule.
"$zentrope" render "$vase" --quick --frame 12 --size 80x60 -o preview.png > /dev/null 2>&1
[ -s preview.png ] || fail "--quick did not write preview.png: $(ls)"

# --- The Targa rule for names without #.
# Catches: the base not cut to 8 characters with the number.
"$zentrope" render "$vase" --mode zbuffer --frames 7,12 --size 80x60 -o tga/WALKCYCLE.TGA \
  > /dev/null 2>&1
expect_eq "$(ls tga | tr '\n' ' ')" "WALKCY12.TGA WALKCYC7.TGA " "Targa numbering"

# --- Movies.
# Catches: a movie left open (no index) or short of frames.
"$zentrope" render "$vase" --mode zbuffer --frames 1-5 --size 160x120 -o movie/v.avi \
  > /dev/null 2>&1
expect_eq "$?" 0 "movie render status"
expect_eq "$(movie_frames movie/v.avi)" 5 "frames in the rendered movie"
# Catches: encode skipping or repeating frames of the sequence.
"$zentrope" encode 'full/v_####.png' -o movie/encoded.avi --fps 24 > /dev/null 2> encode.txt
expect_eq "$?" 0 "encode status"
expect_eq "$(movie_frames movie/encoded.avi)" 5 "frames encoded (1-4 and 6; 5 was removed)"
grep -q "frames 5 to 5 are missing" encode.txt || fail "encode did not name the gap"
expect_eq "$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 \
  movie/encoded.avi)" "24/1" "encoded frame rate"

# Catches: a failed encode putting a short movie over a good one.
cp movie/encoded.avi movie/before.avi
head -c 3000 full/v_0006.png > full/v_0004.png
"$zentrope" encode 'full/v_####.png' -o movie/encoded.avi > /dev/null 2>&1
expect_eq "$?" 1 "encode of a damaged frame"
cmp -s movie/encoded.avi movie/before.avi || fail "a failed encode changed the movie"
expect_eq "$(ls -a movie | grep -c encoding)" 0 "the working movie removed"

# --- Modes and formats.
# Catches: a wireframe render not on white paper, or drawing nothing.
"$zentrope" render "$vase" --mode wireframe --frames 1 --size 160x120 -o wire/w_#.png \
  > /dev/null 2>&1
python3 - wire/w_1.png << 'EOF' || fail "wireframe picture"
import sys, zlib, struct
data = open(sys.argv[1], "rb").read()
# The PNG's pixels: inflate the IDAT chunks and undo the row filters
# (8-bit RGB; the writer uses filter 0 or others, all handled here).
pos, idat, width, height = 8, b"", 0, 0
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        width, height = struct.unpack(">II", body[:8])
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
raw = zlib.decompress(idat)
stride = width * 3
rows, prev, i = [], bytearray(stride), 0
for _ in range(height):
    f = raw[i]; row = bytearray(raw[i + 1:i + 1 + stride]); i += 1 + stride
    for x in range(stride):
        a = row[x - 3] if x >= 3 else 0
        b = prev[x]; c = prev[x - 3] if x >= 3 else 0
        if f == 1: row[x] = (row[x] + a) & 255
        elif f == 2: row[x] = (row[x] + b) & 255
        elif f == 3: row[x] = (row[x] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(row); prev = row
pixels = [tuple(r[x:x + 3]) for r in rows for x in range(0, stride, 3)]
white = sum(p == (255, 255, 255) for p in pixels)
black = sum(p == (0, 0, 0) for p in pixels)
assert white > len(pixels) // 2, "mostly white paper"
assert black > 100, "lines drawn in black"
assert white + black == len(pixels), "only paper and lines"
EOF
# Catches: the raytracer's frames not written through the driver.
"$zentrope" render "$vase" --mode raytrace --frames 1 --size 80x60 -o ray/r_#.png \
  > /dev/null 2>&1
expect_eq "$(picture_size ray/r_1.png)" "80 60" "raytraced frame"
# Catches: geometry formats not numbered per frame, or QTM not one file.
"$zentrope" render "$vase" --frames 1-2 --format dxf -o geo/vase.dxf > /dev/null 2>&1
expect_eq "$(ls geo | tr '\n' ' ')" "vase1.dxf vase2.dxf " "DXF sequence"
"$zentrope" render "$vase" --frames 1-3 -o qtm/vase.qtm > /dev/null 2>&1
expect_eq "$(ls qtm)" "vase.qtm" "one QTM file under the name given"
"$zentrope" render "$vase" --frames 1-2 -o geo/w_##.dxf > /dev/null 2>&1
[ -s geo/w_01.dxf ] && [ -s geo/w_02.dxf ] || fail "# in a DXF name: $(ls geo)"

# --- An action on a figure: the skeletal window's render.
# Catches: the action render not on cyan paper in wireframe.
"$zentrope" render "$examples/arm/wave.act" --figure "$examples/arm/arm.fig" --mode wireframe \
  --frames 1-2 --size 80x60 -o act/a_#.tga > /dev/null 2>&1
expect_eq "$(ls act | tr '\n' ' ')" "a_1.tga a_2.tga " "action render files"
# The Targa's first pixel (top-left; type 10 run-length, 24-bit): blue,
# green, red after the 18-byte header and a packet byte.
corner=$(python3 -c "
d=open('act/a_1.tga','rb').read(); print(d[19], d[20], d[21])")
expect_eq "$corner" "255 255 0" "cyan paper (blue 255, green 255, red 0)"

# --- Bad input.
mkdir -p lost && cp "$examples/scene.cho" lost/
# Catches: a scene whose figure is gone rendering empty frames.
msg=$("$zentrope" render lost/scene.cho --mode zbuffer --frames 1 -o lost/f_#.png 2>&1)
expect_eq "$?" 1 "missing figure status"
grep -q "arm.fig" <<< "$msg" || fail "missing figure not named: [$msg]"
[ -e lost/f_1.png ] && fail "a frame rendered without its figure"

mkdir -p noact/arm && cp "$examples/scene.cho" noact/ &&
  cp "$examples/arm/arm.fig" "$examples/arm/upper.seg" "$examples/arm/lower.seg" noact/arm/
# Catches: a missing action silently ignored, warned every frame, or fatal.
"$zentrope" render noact/scene.cho --mode zbuffer --frames 1-3 --size 80x60 \
  -o noact/f_#.png > noact/out.txt 2> noact/err.txt
expect_eq "$?" 0 "missing action status"
expect_eq "$(grep -c 'wave.act' noact/err.txt)" 1 "one warning per missing action"
grep -q "missing" noact/out.txt || fail "summary does not list the missing action"
# Catches: --strict rendering before it stops.
"$zentrope" render noact/scene.cho --strict --frames 1-3 -o noact/s_#.png > /dev/null 2> strict.txt
expect_eq "$?" 1 "--strict status"
grep -q "cannot find" strict.txt || fail "--strict does not name the file: $(cat strict.txt)"
[ -e noact/s_1.png ] && fail "--strict rendered a frame"

# Catches: an output folder that cannot be made reported as success.
touch blocker
msg=$("$zentrope" render "$vase" --frames 1 -o blocker/sub/f_#.png 2>&1)
expect_eq "$?" 1 "output folder status"
grep -q "Trouble Rendering!" <<< "$msg" || fail "output folder message: [$msg]"

# Catches: an unreadable frame list taken as something else.
msg=$("$zentrope" render "$vase" --frames 1-x -o f.png 2>&1)
expect_eq "$?" 2 "bad frame list status"
grep -q "expected" <<< "$msg" || fail "bad frame list message: [$msg]"
# Catches: a range given backwards rendering, or taken as a mistake of form.
msg=$("$zentrope" render "$vase" --frames 9-3 -o f.png 2>&1)
expect_eq "$?" 0 "reversed frame list status"
grep -q "nothing to render" <<< "$msg" || fail "reversed frame list message: [$msg]"
# Catches: half frames of a step below 1 written over whole frames' files.
msg=$("$zentrope" render "$vase" --frames 1-3 --step 0.5 -o half/h_##.png 2>&1)
expect_eq "$?" 2 "fractional frames to files status"
[ -e half ] && fail "fractional frames wrote files"
# Catches: a raytracer option dropped in silence by a z-buffer render.
"$zentrope" render "$vase" --mode zbuffer --shadows --frames 1 -o sh.png > /dev/null 2>&1
expect_eq "$?" 2 "--shadows with the z-buffer"
# Catches: a scene file's output name writing outside the current folder.
mkdir -p esc/a && sed '11s|.*|../../escaped.avi|' "$vase" > esc/a/esc.cho
cp "$examples/vase/vase.fig" "$examples/vase/vase.seg" esc/a/
(cd esc/a && "$zentrope" render esc.cho --frames 1 > /dev/null 2> ../err.txt)
expect_eq "$?" 1 "scene output name outside the folder"
[ -e escaped.avi ] && fail "the scene's name wrote outside the current folder"
grep -q "name the output with -o" esc/err.txt || fail "escape message: $(cat esc/err.txt)"

# Catches: a scene whose range runs backwards rendering or failing.
sed '2s/.*/60 30 10 1/' "$vase" > backwards.cho
cp "$examples/vase/vase.fig" "$examples/vase/vase.seg" "$examples/vase/vase.att" . 2> /dev/null
msg=$("$zentrope" render backwards.cho -o back_#.png 2>&1)
expect_eq "$?" 0 "backwards range status"
grep -q "nothing to render" <<< "$msg" || fail "backwards range message: [$msg]"

# --- Interrupting: Ctrl-C and SIGTERM end the range after the current
# frame, leave only complete files and exit 130.
for signal in INT TERM; do
  dir="stop_$signal"
  mkdir -p "$dir"
  "$zentrope" render "$vase" --mode raytrace --aa high --shadows --frames 1-200 --size 320x240 \
    --progress json -o "$dir/s_####.png" > /dev/null 2> "$dir.err" &
  pid=$!
  for _ in $(seq 1 600); do
    grep -q '"event":"frame"' "$dir.err" && break
    sleep 0.1
  done
  kill -s "$signal" "$pid"
  wait "$pid"
  status=$?
  # Catches: a signal ending the program at once, or reported as success.
  expect_eq "$status" 130 "status after SIG$signal"
  written=$(ls "$dir" | wc -l)
  [ "$written" -ge 1 ] && [ "$written" -lt 200 ] || fail "SIG$signal: $written frames written"
  # Catches: a half-written frame or a temporary left under the folder.
  for f in "$dir"/*; do
    case "$f" in
      *.png) "$zentrope" info "$f" > /dev/null 2>&1 || fail "SIG$signal left a broken $f" ;;
      *) fail "SIG$signal left $f" ;;
    esac
  done
  grep -q '"event":"failed".*"interrupted":true' "$dir.err" ||
    fail "SIG$signal: no failed line: $(tail -1 "$dir.err")"
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "render tests passed"
