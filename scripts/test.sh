#!/usr/bin/env bash
# Builds everything and runs the whole test suite. With --sanitize, builds in
# build-sanitize with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build
# Tests and warnings-as-errors on, whatever an earlier configure of the same
# folder chose; the benchmarks are built too, so that they never fall behind
# the code.
flags=(-DBUILD_TESTING=ON -DSWEEPRUN_BENCH=ON -DSWEEPRUN_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  flags+=(-DSWEEPRUN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
