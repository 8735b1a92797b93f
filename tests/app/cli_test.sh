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

# ---- Older skeletal and morph files (.ske, .mor) --------------------------
# A version 4 skeletal file for the arm's lower segment. Its record is an
# angle-keyed channel set: X Translate keys 0 and 5 at frames 1 and 11,
# Latitude 0 and 90 at the same frames, Roll 20, Longitude 90.
old="$work/old"
mkdir -p "$old"
cp "$arm"/arm.fig "$arm"/upper.seg "$arm"/lower.seg "$old/"
angle_set='9 16 1\nlower\ndummypathname\n1\n2\n1\n0 0 0\n0\n0\n1\n10 5 0\n0\n0\n1\n0\n1\n0\n1\n0\n1\n0\n1\n0\n1\n2\n1\n0 0 0\n0\n0\n1\n10 90 0\n0\n0\n1\n1\n1\n0 20 0\n0\n0\n1\n1\n1\n0 90 0\n0\n0\n0\n'
printf "ACTI 4 0 1 0 0 0\n0\n11\n0\nlower.seg\n$angle_set" > "$old/wave.ske"
# Tag and version from the header, length from the third line; the keys
# per channel: X Translate 2, none on 1 to 5, a direction key on 6 to 8 at
# each of the 2 Latitude keys, and Roll's 1 key moved to channel 9.
out=$("$zentrope" info "$old/wave.ske" --json)
echo "$out" | grep -q '^{"type":"ACTI","version":4,"length":11,"nodes":\[{"segment":"[^"]*lower.seg","keys":\[2,0,0,0,0,0,2,2,2,1\]}\]}$' || fail "older skeletal info: $out"
# At frame 11 the lower segment sits at its figure position (0, -10, 0)
# moved by the last X Translate key, 5; Roll is the keyed 20.
out=$("$zentrope" eval "$old/wave.ske" --figure "$old/arm.fig" --frame 11 --json)
echo "$out" | grep -q '"channels":\[5.0,0.0,0.0,100.0,100.0,100.0,[^]]*,20.0\]' || fail "older skeletal eval channels: $out"
echo "$out" | grep -q '"frame_transform":\[[^]]*,5.0,-10.0,0.0\]' || fail "older skeletal eval position: $out"
# A version 2 morph file stores its records in the figure's depth-first
# order: two records, no segment names.
printf "MORP 2 0 1 0 0 0\n0\n8\n0\n$angle_set$angle_set" > "$old/twist.mor"
expect_eq "$("$zentrope" info "$old/twist.mor" --json | sed 's/,"nodes".*//')" '{"type":"MORP","version":2,"length":8' "morph info"
"$zentrope" resave "$old/wave.ske" -o "$old/wave.act" || fail "older skeletal file converted"
"$zentrope" info "$old/wave.act" --json | grep -q '^{"type":"ACTI","version":1,"length":11,.*"keys":\[2,0,0,0,0,0,2,2,2,1\]' || fail "converted action"
"$zentrope" resave "$old/wave.ske" -o "$old/again.ske" 2>/dev/null && fail "an older layout written"
"$zentrope" resave "$old/twist.mor" -o "$old/twist.act" 2>/dev/null && fail "unnamed records written"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
