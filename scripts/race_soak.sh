#!/usr/bin/env bash
# Races many system-mode runs against an unprivileged attacker and prints
# the runs and escapes of each action: delete, trash (the account's and the
# owner's), move on one volume and across volumes, and the undo of each
# action that moves ("sweeply undo --system" of a raced run, raced too; its
# line is "race <action> undo: ..."). Needs root (the runs are system mode;
# the attacker is uid 4242); everything happens in a private mount namespace
# on tmpfs mounts, so nothing outside is touched.
#
#   scripts/race_soak.sh [N]    N raced runs in all (default 2000), shared by
#                               the five actions (one run in five, or in
#                               eight across volumes, is followed by a raced
#                               undo); the two tests of moves across volumes
#                               of a tree run N/2 times
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
cmake -S . -B build -DSWEEPRUN_WERROR=ON >/dev/null
cmake --build build -j2 --target race_tests sweeply >/dev/null
status=0
RACE_RUNS="$runs" build/tests/race/race_tests >build/race_soak.log 2>&1 || status=$?
# The tallies, and the first escapes of each action with their changes.
awk '/^race /{print; next} /^  escape in/{e=1; print; next} e && /^    /{print; next} {e=0}' \
  build/race_soak.log
grep -E '^\[  (FAILED|SKIPPED) ' build/race_soak.log || true
echo "full output: build/race_soak.log"
exit "$status"
