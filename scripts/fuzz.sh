#!/usr/bin/env bash
# Builds the libFuzzer programs with clang (build/fuzz) and runs each for
# SECONDS over a copy of its seeds (fuzz/corpus/<name>), then prints the
# executions of each and its findings. Exits 1 when any target finds
# anything. The seed folders are never written; inputs that broke a target
# are kept in build/fuzz/findings/<target>/.
#   scripts/fuzz.sh SECONDS [TARGET...]     e.g. scripts/fuzz.sh 600, scripts/fuzz.sh 30 segment_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift

build=build/fuzz
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROPE_FUZZ=ON \
  -DZENTROPE_BUILD_TESTS=OFF -DZENTROPE_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" --parallel 2 --target zentrope_fuzz_all

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for program in "$build"/fuzz/*_fuzz; do
    targets+=("$(basename "$program")")
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings_root=$build/findings
failed=0
printf '%-22s %12s  %s\n' target executions findings
for target in "${targets[@]}"; do
  seeds=fuzz/corpus/${target%_fuzz}
  corpus=$work/corpus/$target
  findings=$findings_root/$target
  mkdir -p "$corpus" "$findings" "$work/tmp/$target"
  if [ -d "$seeds" ]; then
    cp -r "$seeds"/. "$corpus"/
  fi
  log=$work/$target.log
  status=0
  # Private temporary files of the target stay under the work folder, even
  # when a finding ends the run before it tidies up.
  TMPDIR=$work/tmp/$target ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" > "$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(grep -cE '^==[0-9]+==ERROR|^SUMMARY: |fuzz finding:|ALARM: working on the last Unit|Test unit written to' "$log" || true)
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    printf '%-22s %12s  %s\n' "$target" "${runs:-?}" "FOUND (exit $status)"
    grep -E 'fuzz finding:|^==[0-9]+==ERROR|^SUMMARY: |runtime error|Test unit written to' "$log" | head -8 |
      sed 's/^/    /'
  else
    printf '%-22s %12s  %s\n' "$target" "${runs:-?}" none
  fi
done
exit "$failed"
