#!/usr/bin/env bash
# export, import and play from the command line, and the files they write
# opened by tools others wrote. Usage: exchange_test.sh ZENTROPE SOURCE_DIR
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

# Every expectation below comes from the documents or from the written file
# itself (counted with awk or read with python3), never from an earlier run.

# The outside tools: a missing one fails the test and names its package.
command -v assimp > /dev/null || fail "assimp is missing: install assimp-utils"
# The Debian package puts ezdxf beside the system's python3, which another
# python3 earlier on the PATH (pyenv, a virtual environment) does not see.
python=
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c 'import ezdxf' 2> /dev/null; then
    python=$candidate
    break
  fi
done
[ -n "$python" ] || fail "ezdxf is missing: install python3-ezdxf"
command -v ffmpeg > /dev/null || fail "ffmpeg is missing: install ffmpeg"
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }

examples="$source_dir/examples"
box="$examples/box.seg"
vase_fig="$examples/vase/vase.fig"
vase_cho="$examples/vase/vase.cho"

# "vertices faces" as assimp reports them for a file (totals over meshes),
# read raw (-r): no joining of vertices, so it counts what the file holds.
assimp_counts() {
  assimp info "$1" -r 2> /dev/null |
    awk '/^Vertices:/ { v = $2 } /^Faces:/ { f = $2 } END { if (v == "" || f == "") exit 1; print v, f }'
}
# "vertices faces" an OBJ file states: its "v" lines and the corners and
# count of its "f" lines. assimp keeps a vertex per face corner, so its
# vertex count is the sum of the face sizes.
obj_counts() {
  awk '$1 == "f" { corners += NF - 1; faces++ } END { print corners + 0, faces + 0 }' "$1"
}
# "vertices faces" a .glb states in its JSON chunk: POSITION counts and
# index counts / 3, over every primitive of every mesh.
glb_counts() {
  "$python" - "$1" << 'EOF'
import json, struct, sys
data = open(sys.argv[1], "rb").read()
magic, version, length = struct.unpack_from("<III", data, 0)
assert magic == 0x46546C67 and version == 2 and length == len(data), "glb header"
size, kind = struct.unpack_from("<II", data, 12)
assert kind == 0x4E4F534A and size % 4 == 0, "JSON chunk"
g = json.loads(data[20:20 + size])
acc = g.get("accessors", [])
v = f = 0
for mesh in g.get("meshes", []):
    for p in mesh["primitives"]:
        v += acc[p["attributes"]["POSITION"]]["count"]
        f += acc[p["indices"]]["count"] // 3
print(v, f)
EOF
}
# "faces_ezdxf faces_in_file": 3DFACE entities ezdxf reads, and the
# "3DFACE" entity names the file holds (each follows a "0" group line).
dxf_counts() {
  local read
  read=$("$python" -c 'import ezdxf, sys; print(len(ezdxf.readfile(sys.argv[1]).modelspace().query("3DFACE")))' "$1" 2> /dev/null) || read=unreadable
  echo "$read" "$(awk '{ sub(/\r$/, "") } prev == "0" && $0 == "3DFACE" { n++ } { prev = $0 } END { print n + 0 }' "$1")"
}

check_obj() {  # FILE WHAT
  local want got
  [ -s "$1" ] || { fail "$2: no OBJ written"; return; }
  want=$(obj_counts "$1")
  [ "${want#* }" != 0 ] || fail "$2: the OBJ holds no face"
  got=$(assimp_counts "$1") || { fail "$2: assimp cannot read the OBJ"; return; }
  expect_eq "$got" "$want" "$2: assimp's vertex and face counts"
}
check_glb() {  # FILE WHAT
  local want got
  [ -s "$1" ] || { fail "$2: no glTF written"; return; }
  want=$(glb_counts "$1") || { fail "$2: the .glb does not parse"; return; }
  [ "${want#* }" != 0 ] || fail "$2: the .glb holds no face"
  got=$(assimp_counts "$1") || { fail "$2: assimp cannot read the .glb"; return; }
  expect_eq "$got" "$want" "$2: assimp's vertex and face counts"
}
check_dxf() {  # FILE WHAT
  local counts
  [ -s "$1" ] || { fail "$2: no DXF written"; return; }
  counts=$(dxf_counts "$1")
  read -r ezdxf_faces file_faces <<< "$counts"
  [ "$file_faces" -gt 0 ] || fail "$2: the DXF holds no 3DFACE"
  expect_eq "$ezdxf_faces" "$file_faces" "$2: 3DFACE entities ezdxf reads"
  # The file ends with the line EOF and one byte 255.
  expect_eq "$(tail -c 5 "$1" | od -An -tx1 | tr -d ' \n')" "454f460aff" "$2: DXF ending"
}
check_rib() {  # FILE WHAT
  [ -s "$1" ] || { fail "$2: no RIB written"; return; }
  expect_eq "$(head -n 1 "$1")" "##RenderMan RIB-Structure 1.0" "$2: RIB first line"
  grep -q '^Patch "bicubic"' "$1" || fail "$2: no bicubic patch in the RIB"
}

