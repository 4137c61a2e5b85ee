#!/usr/bin/env bash
# Kills runs of sweeprun and saves by sweeply N times (default 1000) at
# random moments and prints: kills, damaged databases, leftovers (temporary
# files still there after the next successful save). Builds what it needs in
# build/. Exits non-zero when any database was damaged or a leftover stayed.
set -euo pipefail
cd "$(dirname "$0")/.."
kills="${1:-1000}"
case "$kills" in
  '' | *[!0-9]*) echo "usage: $0 [N]" >&2; exit 2 ;;
esac
cmake -S . -B build -DSWEEPRUN_WERROR=ON >/dev/null
cmake --build build -j2 --target e2e_tests >/dev/null
status=0
output=$(SWEEPRUN_CRASH_KILLS="$kills" build/tests/e2e/e2e_tests \
  --gtest_filter='CrashEndToEndTest.*' --gtest_brief=1 2>&1) || status=$?
summary=$(printf '%s\n' "$output" | grep '^crash soak: kills' || true)
if [ -z "$summary" ]; then
  printf '%s\n' "$output" >&2
  echo "crash soak: the test did not finish" >&2
  exit 1
fi
printf '%s\n' "$output" | grep -E '^crash soak: seed|left a damaged database' || true
# "crash soak: kills K, interrupted saves I, damaged databases D, leftovers L"
read -r killed interrupted damaged leftovers < <(printf '%s\n' "$summary" |
  sed -E 's/.*kills ([0-9]+), interrupted saves ([0-9]+), damaged databases ([0-9]+), leftovers ([0-9]+).*/\1 \2 \3 \4/')
echo "kills: $killed"
echo "interrupted saves: $interrupted"
echo "damaged databases: $damaged"
echo "leftovers: $leftovers"
exit "$status"
