#!/usr/bin/env bash
# Times the raytracer and the peer renderers (POV-Ray 3.7, Embree 3) in one
# run, on the very mesh the raytracer traces: raytrace_bench writes its
# frame's objects as an OBJ, the peers' harness traces that OBJ from the same
# shot with the same light, and raytrace_bench then times our frames.
#
#   bench/raytrace_peers.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR is a Release build (default build/rel); the peers are set up as
# their README says (PEERS, default /tmp/peers). Nothing here is a
# dependency of the project.
set -euo pipefail
build=${1:-build/rel}
runs=${2:-5}
peers=${PEERS:-/tmp/peers}
bench=$build/bench/raytrace_bench
[ -x "$bench" ] || { echo "no $bench: cmake --build $build --target raytrace_bench" >&2; exit 1; }
[ -x "$peers/run_peers.sh" ] || { echo "no peers in $peers (see their README)" >&2; exit 1; }
mesh=$peers/zentrope_vase.obj
ZENTROPE_BENCH_OBJ=$mesh.raw "$bench" --benchmark_filter=NONE >/dev/null 2>&1
python3 "$peers/gen_lathe_obj.py" --from "$mesh.raw" -o "$mesh" >/dev/null
echo "== peers"
REFLECT=1 "$peers/run_peers.sh" "$mesh" 640 480 "$runs"
echo "== zentrope raytrace_bench"
"$bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E 'median|Benchmark'
