#!/usr/bin/env bash
# The cost of the run journal per removed entry, against the cost of trashing
# the entry: builds bench/journal_bench (in build-bench/) and runs it.
#   bench/journal_cost.sh [N] [ROUNDS]      (2000 entries, 7 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSWEEPRUN_BENCH=ON -DBUILD_TESTING=OFF \
  ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
cmake --build build-bench -j2 --target journal_bench >/dev/null
exec build-bench/bench/journal_bench --rounds="${2:-7}" "${1:-2000}"
