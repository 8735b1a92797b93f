#!/usr/bin/env bash
# The zentrope command on the sample documents: info, check, resave,
# settings and project. Usage: cli_test.sh ZENTROPE SOURCE_DIR
set -u
zentrope=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZENTROPE_INI="$work/zentrope.ini"
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: got [$1] expected [$2]"; }

box="$source_dir/examples/box.seg"

out=$("$zentrope" info "$box" --json)
expect_eq "$out" '{"type":"SCUL","version":2,"splines":7,"points":18,"groups":2,"bbox":[-10.0,-5.0,-20.0,10.0,10.0,10.0],"pivot":[0.0,5.0,0.0],"highest_number":18,"patches":4,"patches3":0,"patches4":4}' "info --json"

"$zentrope" check "$source_dir"/examples/*.seg "$source_dir"/examples/*.grp || fail "check of the examples"

printf 'SCUL 2 0 1 0 0 0\n0\n0 0 0 0 0 0\n0 0 0\n32767\n' > "$work/bad.seg"
out=$("$zentrope" check "$box" "$work/bad.seg")
status=$?
expect_eq "$status" 1 "check status on a bad file"
expect_eq "$out" "$work/bad.seg: Trouble Opening Segment ($work/bad.seg:5: impossible spline count 32767)" "check line"

"$zentrope" resave "$box" -o "$work/a/box.seg" || fail "resave"
"$zentrope" resave "$work/a/box.seg" -o "$work/b/box.seg" || fail "resave again"
cmp -s "$work/a/box.seg" "$work/b/box.seg" || fail "resaved segment differs"
cmp -s "$work/a/box.grp" "$source_dir/examples/box.grp" || fail "group file changed"

printf 'SCUL 2 0 1 0 0 0\n0\n0 0 0 0 0 0\n0 0 0\n1\n3\n1 0 1\n5 0 0\n0\n0\n1 0 2\n8 5 0\n0\n0\n1 0 3\n5 10 0\n0\n0\n' > "$work/profile.seg"
"$zentrope" lathe "$work/profile.seg" --sections 8 -o "$work/vase.seg" || fail "lathe"
"$zentrope" info "$work/vase.seg" --json | grep -q '"splines":12,"points":51,.*"patches":16,"patches3":0,"patches4":16' || fail "lathed segment"
"$zentrope" lathe "$work/profile.seg" --sections 0 -o "$work/none.seg" 2>/dev/null && fail "zero sections accepted"
[ -e "$work/none.seg" ] && fail "zero sections wrote a file"

samples="$source_dir/tests/data/material"
expect_eq "$("$zentrope" info "$samples/indexed8.pict" --json)" '{"type":"IMAGE","format":"PICT","width":19,"height":3,"bytes_per_pixel":3}' "picture info"
"$zentrope" convert "$samples/rgb24.iff" -o "$work/pic.png" || fail "convert to PNG"
expect_eq "$("$zentrope" info "$work/pic.png" --json)" '{"type":"IMAGE","format":"PNG","width":5,"height":3,"bytes_per_pixel":3}' "converted PNG"
"$zentrope" convert "$work/pic.png" -o "$work/pic.tga" || fail "convert to Targa"
expect_eq "$("$zentrope" info "$work/pic.tga" --json)" '{"type":"IMAGE","format":"TGA","width":5,"height":3,"bytes_per_pixel":3}' "converted Targa"
"$zentrope" convert "$samples/rgb.png" -o "$work/pic.bmp" 2>/dev/null && fail "unknown output accepted"
head -c 40 "$samples/rgb24.pcx" > "$work/cut.pcx"
"$zentrope" check "$work/cut.pcx" > /dev/null && fail "truncated picture passed"

arm="$source_dir/examples/arm"
expect_eq "$("$zentrope" info "$arm/arm.fig" --json)" '{"type":"FIGU","version":4,"nodes":2,"ghosts":0}' "figure info"
"$zentrope" info "$arm/wave.act" --json | grep -q '"length":30,"nodes":\[{"segment":"[^"]*lower.seg","keys":\[0,0,0,0,0,0,2,2,2,2\]}\]' || fail "action info"
rest=$("$zentrope" eval "$arm/arm.fig" --json)
echo "$rest" | grep -q '"frame_transform":\[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0,0.0,-10.0,0.0\]' || fail "rest pose: $rest"
moved=$("$zentrope" eval "$arm/wave.act" --figure "$arm/arm.fig" --frame 30 --json)
echo "$moved" | grep -q '"channels":\[0.0,0.0,0.0,100.0,100.0,100.0,-100.0,0.0,0.0,45.0\]' || fail "posed channels: $moved"
"$zentrope" eval "$arm/wave.act" --frame 3 2>/dev/null && fail "action without a figure accepted"
# Resaved beside the originals, paths stay relative and the bytes the same.
mkdir -p "$work/arm2"
cp "$arm"/* "$work/arm2/"
"$zentrope" resave "$work/arm2/arm.fig" -o "$work/arm2/copy.fig" || fail "resave figure"
"$zentrope" resave "$work/arm2/wave.act" -o "$work/arm2/copy.act" || fail "resave action"
cmp -s "$arm/arm.fig" "$work/arm2/copy.fig" || fail "resaved figure differs"
cmp -s "$arm/wave.act" "$work/arm2/copy.act" || fail "resaved action differs"
[ -e "$work/arm2/copy.att" ] || fail "resaved figure lacks its attribute file"
"$zentrope" eval "$arm/wave.act" --figure "$arm/arm.fig" --frame 1 --points --json | grep -q '"points":\[{"number":1,"position":\[-2.0,0.0,0.0\]' || fail "eval --points"
printf 'SKIN 2 0 1 0 0 0\n0\nlower.seg\n2\n3 1\n4 2\n' > "$work/arm.ski"
expect_eq "$("$zentrope" info "$work/arm.ski" --json)" '{"type":"SKIN","version":2,"nodes":1,"pairs":2}' "skin info"
printf 'ATTR 6 0 1 0 0 0\n0\nupper.seg\n1 0 1\n80 \ndefault\n1 0\nnosurface\n' > "$work/arm.att"
expect_eq "$("$zentrope" info "$work/arm.att" --json)" '{"type":"ATTR","version":6,"nodes":1,"materials":1,"maps":0}' "attribute info"
printf 'SKEF 1 0 1 0 0 0\n0\n10\nlower.seg\n2\n0 0 0 100 100 100 0 -100 0 0 \n' > "$work/pose.skf"
expect_eq "$("$zentrope" info "$work/pose.skf" --json)" '{"type":"SKEF","version":1,"size":10.0,"nodes":1}' "frame info"

scene="$source_dir/examples/scene.cho"
expect_eq "$("$zentrope" info "$scene" --json | sed 's/,"figure_files".*//')" '{"type":"CHOR","version":9,"length":60,"render_from":1.0,"render_to":60.0,"render_step":1.0,"output_name":"wave.avi","render_format":"AVI","output_size":[320,240],"paths":3,"lights":1,"figures":2,"tracks":[[2,1],[]]' "scene info"
out=$("$zentrope" eval "$scene" --frame 20 --json)
echo "$out" | grep -q '"tracks":\[{"placement":0,"action_frame":15.0},{"placement":0,"action_frame":14.5}\]' || fail "scene eval: $out"
echo "$out" | grep -q '"lights":\[{"position":\[16.09' || fail "scene eval light: $out"
mkdir -p "$work/scene"
cp -r "$source_dir/examples/arm" "$work/scene/arm"
cp "$scene" "$work/scene/scene.cho"
"$zentrope" resave "$work/scene/scene.cho" -o "$work/scene/copy.cho" || fail "scene resave"
cmp -s "$scene" "$work/scene/copy.cho" || fail "resaved scene differs"
"$zentrope" simulate "$work/scene/copy.cho" -o "$work/scene/sim.cho" || fail "simulate"
"$zentrope" simulate "$work/scene/copy.cho" -o "$work/scene/sim2.cho" || fail "simulate again"
cmp -s "$work/scene/sim.cho" "$work/scene/sim2.cho" || fail "simulation not deterministic"
"$zentrope" eval "$work/scene/sim.cho" --frame 60 --json | grep -q '"placement_transform":\[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0,0.0,18.0,-100.0\]' || fail "dropped figure at rest on the ground"
rm "$work/scene/arm/arm.fig"
out=$("$zentrope" eval "$work/scene/copy.cho" --frame 1 2>&1)
status=$?
expect_eq "$status" 1 "eval status without the figure"
echo "$out" | grep -q "error 107: Trouble Opening Figure: $work/scene/arm/arm.fig" || fail "missing figure message: $out"
head -c 300 "$scene" > "$work/cut.cho"
out=$("$zentrope" info "$work/cut.cho" 2>&1)
echo "$out" | grep -q "Trouble Opening Choreography" || fail "cut scene: $out"

expect_eq "$("$zentrope" settings get RENDER Step)" "1" "default setting"
"$zentrope" settings set DIRECTION GridSpacing 150 || fail "settings set"
expect_eq "$("$zentrope" settings get direction gridspacing)" "150" "stored setting"
"$zentrope" --settings "$work/other.ini" settings set RENDER Step 2 || fail "--settings"
expect_eq "$("$zentrope" --settings "$work/other.ini" settings get RENDER Step)" "2" "--settings get"
expect_eq "$("$zentrope" settings get RENDER Step)" "1" "other file untouched"
"$zentrope" settings list | grep -q '^DIRECTION GridSpacing=150$' || fail "settings list"
"$zentrope" settings get RENDER NoSuchKey 2>/dev/null && fail "unknown key accepted"

mkdir -p "$work/demo/MODELS"
cp "$box" "$work/demo/MODELS/Box.seg"
out=$("$zentrope" check 'DEMO:\MODELS\BOX.SEG')
expect_eq "$out" 'DEMO:\MODELS\BOX.SEG: Unrecognized Project DEMO: (add it with: zentrope project add DEMO: DIRECTORY)' "unknown project"
"$zentrope" project add DEMO: "$work/demo" || fail "project add"
expect_eq "$("$zentrope" project list)" "DEMO:	$work/demo" "project list"
"$zentrope" check 'DEMO:\MODELS\BOX.SEG' || fail "project path with DOS names"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]