# Every format from a segment, a figure and a choreography.
for source in "$box" "$vase_fig" "$vase_cho"; do
  name=$(basename "$source")
  for ext in obj glb dxf rib qtm; do
    out="$work/all/${name%.*}_${name##*.}.$ext"
    "$zentrope" export "$source" -o "$out" > /dev/null || fail "export $name to .$ext"
  done
  stem="$work/all/${name%.*}_${name##*.}"
  check_obj "$stem.obj" "$name"
  check_glb "$stem.glb" "$name"
  check_dxf "$stem.dxf" "$name"
  check_rib "$stem.rib" "$name"
  grep -qx 'FRAME 1' "$stem.qtm" || fail "$name: QTM without FRAME 1"
done

# The extension decides the format whatever its case; an unknown one is a
# mistake on the command line.
"$zentrope" export "$box" -o "$work/upper/BOX.GLB" > /dev/null || fail "export to .GLB"
check_glb "$work/upper/BOX.GLB" "upper-case extension"
"$zentrope" export "$box" -o "$work/box.stl" 2> /dev/null
expect_eq "$?" 2 "export to an unknown format"
[ ! -e "$work/box.stl" ] || fail "a file was written for an unknown format"
"$zentrope" export "$box" -o "$work/box.obj" --frame 2 --frames 1-2 2> /dev/null
expect_eq "$?" 2 "--frame with --frames"

# A choreography moves its figure between frames: the glTF of two frames
# differs (the vase rides its path).
"$zentrope" export "$vase_cho" -o "$work/move/a.glb" --frame 1 > /dev/null || fail "frame 1 of the scene"
"$zentrope" export "$vase_cho" -o "$work/move/b.glb" --frame 30 > /dev/null || fail "frame 30 of the scene"
cmp -s "$work/move/a.glb" "$work/move/b.glb" && fail "frames 1 and 30 of the scene give the same glTF"

# Sequences follow the naming rule: trailing digits dropped from the name,
# the name cut so that it and the frame number have 8 characters.
"$zentrope" export "$box" -o "$work/seq/walkcycle01.dxf" --frames 11-12 > /dev/null || fail "DXF sequence"
for f in walkcy11.dxf walkcy12.dxf; do
  check_dxf "$work/seq/$f" "sequence $f"
done
[ ! -e "$work/seq/walkcycle01.dxf" ] || fail "a sequence wrote the chosen name itself"
"$zentrope" export "$vase_fig" -o "$work/seq/vase.glb" --frames 1-2 > /dev/null || fail "glTF sequence"
check_glb "$work/seq/vase1.glb" "sequence vase1.glb"
check_glb "$work/seq/vase2.glb" "sequence vase2.glb"

# Ctrl-C stops a sequence between frames: exit 1 with a message, the frames
# finished before it complete, no temporary left. The signal is sent once
# the first file is there, so the handler is in place.
mkdir -p "$work/stop"
"$zentrope" export "$box" -o "$work/stop/b.obj" --frames 1-32767 > /dev/null 2> "$work/stop.err" &
pid=$!
for _ in $(seq 1 300); do
  [ -e "$work/stop/b1.obj" ] && break
  sleep 0.05
