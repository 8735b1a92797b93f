#!/usr/bin/env bash
# Feeds mutated copies of the sample documents and pictures to info, check,
# resave and convert, and reports any run that ends by a signal, a sanitizer
# report or a timeout, and any resave or convert that reports success while
# writing a file that does not read back. A refusal (exit 1 with a message)
# is the right answer to a broken file and is not reported.
#   sweep.sh ZENTROPE SOURCE_DIR [small|long] [FINDINGS_DIR]
# small (CTest) takes a few hundred inputs; long every mutation of every
# sample. Each finding's input is copied to FINDINGS_DIR when given.
set -u
zentrope=$1
source_dir=$2
mode=${3:-small}
findings_dir=${4:-}
case $mode in small | long) ;; *)
  echo "usage: sweep.sh ZENTROPE SOURCE_DIR [small|long] [FINDINGS_DIR]" >&2
  exit 2
  ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZENTROPE_INI="$work/zentrope.ini"
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
limit=20
[ "$mode" = long ] && limit=60
export LC_ALL=C

inputs=0
runs=0
findings=0

# The sample tree: every document keeps its neighbours, so that the names it
# holds still resolve once it is mutated in place.
tree=$work/tree
mkdir -p "$tree/arm" "$tree/pictures" "$tree/materials" "$tree/vase"
cp "$source_dir"/examples/*.seg "$source_dir"/examples/*.grp "$source_dir"/examples/*.cho "$tree/"
cp "$source_dir"/examples/arm/* "$tree/arm/"
cp "$source_dir"/examples/materials/*.mat "$tree/materials/"
cp "$source_dir"/examples/vase/vase.* "$tree/vase/"
cp "$source_dir"/fuzz/corpus/skeletal/v4.ske "$source_dir"/fuzz/corpus/morph/v3.mor \
  "$source_dir"/fuzz/corpus/skeletal_frame/pose.skf "$tree/arm/"
cp "$source_dir"/fuzz/corpus/attribute/v6.att "$tree/arm/arm.att"
cp "$source_dir"/fuzz/corpus/skin/v2.ski "$tree/arm/arm.ski"
for picture in "$source_dir"/tests/data/image/*.{tga,pcx,pict,iff,png}; do
  cp "$picture" "$tree/pictures/"
done

documents=(box.seg box.grp crlf_v1.seg scene.cho arm/arm.fig arm/upper.seg arm/wave.act
  arm/v4.ske arm/v3.mor arm/pose.skf arm/arm.att arm/arm.ski materials/checker.mat
  materials/spherical.mat materials/noise.mat materials/spray.mat vase/vase.seg vase/vase.fig)
pictures=()
for picture in "$tree"/pictures/*; do
  pictures+=("pictures/$(basename "$picture")")
done

report() {  # input-file what
  findings=$((findings + 1))
  echo "FINDING: $2"
  if [ -n "$findings_dir" ]; then
    mkdir -p "$findings_dir"
    cp "$1" "$findings_dir/finding$findings-$(basename "$1")"
    echo "    input kept as $findings_dir/finding$findings-$(basename "$1")"
  fi
}

# Runs the command under a time limit; reports a signal, a timeout or a
# sanitizer report. Leaves the exit status in $status.
run() {  # input-file description command...
  local input=$1 what=$2
  shift 2
  runs=$((runs + 1))
  timeout -k 5 "$limit" "$@" > "$work/out" 2> "$work/err"
  status=$?
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    report "$input" "$what: no answer within $limit s"
  elif [ $status -gt 128 ]; then
    report "$input" "$what: ended by signal $((status - 128)): $(tail -c 300 "$work/err" | tr '\n' ' ')"
  elif grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|terminate called|Assertion .* failed' \
    "$work/err"; then
    report "$input" "$what: $(grep -m1 -E 'Sanitizer|runtime error:|terminate called|Assertion' "$work/err")"
  fi
}

# Every command on one mutated copy of a sample (rel: its place in the tree;
# the mutated bytes are in $work/mutant).
sweep_one() {  # rel description
  local rel=$1 what="$1 ($2)"
  local file=$tree/$rel
  inputs=$((inputs + 1))
  cp "$work/mutant" "$file"
  cp "$work/mutant" "$work/input-${rel##*/}"
  local input=$work/input-${rel##*/}
  run "$input" "info --json $what" "$zentrope" info --json "$file"
  # check reads as info does, then follows the names: only worth a run when
  # the document reads.
  [ $status -eq 0 ] && run "$input" "check $what" "$zentrope" check "$file"
  local ext=${rel##*.} dir
  dir=$(dirname "$file")
  # Models that read are drawn too: the renderer meets their geometry.
  if [ $status -eq 0 ] && { [ "$ext" = seg ] || [ "$ext" = fig ]; }; then
    rm -rf "$dir/drawn"
    run "$input" "render $what" "$zentrope" render "$file" --size 32x24 --shading phong \
      -o "$dir/drawn/picture.tga"
    if [ $status -eq 0 ] && ! "$zentrope" info "$dir/drawn/picture.tga" > /dev/null 2>&1; then
      report "$input" "render $what: reported success but the picture does not read back"
    fi
    # And raytraced, with shadows and reflections: rays meet it too.
    run "$input" "raytrace $what" "$zentrope" render "$file" --mode raytrace --size 24x18 \
      --shadows --reflections -o "$dir/drawn/traced.tga"
    if [ $status -eq 0 ] && ! "$zentrope" info "$dir/drawn/traced.tga" > /dev/null 2>&1; then
      report "$input" "raytrace $what: reported success but the picture does not read back"
    fi
    rm -rf "$dir/drawn"
  fi
  # Written beside the input, so that the names it holds stay relative.
  local outs=("$dir/out/resaved.$ext")
  case $ext in
    tga | pcx | pict | iff | png) outs=("$dir/out/converted.png" "$dir/out/converted.tga") ;;
    ske | mor) outs=("$dir/out/resaved.act") ;;
  esac
  for out in "${outs[@]}"; do
    rm -rf "${out%/*}"
    mkdir -p "${out%/*}"
    case $ext in
      tga | pcx | pict | iff | png) run "$input" "convert $what to ${out##*.}" "$zentrope" convert "$file" -o "$out" ;;
      *) run "$input" "resave $what" "$zentrope" resave "$file" -o "$out" ;;
    esac
    if [ $status -eq 0 ]; then
      if [ ! -s "$out" ]; then
        report "$input" "$what: reported success but wrote no ${out##*/}"
      else
        run "$input" "info on the output of $what" "$zentrope" info "$out"
        if [ $status -ne 0 ]; then
          report "$input" "$what: reported success but ${out##*/} does not read back: $(head -c 300 "$work/err" | tr '\n' ' ')"
        fi
      fi
    fi
    rm -rf "${out%/*}"
  done
  cp "$work/original" "$file"
}

