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

# Expected values are worked out from the documents themselves (with awk and
# od, which every machine running this has), or a comment says how they
# follow from the document.

# The 16-bit big-endian number at a byte offset of a file.
be16() { od -An -tu1 -j "$2" -N2 "$1" | awk '{ print $1 * 256 + $2 }'; }
# "splines points highest_number" of a version 2 segment file: line 5 holds
# the spline count; each spline a point count and four lines per point, the
# first of them "flags stacked number".
seg_counts() {
  awk 'NR == 5 { splines = $1; want = "count"; next }
       NR < 5 { next }
       want == "count" { n = $1; points += n; k = 0; if (n > 0) want = "a"; next }
       want == "a" { if ($3 > high) high = $3; want = "b"; next }
       want == "b" { want = "c"; next }
       want == "c" { want = "d"; next }
       want == "d" { want = (++k < n) ? "a" : "count"; next }
       END { print splines, points, high }' "$1"
}
# Line N of a file as JSON numbers "a,b,c" (whole values printed with ".0").
json_line() { sed -n "$2p" "$1" | awk '{ for (i = 1; i <= NF; ++i) { x = $i; s = s (i > 1 ? "," : "") (x == int(x) ? sprintf("%.1f", x) : x) } print s }'; }

box="$source_dir/examples/box.seg"

out=$("$zentrope" info "$box" --json)
read -r splines points highest < <(seg_counts "$box")
groups=$(sed -n 3p "$source_dir/examples/box.grp")
# Patches: the four uprights join the bottom and top rings into four sides;
# each ring alone lies on one spline (no patch) and the hooked spline hangs
# free, so 4 four-sided patches and no three-sided one.
expect_eq "$out" "{\"type\":\"$(head -c 4 "$box")\",\"version\":$(awk 'NR == 1 { print $2 }' "$box"),\"splines\":$splines,\"points\":$points,\"groups\":$groups,\"bbox\":[$(json_line "$box" 3)],\"pivot\":[$(json_line "$box" 4)],\"highest_number\":$highest,\"patches\":4,\"patches3\":0,\"patches4\":4}" "info --json"