done
kill -INT "$pid"
wait "$pid"
expect_eq "$?" 1 "export stopped by Ctrl-C"
grep -q "stopped" "$work/stop.err" || fail "a stopped export said [$(cat "$work/stop.err")]"
written=$(ls "$work/stop" | wc -l)
[ "$written" -ge 1 ] && [ "$written" -lt 32767 ] || fail "a stopped export left $written files"
case "$(cat "$work/stop.err")" in *"; $written file(s) written"*) ;; *) fail "stopped export counts [$(cat "$work/stop.err")], $written on disk" ;; esac
for f in "$work"/stop/*; do
  case "$f" in *.obj) ;; *) fail "left behind: $f" ;; esac
done
check_obj "$(ls "$work"/stop/*.obj | tail -n 1)" "the last file before the stop"

# QTM: one file for a sequence (named at its first frame), a FRAME block per
# frame and one table of control points.
"$zentrope" export "$vase_cho" -o "$work/q/scene.qtm" --frames 1-3 > /dev/null || fail "QTM sequence"
qtm="$work/q/scene1.qtm"
if [ -s "$qtm" ]; then
  expect_eq "$(grep '^FRAME ' "$qtm" | tr '\n' ' ')" "FRAME 1 FRAME 2 FRAME 3 " "QTM frames"
  expect_eq "$(grep -c '^CONTROL POINTS ' "$qtm")" 1 "QTM control point tables"
else
  fail "no QTM file $qtm"
fi
expect_eq "$(ls "$work/q")" "scene1.qtm" "QTM sequence files"

# An export into a folder that cannot be written fails with the format's
# message and leaves no file. A path under a regular file fails for root
# too; a read-only folder only for other users.
touch "$work/plain"
err=$("$zentrope" export "$box" -o "$work/plain/box.obj" 2>&1 > /dev/null)
expect_eq "$?" 1 "export under a regular file"
case "$err" in *"Trouble Saving OBJ"*) ;; *) fail "export under a regular file said [$err]" ;; esac
[ ! -e "$work/plain/box.obj" ] || fail "a file under a regular file"
for ext in dxf qtm rib glb; do
  err=$("$zentrope" export "$box" -o "$work/plain/box.$ext" 2>&1 > /dev/null)
  expect_eq "$?" 1 "export .$ext under a regular file"
  upper=$(echo "$ext" | tr a-z A-Z)
  [ "$ext" = glb ] && upper=glTF
  case "$err" in *"Trouble Saving $upper"*) ;; *) fail ".$ext under a regular file said [$err]" ;; esac
done
# A write that fails part way (the file-size limit, as a full disk would)
# is the format's failure with the system's reason, not a stop by the user,
# and leaves no file.
for ext in dxf obj rib; do
  upper=$(echo "$ext" | tr a-z A-Z)
  err=$( (ulimit -f 8 && "$zentrope" export "$vase_fig" -o "$work/full/vase.$ext") 2>&1 > /dev/null)
  expect_eq "$?" 1 "a .$ext export past the file-size limit"
  case "$err" in *"Trouble Saving $upper"*"too large"*) ;; *) fail ".$ext past the file-size limit said [$err]" ;; esac
  [ ! -e "$work/full/vase.$ext" ] || fail "a partial .$ext under the name"
done

# A single frame keeps its number in the RIB although the file keeps its
# name.
"$zentrope" export "$vase_cho" -o "$work/single/v.rib" --frame 15 > /dev/null || fail "RIB of frame 15"
grep -qx 'FrameBegin 15' "$work/single/v.rib" || fail "frame 15's RIB says $(grep FrameBegin "$work/single/v.rib")"

if [ "$(id -u)" != 0 ]; then
  mkdir "$work/locked" && chmod 555 "$work/locked"
  err=$("$zentrope" export "$vase_fig" -o "$work/locked/vase.dxf" 2>&1 > /dev/null)
  expect_eq "$?" 1 "export into a read-only folder"
  case "$err" in *"Trouble Saving DXF"*) ;; *) fail "read-only folder said [$err]" ;; esac
  expect_eq "$(ls -A "$work/locked")" "" "files left in a read-only folder"
fi

# A 40,000-piece OBJ: a 26-point profile lathed into 25 sections is 25 × 25
# four-sided patches, and "SubDivisions" 64 cuts each into 64 pieces.
awk 'BEGIN {
  print "SCUL 2 0 1 0 0 0"; print "0"; print "0 0 0 20 100 0"; print "0 0 0"; print "1"; print 26
  for (i = 1; i <= 26; i++) { printf "1 0 %d\n%g %g 0\n0\n0\n", i, 10 + 5 * sin(i / 3), 4 * (i - 1) }
}' > "$work/profile.seg"
"$zentrope" lathe "$work/profile.seg" --sections 25 -o "$work/big.seg" > /dev/null || fail "lathe of the big model"
printf '[GLOBAL]\nSubDivisions=64\n' > "$work/big.ini"
"$zentrope" --settings "$work/big.ini" export "$work/big.seg" -o "$work/big.obj" > /dev/null ||
  fail "export of the big model"
if [ -s "$work/big.obj" ]; then
  read -r corners faces < <(obj_counts "$work/big.obj")
  expect_eq "$faces" 40000 "faces of the big model"
  check_obj "$work/big.obj" "40,000-piece model"
else
  fail "no OBJ of the big model"
fi

# DXF import: two polylines whose ends meet at both ends join into one
# closed spline; the shared corners are not doubled (3 + 3 − 2 points).
cat > "$work/loop.dxf" << 'DXF'
0
SECTION
2
ENTITIES
0
POLYLINE
8
0
66
1
70
0
0
VERTEX
8
0
10
0
20
0
30
0
0
VERTEX
8
0
10
10
20
0
30
0
0
VERTEX
8
0
10
10
20
10
30
0
0
SEQEND
0
POLYLINE
8
0
66
1
70
0
0
VERTEX
8
0
10
10
20
10
30
0
0
VERTEX
8
0
10
0
20
10
30
0
0
VERTEX
8
0
10
0
20
0
30
0
0
SEQEND
0
ENDSEC
0
EOF
DXF
"$zentrope" import "$work/loop.dxf" -o "$work/loop.seg" || fail "import of two polylines"
info=$("$zentrope" info "$work/loop.seg" --json) || fail "info of the imported segment"
case "$info" in *'"splines":1,"points":4,'*) ;; *) fail "imported loop: $info" ;; esac
"$zentrope" import "$work/loop.dxf" -o "$work/loop.seg" 2> /dev/null
expect_eq "$?" 1 "import over an existing segment without --force"
"$zentrope" import "$work/loop.dxf" -o "$work/loop.seg" --force || fail "import --force"
printf '0\nSECTION\n2\nENTITIES\n0\nPOLYLINE\n70\n0\n0\nVERTEX\n10\n1\n' > "$work/cut.dxf"
err=$("$zentrope" import "$work/cut.dxf" -o "$work/cut.seg" 2>&1)
expect_eq "$?" 1 "import of a cut-off drawing"
case "$err" in *"Trouble Opening Segment"*) ;; *) fail "cut-off drawing said [$err]" ;; esac
[ ! -e "$work/cut.seg" ] || fail "a segment was written for a cut-off drawing"

# play starts the player named by ZENTROPE_PLAYER on the movie and returns.
ffmpeg -loglevel error -f lavfi -i color=c=red:s=16x16:d=0.2 -c:v mjpeg "$work/movie.avi" ||
  fail "ffmpeg could not make a movie"
cat > "$work/player.sh" << EOF
#!/bin/sh
printf '%s' "\$1" > "$work/played"
EOF
chmod +x "$work/player.sh"
ZENTROPE_PLAYER="$work/player.sh" "$zentrope" play "$work/movie.avi" || fail "play"
for _ in 1 2 3 4 5 6 7 8 9 10; do
  [ -s "$work/played" ] && break
  sleep 0.2
done
case "$(cat "$work/played" 2> /dev/null)" in
  *movie.avi) ;;
  *) fail "the player was not started on the movie: [$(cat "$work/played" 2> /dev/null)]" ;;
esac
ZENTROPE_PLAYER="$work/player.sh" "$zentrope" play "$work/missing.avi" 2> /dev/null
expect_eq "$?" 1 "play of a missing movie"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "exchange: all passed"
