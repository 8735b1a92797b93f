#!/usr/bin/env bash
# The demo production: the committed files are what the generator writes,
# and the scene they make is whole. Usage: demo_test.sh MAKE_DEMO ZENTROPE SOURCE_DIR
set -u
make_demo=$1
zentrope=$2
source_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZENTROPE_INI="$work/zentrope.ini"
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: got [$1] expected [$2]"; }

demo="$source_dir/examples/demo"

# Catches: the committed demo going stale (the generator or a writer changed
# and examples/demo was not rebuilt), a file the generator no longer writes
# left behind, or a machine's own path written into a document.
"$make_demo" "$work/fresh" || fail "make_demo failed"
diff -r -x README.md "$demo" "$work/fresh" > "$work/diff" || fail "examples/demo differs from a fresh run: $(head -c 2000 "$work/diff")"
if grep -rlF -e "$work" -e "$source_dir" "$work/fresh" > "$work/absolute"; then
  fail "absolute names written into $(tr '\n' ' ' < "$work/absolute")"
fi

# Catches: output that depends on the run (the time, an address, the order of
# a hash table): a second run, from another working directory and given a
# relative name, writes the same bytes.
(cd "$work" && "$make_demo" again) || fail "make_demo into a relative folder failed"
diff -r -q "$work/fresh" "$work/again" || fail "two runs of make_demo differ"

# Catches: a scene naming a file the demo lacks (a figure, segment, action,
# spine, skin or material), which the render would miss.
out=$("$zentrope" check "$demo/demo.cho" 2>&1)
expect_eq "$?" 0 "check of demo.cho ($out)"
for doc in walker.fig stage.fig walk.act checker.mat; do
  out=$("$zentrope" check "$demo/$doc" 2>&1) || fail "check of $doc: $out"
done

# Catches: the render range, output or size drifting from what the render
# command and the README promise: 60 frames, frames 1 to 30 by 1 at 640 x 480
# into demo.avi, two lights, the stage and the walker.
info=$("$zentrope" info "$demo/demo.cho" --json)
python3 - "$info" << 'PY' || fail "demo.cho settings: $info"
import json, sys
d = json.loads(sys.argv[1])
want = {"length": 60, "render_from": 1.0, "render_to": 30.0, "render_step": 1.0,
        "output_name": "demo.avi", "output_size": [640, 480], "lights": 2, "figures": 2}
bad = {k: d.get(k) for k, v in want.items() if d.get(k) != v}
# The walker's track plays the 30-frame cycle twice; the stage has none.
if d.get("tracks") != [[], [2]]:
    bad["tracks"] = d.get("tracks")
if bad:
    print("unexpected:", bad)
sys.exit(1 if bad else 0)
PY

# Catches: the camera's target leaving the walker. Its path "aim" is the
# walk path raised by 10 units and both use the whole scene length, so at
# any frame the target is the walker's place plus (0, 10, 0); and the walker
# faces its travel: the path runs towards +x, and a figure faces its own −z.
for frame in 1 15 30 60; do
  state=$("$zentrope" eval "$demo/demo.cho" --frame "$frame" --json)
  python3 - "$state" "$frame" << 'PY' || fail "frame $frame: camera target or walker placement"
import json, sys
d = json.loads(sys.argv[1])
target = d["camera"]["target"]
walker = [f for f in d["figures"] if f["file"].endswith("walker.fig")][0]
m = walker["placement_transform"]
place = m[9:12]
ok = all(abs(target[i] - (place[i] + (10 if i == 1 else 0))) < 1e-3 for i in range(3))
# The figure's −z in the world: minus the third column of the row-major
# linear part. The arc's travel is always towards +x.
ok = ok and -m[2] > 0.5
# The path starts at (−17, 0, −4) at frame 1 and ends at (17, 0, −4) at 60.
if sys.argv[2] == "1":
    ok = ok and max(abs(a - b) for a, b in zip(place, [-17, 0, -4])) < 1e-3
if sys.argv[2] == "60":
    ok = ok and max(abs(a - b) for a, b in zip(place, [17, 0, -4])) < 1e-3
sys.exit(0 if ok else 1)
PY
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "demo: all checks passed"
