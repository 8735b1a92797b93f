#!/usr/bin/env bash
# The long sweep: every mutation of every sample document and picture through
# info, check, resave and convert, with the command built under the
# sanitizers (build/check, as scripts/check.sh builds it). Inputs that
# caused a finding are kept in build/sweep-findings/.
#   scripts/sweep.sh [small|long]      (long by default)
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-long}
cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROPE_SANITIZE=ON \
  > /dev/null
cmake --build build/check --parallel 2 --target zentrope_cli
rm -rf build/sweep-findings
exec bash tests/app/sweep.sh "$PWD/build/check/bin/zentrope" "$PWD" "$mode" "$PWD/build/sweep-findings"
