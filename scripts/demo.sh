#!/usr/bin/env bash
# A tour in a throw-away home folder: sweeply sets up a demo folder with two
# conditions and turns the run log and the metrics file on, shows what a run
# would do, sweeprun runs, and the run log, the metrics and the Trash show
# what happened. Nothing outside the throw-away folder is touched; set KEEP=1
# to keep it for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target sweeprun sweeply >/dev/null
bin="$PWD/build"

demo="$(mktemp -d)"
if [ "${KEEP:-}" = 1 ]; then
  echo "The demo stays in $demo"
else
  trap 'rm -rf "$demo"' EXIT
fi
export HOME="$demo/home" XDG_DATA_HOME="$demo/home/.local/share"
unset XDG_CONFIG_HOME
mkdir -p "$HOME" "$demo/Downloads"
cd "$demo"

if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold='' plain=''; fi
step() { printf '\n%s$ %s%s\n' "$bold" "$*" "$plain"; "$@"; }

echo "A downloads folder with an installer, a large disk image and two notes:"
printf 'installer' > Downloads/Setup.dmg
truncate -s 3M Downloads/ubuntu.iso
printf 'keep me\n' > Downloads/notes.txt
printf 'shopping list\n' > Downloads/list.txt
ls -l Downloads

step "$bin/sweeply" add Downloads --condition 'name: *.dmg' --condition 'size: > 1000000' --any
step "$bin/sweeply" prefs LogToFile yes
step "$bin/sweeply" prefs LogFileName "$demo/sweeply.log"
step "$bin/sweeply" prefs MetricsFile "$demo/sweeprun.prom"
step "$bin/sweeply" preview
step "$bin/sweeprun"
step cat "$demo/sweeply.log"
step cat "$demo/sweeprun.prom"
# Under systemd the run's removals are journal records as well.
if [ -S /run/systemd/journal/socket ] && command -v journalctl >/dev/null; then
  journalctl --sync 2>/dev/null || true  # root only; elsewhere the records come soon enough
  step journalctl --no-pager SYSLOG_IDENTIFIER=sweeprun SWEEPRUN_FOLDER="$demo/Downloads" || true
fi
step ls -l "$XDG_DATA_HOME/Trash/files"
step "$bin/sweeply" show Downloads
# Every run that removes something is journalled: history shows it, and undo
# puts back what it trashed or moved.
step "$bin/sweeply" history
step "$bin/sweeply" undo --dry-run
step "$bin/sweeply" undo
step ls -l "$demo/Downloads"
