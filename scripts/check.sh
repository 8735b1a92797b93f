#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, checks
# formatting, runs the whole test suite, then builds the fuzz programs with
# clang and runs each for a few seconds over a copy of its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== formatting"
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

echo "== build (sanitizers)"
cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROPE_SANITIZE=ON \
  > /dev/null
cmake --build build/check --parallel 2

echo "== build (release: the optimiser's warnings differ)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTROPE_BUILD_TESTS=OFF \
  -DZENTROPE_BUILD_BENCH=OFF > /dev/null
cmake --build build/release --parallel 2

echo "== tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/check --output-on-failure --parallel 2 --timeout 300

echo "== fuzz (clang, every target for 5 s)"
scripts/fuzz.sh 5