"$zentrope" check "$source_dir"/examples/*.seg "$source_dir"/examples/*.grp || fail "check of the examples"

printf 'SCUL 2 0 1 0 0 0\n0\n0 0 0 0 0 0\n0 0 0\n32767\n' > "$work/bad.seg"
out=$("$zentrope" check "$box" "$work/bad.seg")
status=$?
expect_eq "$status" 1 "check status on a bad file"
# Line 5 is the spline count; 32767 splines cannot follow in a file that ends
# there, so the count itself is refused, at line 5; the file is named once.
expect_eq "$out" "$work/bad.seg: Trouble Opening Segment (line 5: impossible spline count 32767)" "check line"

"$zentrope" resave "$box" -o "$work/a/box.seg" || fail "resave"
"$zentrope" resave "$work/a/box.seg" -o "$work/b/box.seg" || fail "resave again"
cmp -s "$work/a/box.seg" "$work/b/box.seg" || fail "resaved segment differs"
cmp -s "$work/a/box.grp" "$source_dir/examples/box.grp" || fail "group file changed"

printf 'SCUL 2 0 1 0 0 0\n0\n0 0 0 0 0 0\n0 0 0\n1\n3\n1 0 1\n5 0 0\n0\n0\n1 0 2\n8 5 0\n0\n0\n1 0 3\n5 10 0\n0\n0\n' > "$work/profile.seg"
sections=8
"$zentrope" lathe "$work/profile.seg" --sections $sections -o "$work/vase.seg" || fail "lathe"
# An open profile of m points off the axis gives m closed rings of N points
# and N open meridians of m points, every meridian point stacked on a ring
# point: the profile's spline plus m + N splines, m + 2·m·N points, and one
# four-sided patch per band between rings and meridians, (m − 1)·N.
read -r _ m _ < <(seg_counts "$work/profile.seg")
"$zentrope" info "$work/vase.seg" --json | grep -q "\"splines\":$((1 + m + sections)),\"points\":$((m + 2 * m * sections)),.*\"patches\":$(((m - 1) * sections)),\"patches3\":0,\"patches4\":$(((m - 1) * sections))" || fail "lathed segment"
"$zentrope" lathe "$work/profile.seg" --sections 0 -o "$work/none.seg" 2>/dev/null && fail "zero sections accepted"
[ -e "$work/none.seg" ] && fail "zero sections wrote a file"

samples="$source_dir/tests/data/image"
# A PICT's frame (top, left, bottom, right) follows its 512-byte preamble and
# size word; indexed colour is drawn onto a blue-green-red canvas: 3 bytes.
pict="$samples/indexed8.pict"
pict_w=$(($(be16 "$pict" 520) - $(be16 "$pict" 516)))
pict_h=$(($(be16 "$pict" 518) - $(be16 "$pict" 514)))
expect_eq "$("$zentrope" info "$pict" --json)" "{\"type\":\"IMAGE\",\"format\":\"PICT\",\"width\":$pict_w,\"height\":$pict_h,\"bytes_per_pixel\":3}" "picture info"
# The ILBM's BMHD chunk (data at byte 20) holds width, height and, at byte
# 28, the plane count: 24 planes are 3 bytes per pixel, kept by conversion.
iff="$samples/rgb24.iff"
iff_size="\"width\":$(be16 "$iff" 20),\"height\":$(be16 "$iff" 22),\"bytes_per_pixel\":$(($(od -An -tu1 -j 28 -N1 "$iff") / 8))"
"$zentrope" convert "$iff" -o "$work/pic.png" || fail "convert to PNG"
expect_eq "$("$zentrope" info "$work/pic.png" --json)" "{\"type\":\"IMAGE\",\"format\":\"PNG\",$iff_size}" "converted PNG"
"$zentrope" convert "$work/pic.png" -o "$work/pic.tga" || fail "convert to Targa"
expect_eq "$("$zentrope" info "$work/pic.tga" --json)" "{\"type\":\"IMAGE\",\"format\":\"TGA\",$iff_size}" "converted Targa"
"$zentrope" convert "$samples/rgb.png" -o "$work/pic.bmp" 2>/dev/null && fail "unknown output accepted"
# A conversion that fails past the file-size limit (no byte may be written)
# leaves the existing picture as it was, no temporary, and says why once.
cp "$work/pic.png" "$work/before.png"
msg=$( (ulimit -f 0; "$zentrope" convert "$iff" -o "$work/pic.png") 2>&1) && fail "convert past the size limit succeeded"
cmp -s "$work/pic.png" "$work/before.png" || fail "convert past the size limit changed the picture"
ls "$work" | grep -q '\.tmp' && fail "convert past the size limit left a temporary"
expect_eq "$msg" "$work/pic.png: File too large" "size-limit message"
head -c 40 "$samples/rgb24.pcx" > "$work/cut.pcx"
"$zentrope" check "$work/cut.pcx" > /dev/null && fail "truncated picture passed"

arm="$source_dir/examples/arm"
# A version 4 figure is the two header lines and eight lines per node; a
# ghost's name line is "ghost" or empty.
fig_nodes=$(awk 'NR > 2 && (NR - 3) % 8 == 0 { n++ } END { print n }' "$arm/arm.fig")
fig_ghosts=$(awk 'NR > 2 && (NR - 3) % 8 == 0 && ($0 == "" || $0 == "ghost") { n++ } END { print n + 0 }' "$arm/arm.fig")
expect_eq "$("$zentrope" info "$arm/arm.fig" --json)" "{\"type\":\"FIGU\",\"version\":$(awk 'NR == 1 { print $2 }' "$arm/arm.fig"),\"nodes\":$fig_nodes,\"ghosts\":$fig_ghosts}" "figure info"
# wave.act: line 3 is the length; its one node record names the segment
# (line 6), then the tag, the channel set line "count kind version", the
# version 2 editor line, the name and reference lines, then per channel a
# flags line, a key count and four lines per key. Keys and, at the last frame
# (frame = length: each keyed channel holds its last key, unkeyed channels
# their defaults 0 0 0 100 100 100 0 -100 0 0 for a segment), values:
read -r act_length act_segment act_keys act_last < <(awk '
  { l[NR] = $0 }
  END {
    split("0 0 0 100 100 100 0 -100 0 0", dflt, " ")
    split(l[8], head, " ")
    i = head[3] == 2 ? 12 : 11
    for (c = 1; c <= head[1]; ++c) {
      n = l[i + 1] + 0
      v = dflt[c]
      if (n > 0) { split(l[i + 1 + 4 * (n - 1) + 2], key, " "); v = key[2] }
      keys = keys (c > 1 ? "," : "") n
      vals = vals (c > 1 ? "," : "") sprintf("%.1f", v)
      i += 2 + 4 * n
    }
    print l[3], l[6], keys, vals
  }' "$arm/wave.act")
"$zentrope" info "$arm/wave.act" --json | grep -q "\"length\":$act_length,\"nodes\":\\[{\"segment\":\"[^\"]*$act_segment\",\"keys\":\\[$act_keys\\]}\\]" || fail "action info"
# At rest every rotation (lines 5 and 6 of each record) is 0 and every scale
# 1, so the lower arm's frame is the identity turned nowhere, its pivot the
# sum of the two nodes' positions (line 3 of each record).
rest_pivot=$(awk 'NR > 2 && (NR - 3) % 8 == 2 { x += $1; y += $2; z += $3 } END { printf "%.1f,%.1f,%.1f", x, y, z }' "$arm/arm.fig")
rest=$("$zentrope" eval "$arm/arm.fig" --json)
echo "$rest" | grep -q "\"frame_transform\":\\[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0,$rest_pivot\\]" || fail "rest pose: $rest"
moved=$("$zentrope" eval "$arm/wave.act" --figure "$arm/arm.fig" --frame "$act_length" --json)
echo "$moved" | grep -q "\"channels\":\\[$act_last\\]" || fail "posed channels: $moved"
"$zentrope" eval "$arm/wave.act" --frame 3 2>/dev/null && fail "action without a figure accepted"
# Resaved beside the originals, paths stay relative and the bytes the same.
mkdir -p "$work/arm2"
cp "$arm"/* "$work/arm2/"
"$zentrope" resave "$work/arm2/arm.fig" -o "$work/arm2/copy.fig" || fail "resave figure"
"$zentrope" resave "$work/arm2/wave.act" -o "$work/arm2/copy.act" || fail "resave action"
cmp -s "$arm/arm.fig" "$work/arm2/copy.fig" || fail "resaved figure differs"
cmp -s "$arm/wave.act" "$work/arm2/copy.act" || fail "resaved action differs"
[ -e "$work/arm2/copy.att" ] || fail "resaved figure lacks its attribute file"
# wave.act does not move the upper arm, which stands at the origin unturned:
# its first point is the upper segment's first point as written (number on
# line 7, position on line 8).
first_point="\"number\":$(awk 'NR == 7 { print $3 }' "$arm/upper.seg"),\"position\":\\[$(json_line "$arm/upper.seg" 8)\\]"
"$zentrope" eval "$arm/wave.act" --figure "$arm/arm.fig" --frame 1 --points --json | grep -q "\"points\":\\[{$first_point" || fail "eval --points"
# One node record (lower.seg) holding 2 pairs.
printf 'SKIN 2 0 1 0 0 0\n0\nlower.seg\n2\n3 1\n4 2\n' > "$work/arm.ski"
expect_eq "$("$zentrope" info "$work/arm.ski" --json)" '{"type":"SKIN","version":2,"nodes":1,"pairs":2}' "skin info"
# One node record (upper.seg): "1 0 1" is no surface list, attribute byte 0
# and one material use (kind 80, the file "default"); "nosurface": no maps.
printf 'ATTR 6 0 1 0 0 0\n0\nupper.seg\n1 0 1\n80 \ndefault\n1 0\nnosurface\n' > "$work/arm.att"
expect_eq "$("$zentrope" info "$work/arm.att" --json)" '{"type":"ATTR","version":6,"nodes":1,"materials":1,"maps":0}' "attribute info"
# Size 10 on line 3, then one node record (path, tag, ten values).
printf 'SKEF 1 0 1 0 0 0\n0\n10\nlower.seg\n2\n0 0 0 100 100 100 0 -100 0 0 \n' > "$work/pose.skf"
expect_eq "$("$zentrope" info "$work/pose.skf" --json)" '{"type":"SKEF","version":1,"size":10.0,"nodes":1}' "frame info"

scene="$source_dir/examples/scene.cho"
# Line 1 the header, line 2 "length from to step", then seven "norotoscope"
# lines, line 10 "preset width height aspect", line 11 the output name (".avi"
# selects AVI), line 12 the flags and line 13 the path count. Further on: one
# light (line 90), two figures (line 135); the first figure's "2 2" (line
# 160) is 2 placements in track 0 and 2 tracks, the second track holding 1
# (line 165); the second figure's "0 0" (line 198) is no track.
scene_head=$(awk 'NR == 1 { printf "\"type\":\"%s\",\"version\":%d", $1, $2 }
  NR == 2 { printf ",\"length\":%d,\"render_from\":%.1f,\"render_to\":%.1f,\"render_step\":%.1f", $1, $2, $3, $4 }
  NR == 10 { size = sprintf("[%d,%d]", $2, $3) }
  NR == 11 { printf ",\"output_name\":\"%s\",\"render_format\":\"AVI\",\"output_size\":%s", $0, size }
  NR == 13 { printf ",\"paths\":%d", $1 }' "$scene")
expect_eq "$("$zentrope" info "$scene" --json | sed 's/,"figure_files".*//')" "{$scene_head,\"lights\":1,\"figures\":2,\"tracks\":[[2,1],[]]" "scene info"
# Action frames at frame 20 from the placement lines (the line after each
# action name: hold length overlap start end wait useStride); the first two
# placements are track 0, the third track 1. A track's current placement is
# the first whose wait + length + hold is not used up by the frame; then
# t = frame − wait, and the action frame start + (t − 1)·(end − start + 1 −
# overlap)/length (start during the wait, end during the hold).
frame=20
scene_tracks=$(awk -v f=$frame '
  function action_frame(local, p,   t, frames) {
    t = local - wait[p]
    if (t < 1) return start[p]
    if (t > len[p]) return end_[p]
    frames = end_[p] - start[p] + 1 - overlap[p]
    if (frames <= 0) frames = 1
    return start[p] + (t - 1) * frames / len[p]
  }
  function track(first, last,   p, local) {
    local = f
    for (p = first; p < last && local - (wait[p] + len[p] + hold[p]) >= 0; ++p)
      local -= wait[p] + len[p] + hold[p]
    x = action_frame(local, p)
    return sprintf("{\"placement\":%d,\"action_frame\":%s}", p - first, x == int(x) ? sprintf("%.1f", x) : x)
  }
  after_name { ++n; hold[n] = $1; len[n] = $2; overlap[n] = $3; start[n] = $4; end_[n] = $5; wait[n] = $6 }
  { after_name = /\.act$/ }
  END { print track(1, 2) "," track(3, 3) }' "$scene")
out=$("$zentrope" eval "$scene" --frame $frame --json)
echo "$out" | grep -q "\"tracks\":\\[$scene_tracks\\]" || fail "scene eval: $out"
# The light rides path1 (line 95) without Ease keys, so at frame 20 of 60 it
# has travelled u = 19/59 of the path's arc length. path1 is two points
# (0,80,150) → (50,80,150) (lines 31 and 35): a straight segment whose
# Bézier control points sit 1/6 and 5/6 along, walked by its 30 chords;
# within a chord the parameter is interpolated linearly, so the light stands
# a little short of 50·19/59 in x.
light_x=$(awk -v f=$frame '
  NR == 2 { length_ = $1 } NR == 31 { x0 = $1 } NR == 35 { x1 = $1 }
  function bx(s) { return x0 + (x1 - x0) * (3 * s * (1 - s) ^ 2 / 6 + 3 * s ^ 2 * (1 - s) * 5 / 6 + s ^ 3) }
  END {
    for (k = 0; k < 30; ++k) { c[k] = bx((k + 1) / 30) - bx(k / 30); total += c[k] }
    r = total * (f - 1) / (length_ - 1)
    for (k = 0; k < 29 && sum + c[k] < r; ++k) sum += c[k]
    x = bx((k + (r - sum) / c[k]) / 30)
    printf "%.2f", int(x * 100) / 100
  }' "$scene")
echo "$out" | grep -q "\"lights\":\\[{\"position\":\\[${light_x}[0-9]*,80.0,150.0\\]" || fail "scene eval light: $out"
mkdir -p "$work/scene"
cp -r "$source_dir/examples/arm" "$work/scene/arm"
cp "$scene" "$work/scene/scene.cho"
"$zentrope" resave "$work/scene/scene.cho" -o "$work/scene/copy.cho" || fail "scene resave"
cmp -s "$scene" "$work/scene/copy.cho" || fail "resaved scene differs"
"$zentrope" simulate "$work/scene/copy.cho" -o "$work/scene/sim.cho" || fail "simulate"
"$zentrope" simulate "$work/scene/copy.cho" -o "$work/scene/sim2.cho" || fail "simulate again"
cmp -s "$work/scene/sim.cho" "$work/scene/sim2.cho" || fail "simulation not deterministic"
# The second arm drops from path2's one point (0,100,−100) (line 41) with no
# turn; its lowest point is the lower arm's pivot (−10 below, arm.fig) plus
# the lower segment's lowest y (−8, its bounding-box line). After bouncing to
# rest by frame 60 that point lies on the ground y = 0: pivot at y = 18.
rest_y=$(awk 'NR == 3 { print -$2 }' "$source_dir/examples/arm/lower.seg")
rest_y=$((rest_y - $(awk 'NR == 13 { print $2 }' "$source_dir/examples/arm/arm.fig")))
drop=$(awk -v y="$rest_y" 'NR == 41 { printf "%.1f,%.1f,%.1f", $1, y, $3 }' "$scene")
"$zentrope" eval "$work/scene/sim.cho" --frame 60 --json | grep -q "\"placement_transform\":\\[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0,$drop\\]" || fail "dropped figure at rest on the ground"
rm "$work/scene/arm/arm.fig"
out=$("$zentrope" eval "$work/scene/copy.cho" --frame 1 2>&1)
status=$?
expect_eq "$status" 1 "eval status without the figure"
# A figure file that cannot be loaded stops the evaluation with code 107.
echo "$out" | grep -q "error 107: Trouble Opening Figure: $work/scene/arm/arm.fig" || fail "missing figure message: $out"
head -c 300 "$scene" > "$work/cut.cho"
out=$("$zentrope" info "$work/cut.cho" 2>&1)
echo "$out" | grep -q "Trouble Opening Choreography" || fail "cut scene: $out"

# The documented default of RENDER "Step" is 1; no file exists yet.
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
# PROJECTS.BRX does not exist yet, so DEMO: is not a listed project.
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

# --- Exit codes, running out of memory, names from older files, writers at once.

# Catches: CLI11's own exit codes (106, 109...) for a wrong command line,
# which callers cannot tell from a document failure.
for args in "info" "bogus" "settings" "project add ONLY:" "lathe $box --sections many -o $work/x.seg" "info $box --no-such-flag"; do
  # shellcheck disable=SC2086
  "$zentrope" $args > /dev/null 2> "$work/usage.err"
  expect_eq "$?" 2 "usage error status of: $args"
  expect_eq "$(wc -l < "$work/usage.err")" 1 "one-line usage message of: $args"
done
"$zentrope" --help > /dev/null || fail "--help status"
"$zentrope" settings set RENDER Step $'2\n[MEMORY]' 2> /dev/null
expect_eq "$?" 2 "settings set refuses a line break"
"$zentrope" settings set RENDER Step 'a=b' 2> /dev/null
expect_eq "$?" 2 "settings set refuses ="
"$zentrope" settings set RENDER Step 'a]' 2> /dev/null
expect_eq "$?" 2 "settings set refuses ]"
# Catches: a key or value with blanks around it stored, then read back as
# another key (" Step" shadowed by "Step") or another value ("3 " as "3").
"$zentrope" settings set RENDER ' Step' 3 2> /dev/null
expect_eq "$?" 2 "settings set refuses a key starting with a blank"
"$zentrope" settings set RENDER Step '3 ' 2> /dev/null
expect_eq "$?" 2 "settings set refuses a value ending with a blank"
expect_eq "$("$zentrope" settings list | grep -c '^MEMORY ')" 1 "no setting injected"

# Catches: an uncaught bad_alloc (abort, status 134) or a reader's plain
# failure with no word of the limit, when MaxMemory is too small for the
# work; and any file touched on the way. 0 and 24 kilobytes: nothing fits,
# or a small segment fits and the work on it does not.
oom="$work/oom"
mkdir -p "$oom/arm"
cp "$box" "$source_dir/examples/box.grp" "$source_dir/examples/scene.cho" "$oom/"
cp "$source_dir"/examples/arm/* "$oom/arm/"
(cd "$oom" && find . -type f | sort | xargs md5sum) > "$work/oom.before"
for kb in 0 24; do
  ZENTROPE_INI="$work/oom_$kb.ini" "$zentrope" settings set MEMORY MaxMemory "$kb" || fail "MaxMemory $kb"
  while read -r line; do
    # shellcheck disable=SC2086
    (cd "$oom" && "$zentrope" --settings "$work/oom_$kb.ini" $line > /dev/null 2> "$work/oom.err")
    status=$?
    expect_eq "$status" 1 "status under MaxMemory $kb of: $line"
    grep -q "Increase Prefs Memory\." "$work/oom.err" || fail "107 under MaxMemory $kb of: $line: $(cat "$work/oom.err")"
  done <<'COMMANDS'
lathe box.seg --sections 16 -o out/lathe.seg
eval scene.cho --frame 10
eval scene.cho --json
simulate scene.cho -o out/sim.cho
resave scene.cho -o out/scene.cho
info scene.cho --json
eval arm/arm.fig --points
eval arm/wave.act --figure arm/arm.fig --json
COMMANDS
done
# (Resaving a figure alone holds nothing in the pool: it is not in the sweep.)
for line in "info box.seg --json" "check box.seg" "resave box.seg -o out/box.seg" "info arm/wave.act" "resave arm/wave.act -o out/wave.act"; do
  # shellcheck disable=SC2086
  (cd "$oom" && "$zentrope" --settings "$work/oom_0.ini" $line > /dev/null 2> "$work/oom.err")
  expect_eq "$?" 1 "status under MaxMemory 0 of: $line"
  grep -q "Increase Prefs Memory\." "$work/oom.err" || fail "107 under MaxMemory 0 of: $line"
done
(cd "$oom" && find . -type f | sort | xargs md5sum) > "$work/oom.after"
cmp -s "$work/oom.before" "$work/oom.after" || fail "files changed under a small memory limit: $(diff "$work/oom.before" "$work/oom.after")"

# Catches: a Latin-1 name from an older file ending --json with an uncaught
# JSON error, or printed as bytes no JSON reader accepts. The group name
# "caf<E9>" is Latin-1 e acute, so it must come out as U+00E9.
latin="$work/latin.grp"
{ sed -n 1,4p "$source_dir/examples/box.grp"; printf 'caf\351 ring\n'; sed -n '6,$p' "$source_dir/examples/box.grp"; } > "$latin"
out=$("$zentrope" info "$latin" --json)
expect_eq "$?" 0 "info --json of a Latin-1 name"
name=$(printf '%s' "$out" | python3 -c 'import json, sys; print(json.load(sys.stdin)["list"][0]["name"].encode("unicode_escape").decode())')
expect_eq "$name" 'caf\xe9 ring' "Latin-1 group name through --json"
"$zentrope" info "$latin" | grep -q "$(printf 'caf\303\251 ring')" || fail "Latin-1 group name in text output"

# Catches: a Latin-1 value in zentrope.ini (written on an older machine)
# printed as raw bytes by settings list and get: "caf<E9>" is U+00E9.
latin_ini="$work/latin.ini"
printf '[GLOBAL]\nTitle=caf\351\n' > "$latin_ini"
expect_eq "$("$zentrope" --settings "$latin_ini" settings get GLOBAL Title)" "$(printf 'caf\303\251')" "Latin-1 setting through get"
"$zentrope" --settings "$latin_ini" settings list | grep -qx "$(printf 'GLOBAL Title=caf\303\251')" || fail "Latin-1 setting in settings list"

# Catches: parallel `settings set` calls each rewriting the file from what
# they read, losing writes. 50 pairs at once, two sections.
for i in $(seq 1 50); do
  "$zentrope" settings set RACE_A "Key$i" "$i" &
  "$zentrope" settings set RACE_B "Key$i" "$i" &
done
wait
expect_eq "$("$zentrope" settings list | grep -c '^RACE_[AB] Key')" 100 "settings written in parallel"
for i in 1 25 50; do
  expect_eq "$("$zentrope" settings get RACE_B "Key$i")" "$i" "parallel setting RACE_B Key$i"
done

# Neither a FIFO (opening it would wait for a writer) nor a device (reading
# it never ends) is read as a document: each fails at once, and timeout
# turns a hang into a failure.
mkfifo "$work/pipe.seg"
ln -s /dev/zero "$work/zero.seg"
for f in "$work/pipe.seg" "$work/zero.seg"; do
  out=$(timeout 20 "$zentrope" info "$f" 2>&1)
  expect_eq "$?" 1 "info status of $f"
  echo "$out" | grep -q "not a regular file" || fail "info of $f: $out"
  out=$(timeout 20 "$zentrope" check "$f" 2>&1)
  expect_eq "$?" 1 "check status of $f"
  echo "$out" | grep -q "not a regular file" || fail "check of $f: $out"
done

# A dynamics range ending at 2^24 (a float frame counter stops advancing
# there) is refused before any frame is run and nothing is written. The
# scene's one range is line 196 ("1 60": frames 1 to the scene's 60).
expect_eq "$(sed -n 196p "$scene")" "1 60" "the sample scene's dynamics range"
sed '196s/.*/1 16777216/' "$scene" > "$work/scene/far.cho"
out=$(timeout 20 "$zentrope" simulate "$work/scene/far.cho" -o "$work/scene/far_sim.cho" 2>&1)
expect_eq "$?" 1 "simulate status of a range past the scene"
echo "$out" | grep -q "past the scene's last frame 60" || fail "far range message: $out"
[ -e "$work/scene/far_sim.cho" ] && fail "a refused simulation wrote its output"

# A figure whose segment is missing still poses, but eval names the file.
mkdir -p "$work/noseg"
cp "$source_dir/examples/arm/arm.fig" "$source_dir/examples/arm/upper.seg" "$work/noseg/"
out=$("$zentrope" eval "$work/noseg/arm.fig" --json 2>&1 > /dev/null)
expect_eq "$?" 0 "eval status of a figure missing a segment"
echo "$out" | grep -q "warning: Trouble Opening Segment ($work/noseg/lower.seg: " || fail "missing segment warning: $out"

# Catches: simulate saving a scene whose figures ran out of the memory limit
# while loading (their dynamics run without segments or actions), then
# reporting 107 over a file already written; and simulate naming no missing
# file. At every limit it either succeeds or ends with 107 writing nothing.
for kb in 32 48 64 96 128 192 256; do
  ZENTROPE_INI="$work/oom_sim.ini" "$zentrope" settings set MEMORY MaxMemory "$kb" || fail "MaxMemory $kb"
  rm -f "$oom/out/sim.cho"
  (cd "$oom" && "$zentrope" --settings "$work/oom_sim.ini" simulate scene.cho -o out/sim.cho > /dev/null 2> "$work/oom.err")
  status=$?
  if [ "$status" -ne 0 ]; then
    expect_eq "$status" 1 "simulate status under MaxMemory $kb"
    grep -q "Increase Prefs Memory\." "$work/oom.err" || fail "simulate under MaxMemory $kb: $(cat "$work/oom.err")"
    [ -e "$oom/out/sim.cho" ] && fail "simulate under MaxMemory $kb wrote its output before failing"
  fi
done
mkdir -p "$work/nosegs/arm"
cp "$scene" "$work/nosegs/"
cp "$source_dir/examples/arm/arm.fig" "$source_dir/examples/arm/wave.act" "$work/nosegs/arm/"
out=$(cd "$work/nosegs" && "$zentrope" simulate scene.cho -o sim.cho 2>&1 > /dev/null)
expect_eq "$?" 0 "simulate status of a scene missing its segments"
echo "$out" | grep -q "warning: Trouble Opening Segment ($work/nosegs/arm/upper.seg: " || fail "simulate names no missing segment: $out"

# Catches: an empty output name reported as a save while nothing was
# written (a scene, an action) or hidden ".seg"/".att" files were; and a
# folder name ("out/") taken as a segment named ".seg".
mkdir -p "$work/noname"
for doc in "$scene" "$box" "$source_dir/examples/arm/arm.fig" "$source_dir/examples/arm/wave.act"; do
  (cd "$work/noname" && "$zentrope" resave "$doc" -o "" > /dev/null 2>&1)
  expect_eq "$?" 1 "resave $doc to an empty name"
done
(cd "$work/noname" && "$zentrope" resave "$box" -o "sub/" > /dev/null 2>&1)
expect_eq "$?" 1 "resave to a folder name"
expect_eq "$(find "$work/noname" -type f | wc -l)" 0 "files written for no name"

# Catches: a wrong command line reported as a document failure (status 1)
# or run anyway: a frame that is no number evaluated at the last frame, an
# action without its figure, an output that is neither Targa nor PNG.
for args in "eval $scene --frame nan" "eval $scene --frame inf" "eval $source_dir/examples/arm/wave.act" "convert $work/any.png -o $work/x.bmp" "lathe $box --sections 0 -o $work/x.seg"; do
  # shellcheck disable=SC2086
  "$zentrope" $args > /dev/null 2> "$work/usage.err"
  expect_eq "$?" 2 "usage error status of: $args"
  expect_eq "$(wc -l < "$work/usage.err")" 1 "one-line usage message of: $args"
done

# Catches: "pipe.png: can't open image file: pipe.png: not a regular file",
# the file named twice in one line.
mkfifo "$work/pipe.png"
out=$(cd "$work" && timeout 20 "$zentrope" convert pipe.png -o out.tga 2>&1)
expect_eq "$out" "pipe.png: can't open image file: not a regular file" "convert of a FIFO"

# Materials. A node record is its type line, a flags line and a channel set
# whose first line is "count kind version" and third line its name; the
# samples name the root's set after the file and every other "untitled.mat",
# so the node count is one more than the "untitled.mat" lines.
mats="$source_dir/examples/materials"
for mat in checker spherical noise; do
  f="$mats/$mat.mat"
  nodes=$(($(grep -cx 'untitled.mat' "$f") + 1))
  head_json="{\"type\":\"$(awk 'NR == 1 { print substr($1, 1, 4) }' "$f")\",\"version\":$(awk 'NR == 1 { print $2 }' "$f"),\"nodes\":$nodes,\"root\":{\"kind\":\"[A-Za-z]*\",\"type\":$(sed -n 2p "$f"),\"channels\":$(awk 'NR == 4 { print $1 }' "$f"),"
  "$zentrope" info "$f" --json | grep -q "^$head_json" || fail "material info of $mat: $("$zentrope" info "$f" --json)"
  "$zentrope" resave "$f" -o "$work/mat/$mat.mat" || fail "resave $mat.mat"
  cmp -s "$f" "$work/mat/$mat.mat" || fail "resaved $mat.mat differs"
done
# checker.mat is a Checker (84) over two Attribute leaves (80).
"$zentrope" info "$mats/checker.mat" --json | grep -q '"kind":"Checker","type":84,.*"first":{"kind":"Attribute","type":80,"channels":12,.*"second":{"kind":"Attribute"' || fail "checker tree"
expect_eq "$("$zentrope" info "$mats/spray.mat" --json | sed 's/,"root".*//')" "{\"type\":\"IMAT\",\"version\":$(awk 'NR == 1 { print $2 }' "$mats/spray.mat"),\"nodes\":1" "particle material info"
"$zentrope" resave "$mats/spray.mat" -o "$work/mat/spray.mat" || fail "resave spray.mat"
cmp -s "$mats/spray.mat" "$work/mat/spray.mat" || fail "resaved spray.mat differs"
"$zentrope" check "$mats"/*.mat || fail "check of the sample materials"
# Type codes 81, 83 and 85 are no node; a child flag of 1 needs its child.
printf 'MATE 2 0 1 0 0 0\n83\n0\n' > "$work/bad.mat"
expect_eq "$("$zentrope" check "$work/bad.mat")" "$work/bad.mat: Trouble Opening Material (line 2: unknown material node type 83)" "check of a bad node type"
head -n "$(($(wc -l < "$mats/checker.mat") - 1))" "$mats/checker.mat" > "$work/cut.mat"
"$zentrope" check "$work/cut.mat" > /dev/null && fail "truncated material passed"
"$zentrope" resave "$work/bad.mat" -o "$work/mat/bad.mat" 2> /dev/null && fail "resave of a bad material"
[ -e "$work/mat/bad.mat" ] && fail "resave of a bad material wrote a file"
# A figure whose attributes name a broken material: check follows the name.
mkdir -p "$work/armmat"
cp "$source_dir/examples/arm/"* "$work/armmat/"
printf 'ATTR 6 0 1 0 0 0\n0\nupper.seg\n1 0 1\n80 \nbroken.mat\n1 0\nnosurface\n' > "$work/armmat/arm.att"
printf 'MATE 2 0 1 0 0 0\n85\n' > "$work/armmat/broken.mat"
out=$(cd "$work/armmat" && "$zentrope" check arm.fig)
expect_eq "$?" 1 "check status of a figure with a broken material"
echo "$out" | grep -q "broken.mat:2: unknown material node type 85" || fail "figure check names no broken material: $out"

# Rendering one model. The pictures are read back by a small Targa decoder
# (types 2 and 10, 24 bits, top-left origin), so the checks look at pixels.
tga_pixel() {  # FILE X Y -> "blue green red"
  python3 - "$@" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
x, y = int(sys.argv[2]), int(sys.argv[3])
w, h = data[12] | data[13] << 8, data[14] | data[15] << 8
pixels, i = [], 18 + data[0]
while len(pixels) < w * h:
    if data[2] == 2:
        pixels.append(data[i:i + 3]); i += 3; continue
    head = data[i]; i += 1
    n = (head & 0x7F) + 1
    if head & 0x80:
        pixels += [data[i:i + 3]] * n; i += 3
    else:
        pixels += [data[i + 3 * k:i + 3 * k + 3] for k in range(n)]; i += 3 * n
p = pixels[y * w + x]
print(p[0], p[1], p[2])
PY
}
vase="$source_dir/examples/vase"
mkdir -p "$work/render"
for shading in flat gouraud phong; do
  "$zentrope" render "$vase/vase.seg" --shading "$shading" --size 64x48 \
    -o "$work/render/$shading.tga" > /dev/null || fail "render $shading"
done
r="$work/render"
# Catches: a picture written with the wrong header or without its footer:
# type 10 (run-length true colour), 64 × 48, 24 bits, top-left origin, and
# the Targa 2.0 footer "TRUEVISION-XFILE." with its zero byte.
expect_eq "$(od -An -tu1 -j2 -N1 "$r/flat.tga" | tr -d ' ')" 10 "Targa image type"
expect_eq "$(od -An -tu1 -j12 -N6 "$r/flat.tga" | tr -s ' ')" " 64 0 48 0 24 32" "Targa size, depth and descriptor"
expect_eq "$(tail -c 18 "$r/flat.tga" | head -c 17)" "TRUEVISION-XFILE." "Targa footer"
# Catches: a FLAT picture lit or given ambiance: the lone segment wears the
# neutral grey 200, 200, 200, which FLAT shows exactly at the vase's centre;
# the framing margin leaves the corners to the black background.
expect_eq "$(tga_pixel "$r/flat.tga" 32 24)" "200 200 200" "FLAT centre pixel"
expect_eq "$(tga_pixel "$r/flat.tga" 0 0)" "0 0 0" "top-left corner is background"
expect_eq "$(tga_pixel "$r/flat.tga" 63 47)" "0 0 0" "bottom-right corner is background"
# Catches: the three shadings drawing the same picture.
cmp -s "$r/flat.tga" "$r/gouraud.tga" && fail "FLAT and GOURAUD pictures are the same"
cmp -s "$r/gouraud.tga" "$r/phong.tga" && fail "GOURAUD and PHONG pictures are the same"
# Catches: output that depends on the thread count.
for threads in 1 2; do
  "$zentrope" render "$vase/vase.fig" --shading phong --size 160x120 --threads $threads \
    -o "$r/t$threads.tga" > /dev/null || fail "render with $threads threads"
done
cmp -s "$r/t1.tga" "$r/t2.tga" || fail "1 and 2 threads give different pictures"
# Catches: PNG output that does not read back at the size asked for.
"$zentrope" render "$vase/vase.fig" --size 40x30 -o "$r/vase.png" > /dev/null || fail "render to PNG"
"$zentrope" info "$r/vase.png" --json | grep -q '"width":40,"height":30' || fail "PNG size: $("$zentrope" info "$r/vase.png" --json)"
# --- render (review): the error cases of zentrope render.
rend="$work/render"
mkdir -p "$rend"
vase="$source_dir/examples/vase/vase.seg"
# Catches: an output that cannot be created reported as success or with
# another code. A regular file stands where the folder should be, so even a
# user who may write anywhere cannot create it: 111 "Can't Open File.".
: > "$rend/plain"
"$zentrope" render "$vase" --size 64x48 -o "$rend/plain/out.tga" 2> "$rend/err"
expect_eq "$?" 1 "render status for an output that cannot be created"
grep -q "Can't Open File\." "$rend/err" || fail "render 111 message: $(cat "$rend/err")"
[ -e "$rend/plain/out.tga" ] && fail "render wrote under an uncreatable name"
# Catches: the picture and depth buffer taken outside the memory limit, so a
# 640x480 render (2.1 MB) passes under a 400-kilobyte limit that the vase
# itself fits; or a half-written picture left behind.
ZENTROPE_INI="$rend/low.ini" "$zentrope" settings set MEMORY MaxMemory 400 || fail "MaxMemory 400"
"$zentrope" --settings "$rend/low.ini" render "$vase" --size 640x480 -o "$rend/big.tga" 2> "$rend/err"
expect_eq "$?" 1 "render status beyond the memory limit"
expect_eq "$(grep -c "Increase Prefs Memory\." "$rend/err")" 1 "one 107 report beyond the memory limit: $(cat "$rend/err")"
[ -e "$rend/big.tga" ] && fail "render beyond the memory limit wrote a picture"
"$zentrope" --settings "$rend/low.ini" render "$vase" --size 64x48 -o "$rend/small.tga" > /dev/null || fail "a small render within the limit"
# Catches: a malformed size taken as some default, or a usage error given a
# document failure's status.
for size in 64 0x48 64x0 64x48x2 x48 16385x2; do
  "$zentrope" render "$vase" --size "$size" -o "$rend/s.tga" 2> /dev/null
  expect_eq "$?" 2 "render status for --size $size"
done
[ -e "$rend/s.tga" ] && fail "render with a bad size wrote a picture"
"$zentrope" render "$rend/missing.seg" -o "$rend/m.tga" 2> "$rend/err"
expect_eq "$?" 1 "render status for a missing model"
grep -q "missing.seg" "$rend/err" || fail "render names no missing model: $(cat "$rend/err")"
[ -e "$rend/m.tga" ] && fail "render of a missing model wrote a picture"
# A material with node type 83 fails check with its file and line.
printf 'MATE 2 0 1 0 0 0\n83\n0\n' > "$rend/n83.mat"
expect_eq "$("$zentrope" check "$rend/n83.mat")" "$rend/n83.mat: Trouble Opening Material (line 2: unknown material node type 83)" "check of node type 83"
# Catches: a model without patches drawn as a blank picture with no word.
"$zentrope" render "$source_dir/examples/arm/arm.fig" --size 32x24 -o "$rend/arm.tga" > /dev/null 2> "$rend/err"
expect_eq "$?" 0 "render status of a model without patches"
grep -q "warning: no patches to draw" "$rend/err" || fail "no warning for a model without patches: $(cat "$rend/err")"

# --- render --mode raytrace: the raytracer on the sample vase.
rt="$work/raytrace"
mkdir -p "$rt/tmp"
vase="$source_dir/examples/vase"
# Every run keeps its temporary pictures in a folder of the test's own.
zrt() { TMPDIR="$rt/tmp" "$zentrope" "$@"; }
# Catches: the raytraced picture not written, or written with another size
# or depth: 24-bit without alpha, 32-bit with it (Targa byte 16).
zrt render "$vase/vase.seg" --mode raytrace --size 64x48 -o "$rt/plain.tga" > "$rt/out" || fail "raytrace render"
expect_eq "$(od -An -tu1 -j12 -N5 "$rt/plain.tga" | tr -s ' ')" " 64 0 48 0 24" "raytrace Targa size and depth"
grep -q "plain.tga: 64x48, [0-9]* objects, [0-9]* rays" "$rt/out" || fail "raytrace summary line: $(cat "$rt/out")"
zrt render "$vase/vase.seg" --mode raytrace --size 64x48 --alpha -o "$rt/alpha.tga" > /dev/null || fail "raytrace --alpha"
expect_eq "$(od -An -tu1 -j16 -N1 "$rt/alpha.tga" | tr -d ' ')" 32 "raytrace Targa depth with --alpha"
# Catches: the Front view or the CENTER light lost: the framing margin leaves
# the corners to the black background, the vase's centre is lit.
expect_eq "$(tga_pixel "$rt/plain.tga" 0 0)" "0 0 0" "raytrace top-left corner is background"
[ "$(tga_pixel "$rt/plain.tga" 32 24)" != "0 0 0" ] || fail "raytrace centre pixel is black"
# Catches: --depth and --shadow-picture not writing their pictures beside
# the output, named after it.
zrt render "$vase/vase.seg" --mode raytrace --size 32x24 --shadows --depth --shadow-picture \
  -o "$rt/extra.tga" > /dev/null || fail "raytrace --depth --shadow-picture"
[ -s "$rt/extra.dep" ] || fail "no depth picture extra.dep"
[ -s "$rt/extra.sha" ] || fail "no shadow picture extra.sha"
[ -e "$rt/plain.dep" ] || [ -e "$rt/plain.sha" ] && fail "depth or shadow picture written unasked"
# Catches: output that depends on the thread count, in the refining loop
# with shadows and reflections.
for threads in 1 2; do
  zrt render "$vase/vase.fig" --mode raytrace --size 80x60 --shadows --reflections --aa high \
    --threads $threads -o "$rt/t$threads.tga" > /dev/null || fail "raytrace with $threads threads"
done
cmp -s "$rt/t1.tga" "$rt/t2.tga" || fail "raytrace: 1 and 2 threads give different pictures"
# Catches: QUICKRENDER's Shadows not the default, or --no-shadows not
# overriding it. The top-left light lets the vase shadow itself.
ZENTROPE_INI="$rt/quick.ini" "$zentrope" settings set QUICKRENDER Shadows ON || fail "Shadows ON"
ZENTROPE_INI="$rt/quick.ini" "$zentrope" settings set QUICKRENDER DefaultLightSource TOPLEFT || fail "TOPLEFT"
for how in default --shadows --no-shadows; do
  flag=$how; [ "$how" = default ] && flag=
  ZENTROPE_INI="$rt/quick.ini" zrt render "$vase/vase.seg" --mode raytrace --size 64x48 $flag \
    -o "$rt/q$how.tga" > /dev/null || fail "raytrace with QUICKRENDER shadows ($how)"
done
cmp -s "$rt/qdefault.tga" "$rt/q--shadows.tga" || fail "QUICKRENDER Shadows ON is not the default"
cmp -s "$rt/qdefault.tga" "$rt/q--no-shadows.tga" && fail "--no-shadows did not turn the shadows off"
# Catches: PNG output not converted, or the Targa it is made from left in
# the temporary folder.
zrt render "$vase/vase.fig" --mode raytrace --size 40x30 -o "$rt/vase.png" > /dev/null || fail "raytrace to PNG"
"$zentrope" info "$rt/vase.png" --json | grep -q '"width":40,"height":30' || fail "raytrace PNG size"
expect_eq "$(ls "$rt/tmp" | grep -c '^render')" 0 "Targas left in the temporary folder: $(ls "$rt/tmp")"
# Catches: options that mean something only to one renderer taken in
# silence by the other (usage errors, status 2, nothing written).
for option in --shadows --no-reflections "--aa low" --alpha --depth --shadow-picture; do
  zrt render "$vase/vase.seg" $option --size 16x12 -o "$rt/refused.tga" 2> "$rt/err"
  expect_eq "$?" 2 "z-buffer render status with $option"
  grep -q "is for --mode raytrace only" "$rt/err" || fail "no reason for refusing $option: $(cat "$rt/err")"
done
zrt render "$vase/vase.seg" --mode raytrace --shading phong --size 16x12 -o "$rt/refused.tga" 2> /dev/null
expect_eq "$?" 2 "raytrace render status with --shading"
zrt render "$vase/vase.seg" --mode raytrace --alpha --size 16x12 -o "$rt/refused.png" 2> /dev/null
expect_eq "$?" 2 "raytrace render status with --alpha to a PNG"
zrt render "$vase/vase.seg" --mode raytrace --aa medium --size 16x12 -o "$rt/refused.tga" 2> /dev/null
expect_eq "$?" 2 "raytrace render status with --aa medium"
[ -e "$rt/refused.tga" ] || [ -e "$rt/refused.png" ] && fail "a refused render wrote a picture"
# Catches: an output that cannot be created reported as success or with
# another code (111 "Can't Open File.").
: > "$rt/plain_file"
zrt render "$vase/vase.seg" --mode raytrace --size 16x12 -o "$rt/plain_file/out.tga" 2> "$rt/err"
expect_eq "$?" 1 "raytrace status for an output that cannot be created"
grep -q "Can't Open File\." "$rt/err" || fail "raytrace 111 message: $(cat "$rt/err")"
# Catches: a depth picture that cannot be written reported under the
# output's name (the output itself was fine), or the output left behind.
mkdir -p "$rt/dirdep.dep/inside"
zrt render "$vase/vase.seg" --mode raytrace --size 16x12 --depth -o "$rt/dirdep.tga" 2> "$rt/err"
expect_eq "$?" 1 "raytrace status for a depth picture that cannot be written"
grep -q "dirdep\.dep: Can't" "$rt/err" || fail "raytrace names the failed depth picture: $(cat "$rt/err")"
[ -e "$rt/dirdep.tga" ] && fail "raytrace with a failed depth picture wrote the output"
# Catches: a raytrace beyond the memory limit crashing, reporting success or
# leaving a picture: the vase fits 400 kilobytes, a 640x480 frame does not.
ZENTROPE_INI="$rt/low.ini" "$zentrope" settings set MEMORY MaxMemory 400 || fail "MaxMemory 400"
zrt --settings "$rt/low.ini" render "$vase/vase.seg" --mode raytrace --size 640x480 -o "$rt/big.tga" 2> "$rt/err"
expect_eq "$?" 1 "raytrace status beyond the memory limit"
grep -q "Increase Prefs Memory\.\|Low Memory" "$rt/err" || fail "raytrace memory message: $(cat "$rt/err")"
[ -e "$rt/big.tga" ] && fail "raytrace beyond the memory limit wrote a picture"
# Catches: a frame that ran out under its own code (802 "Low Memory", its
# picture buffers) reported twice, once with its code and once more as the
# program's 107, in the message and in the error log.
if grep -q "Low Memory" "$rt/err"; then
  grep -q "Increase Prefs Memory" "$rt/err" && fail "raytrace memory reported twice: $(cat "$rt/err")"
  grep -q "MEMORY MaxMemory, is 400 kilobytes" "$rt/err" || fail "raytrace 802 without the limit: $(cat "$rt/err")"
  mkdir -p "$rt/logtmp"
  ZENTROPE_INI="$rt/low.ini" "$zentrope" settings set GLOBAL ErrorLog ON || fail "ErrorLog ON"
  TMPDIR="$rt/logtmp" "$zentrope" --settings "$rt/low.ini" render "$vase/vase.seg" --mode raytrace \
    --size 640x480 -o "$rt/big.tga" 2> /dev/null
  expect_eq "$(grep -c "Buffer Line Memory!" "$rt/logtmp/ERROR")" 1 "raytrace 802 error-log line"
  expect_eq "$(grep -c "Increase Memory=" "$rt/logtmp/ERROR")" 0 "raytrace 802 logged again as 107"
else
  fail "the 640x480 frame at 400 kilobytes no longer stops at its picture buffers: $(cat "$rt/err")"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
