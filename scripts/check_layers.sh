#!/usr/bin/env bash
# Checks that every include in src/ points down the layers, never up:
#   cli -> companion -> engine -> settings -> model -> log -> archive -> plist
# with fs and os below all of them (they may use each other), that only
# fs and os include the system's file headers, and that only the entry points
# (cli and companion) reach for the process context: every room below them
# is handed the RunWorld it works in. Prints each offence and exits 1 when
# there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
rank() {
  case "$1" in
    cli) echo 8 ;; companion) echo 7 ;; engine) echo 6 ;; settings) echo 5 ;;
    model) echo 4 ;; log) echo 3 ;; archive) echo 2 ;; plist) echo 1 ;;
    fs | os) echo 0 ;; *) echo -1 ;;
  esac
}
status=0
while IFS=: read -r file line included; do
  from=$(cut -d/ -f2 <<<"$file")
  to=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$included")
  [ "$(rank "$to")" -ge 0 ] || continue
  if [ "$(rank "$to")" -gt "$(rank "$from")" ]; then
    echo "$file:$line: $from includes the higher layer $to: $included"
    status=1
  fi
done < <(grep -rnE '^#include "[a-z]+/' src)
# Only the two bottom rooms speak to the system directly.
while IFS= read -r hit; do
  echo "$hit: a system header outside src/fs and src/os"
  status=1
done < <(grep -rnE '^#include <(fcntl|unistd|dirent|sys/stat)\.h>' src | grep -vE '^src/(fs|os)/' || true)
# Only the entry points build the run's world from the process; os/process.*
# is where that context lives. Comment lines do not count.
while IFS= read -r hit; do
  echo "$hit: the process context outside src/cli and src/companion"
  status=1
done < <(grep -rnE '^#include "os/process\.h"|(^|[^A-Za-z0-9_.>])process\(\)' src |
  grep -vE '^src/(cli|companion)/|^src/os/process\.(h|cc):' |
  grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' || true)
[ "$status" = 0 ] && echo "layers: every include points down; only cli and companion reach the process"
exit "$status"
