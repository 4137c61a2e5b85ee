#!/usr/bin/env bash
# Races many system-mode runs against an unprivileged attacker and prints
# the runs and escapes of each scenario. Needs root (the runs are system
# mode; the attacker is uid 4242); everything happens in a private mount
# namespace on two tmpfs mounts, so nothing outside is touched.
#
#   scripts/race_soak.sh [N]    N raced runs in all (default 2000), shared by
#                               the four scenarios; the two tests of moves
#                               across volumes of a tree run N/2 times
# Exit status: 0 when no run escaped.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-2000}"
case "$runs" in
  '' | *[!0-9]*) echo "usage: $0 [number of runs]" >&2; exit 2 ;;
esac
if [ "$(id -u)" != 0 ]; then
  echo "$0: system-mode runs need root" >&2
  exit 2
fi
cmake -S . -B build >/dev/null
cmake --build build -j2 --target race_tests >/dev/null
status=0
RACE_RUNS="$runs" build/tests/race/race_tests >build/race_soak.log 2>&1 || status=$?
# The tallies, and the first escapes of each action with their changes.
awk '/^race /{print; next} /^  escape in/{e=1; print; next} e && /^    /{print; next} {e=0}' \
  build/race_soak.log
grep -E '^\[  (FAILED|SKIPPED) ' build/race_soak.log || true
echo "full output: build/race_soak.log"
exit "$status"