# Evenly spaced members of a list, at most n of them (all in the long sweep).
spread() {  # n values...
  local n=$1
  shift
  if [ "$mode" = long ] || [ $# -le "$n" ]; then
    echo "$@"
    return
  fi
  local picked=() i
  for ((i = 0; i < n; ++i)); do
    local at=$((1 + i * $# / n))
    picked+=("${!at}")
  done
  echo "${picked[@]}"
}

# Mutations of a text document.
mutate_document() {  # rel
  local rel=$1 file=$tree/$1
  cp "$file" "$work/original"
  local lines k value
  lines=$(wc -l < "$work/original")
  # Truncations at line ends, and one in the middle of a line.
  for k in $(spread 5 $(seq 0 $((lines - 1)))); do
    head -n "$k" "$work/original" > "$work/mutant"
    sweep_one "$rel" "first $k lines"
  done
  head -c $(($(wc -c < "$work/original") / 2 + 1)) "$work/original" > "$work/mutant"
  sweep_one "$rel" "cut mid-line"
  # Non-UTF-8 bytes (Latin-1 é and a stray 0xFF) in the names the document
  # holds: the lines after the header with a letter in them.
  for k in $(spread 2 $(awk 'NR > 1 && /[A-Za-z]/ { print NR }' "$work/original")); do
    sed "${k}s/\$/$(printf '\xe9\xff')/" "$work/original" > "$work/mutant"
    sweep_one "$rel" "Latin-1 bytes on line $k"
  done
  local values=(65537 3e38)
  [ "$mode" = long ] && values=(65537 3e38 1e-45 -1 0 2147483648 -32769 99999999999999999999 nan inf)
  for k in $(spread 2 $(seq 3 "$lines")); do
    awk -v k="$k" 'NR == k { print } { print }' "$work/original" > "$work/mutant"
    sweep_one "$rel" "line $k doubled"
    for value in "${values[@]}"; do
      # The first number of the line replaced.
      awk -v k="$k" -v v="$value" 'NR == k { for (i = 1; i <= NF; ++i) if ($i ~ /^-?[0-9.]+$/) { $i = v; break } } { print }' \
        "$work/original" > "$work/mutant"
      cmp -s "$work/mutant" "$work/original" || sweep_one "$rel" "$value on line $k"
    done
    # A count (a line holding one whole number) one larger.
    awk -v k="$k" 'NR == k && $0 ~ /^[0-9]+$/ { $0 = $0 + 1 } { print }' "$work/original" > "$work/mutant"
    cmp -s "$work/mutant" "$work/original" || sweep_one "$rel" "count on line $k plus one"
  done
}

# The byte at offset set to value (0-255).
poke() {  # offset value
  printf "$(printf '\\%03o' "$2")" | dd of="$work/mutant" bs=1 seek="$1" conv=notrunc status=none
}

mutate_picture() {  # rel
  local rel=$1 file=$tree/$1
  cp "$file" "$work/original"
  local size k value
  size=$(wc -c < "$work/original")
  for k in $(spread 4 $(seq 0 $((size - 1)))); do
    head -c "$k" "$work/original" > "$work/mutant"
    sweep_one "$rel" "first $k bytes"
  done
  # The header's bytes (sizes, depths, compression) set to 0 and 255; the
  # short sweep takes a few where the formats keep their sizes.
  local header=$((size < 64 ? size : 64)) offsets
  offsets=$(seq 0 $((header - 1)))
  [ "$mode" = small ] && offsets="9 13 18 21"
  for k in $offsets; do
    for value in 0 255; do
      cp "$work/original" "$work/mutant"
      poke "$k" "$value"
      cmp -s "$work/mutant" "$work/original" || sweep_one "$rel" "byte $k set to $value"
    done
  done
  if [ "$mode" = long ]; then
    for ((k = header; k < size; k += 7)); do
      cp "$work/original" "$work/mutant"
      poke "$k" $((($(od -An -tu1 -j "$k" -N1 "$work/original") + 128) % 256))
      sweep_one "$rel" "byte $k flipped"
    done
  fi
}

for rel in "${documents[@]}"; do
  mutate_document "$rel"
done
if [ "$mode" = long ]; then
  selected=("${pictures[@]}")
else
  # One picture of each format.
  selected=(pictures/grey8_rle.tga pictures/palette8.pcx pictures/indexed8.pict
    pictures/rgb24.iff pictures/rgba.png)
fi
for rel in "${selected[@]}"; do
  mutate_picture "$rel"
done

echo "sweep ($mode): $inputs inputs, $runs runs, $findings findings"
[ $findings -eq 0 ]