# ---------------------------------------------------------------------------
# Names documents hold. check follows every name through the documents a
# scene, figure or action refers to; a scene resaved by its bare name into a
# subfolder still evaluates; a three-character project folder is no drive.
# Expected lines come from the sample documents: arm.fig names upper.seg on
# its line 3 and lower.seg on line 11 (two header lines, then records of
# eight lines); wave.act names lower.seg on its line 6 (five lines of
# header, length, stride and reference size before its first record).
names="$work/names"
# The commands below run in other folders: the program by its absolute name.
zentrope=$(cd "$(dirname "$zentrope")" && pwd)/$(basename "$zentrope")
mkdir -p "$names/arm" "$names/broken" "$names/abc"
cp "$source_dir/examples/scene.cho" "$names/"
cp "$source_dir"/examples/arm/* "$names/arm/"
real=$(cd "$names" && pwd -P)

"$zentrope" check "$names/scene.cho" || fail "check of the sample scene"

# Resaved from the scene's folder by its bare name: the copy in sub/ must
# evaluate as the original does.
(cd "$names" && "$zentrope" resave scene.cho -o sub/scene.cho) || fail "bare-name resave into sub/"
original=$("$zentrope" eval "$names/scene.cho" --frame 20 --json)
copy=$(cd "$work" && "$zentrope" eval "$names/sub/scene.cho" --frame 20 --json)
status=$?
expect_eq "$status" 0 "eval of the copy in sub/"
expect_eq "$copy" "$original" "copy in sub/ evaluates as the original"
(cd "$work" && "$zentrope" check "$names/sub/scene.cho") || fail "check of the copy in sub/"

# A figure whose segments are all missing, and an action naming a missing
# segment: each name reported with its document and line, status 1.
cp "$names/arm/arm.fig" "$names/arm/wave.act" "$names/broken/"
out=$(cd "$names/broken" && "$zentrope" check arm.fig wave.act)
status=$?
expect_eq "$status" 1 "check status with missing names"
expect_eq "$out" "arm.fig:3: cannot find upper.seg ($real/broken/upper.seg)
arm.fig:11: cannot find lower.seg ($real/broken/lower.seg)
wave.act:6: cannot find lower.seg ($real/broken/lower.seg)" "missing names with document and line"

# A scene whose figure lost a segment: the names are followed from the scene
# into the figure and the action; each document is read once.
rm "$names/arm/lower.seg"
out=$(cd "$names" && "$zentrope" check scene.cho)
status=$?
expect_eq "$status" 1 "check status of a scene missing a segment"
expect_eq "$out" "arm/arm.fig:11: cannot find lower.seg ($real/arm/lower.seg)
arm/wave.act:6: cannot find lower.seg ($real/arm/lower.seg)" "names followed from the scene"

# REL: in the folder abc (three characters, not a drive root). The set is in
# capitals, its group file found beside it as BALL.GRP.
cp "$box" "$names/abc/BALL.SEG"
cp "$source_dir/examples/box.grp" "$names/abc/BALL.GRP"
(cd "$names" && "$zentrope" project add REL: abc) || fail "project add REL:"
expect_eq "$(cd "$names" && "$zentrope" info 'REL:\BALL.SEG' --json)" "$("$zentrope" info "$box" --json)" "REL:\\BALL.SEG opens abc/BALL.SEG"

echo "$failures failure(s) after the names section"
[ "$failures" -eq 0 ]
