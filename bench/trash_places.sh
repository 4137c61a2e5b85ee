#!/usr/bin/env bash
# Cost per trashed entry: into the home Trash, and into the top-directory
# Trash of the entry's file system, both on one tmpfs so that both are
# renames on the same kind of file system. Whole user-mode runs of the built
# tool, the two alternated, pinned to one core; prints the median of each.
# Root only (it mounts the tmpfs).
#
#   bench/trash_places.sh [ENTRIES] [ROUNDS]     (default 10000 entries, 5 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-10000} rounds=${2:-5}
[ "$(id -u)" = 0 ] || { echo "$0: needs root to mount a tmpfs" >&2; exit 2; }
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-rel -j"$(nproc)" --target sweeprun sweeply >/dev/null
tool=$PWD/build-rel/sweeprun sweeply=$PWD/build-rel/sweeply
work=$(mktemp -d)
trap 'umount "$work/volume" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/volume" "$work/away"
mount -t tmpfs -o size=512m none "$work/volume"

# One run that trashes |entries| files of the volume's folder; $1 is HOME.
# Prints the seconds the run took.
trash_run() {
  local home=$1 folder=$work/volume/watched
  rm -rf "$folder" "$home/Library" "$home/.local" "$work/volume/.Trash-0"
  mkdir -p "$folder" "$home"
  (cd "$folder" && seq 1 "$entries" | xargs touch)
  HOME=$home XDG_DATA_HOME= "$sweeply" add "$folder" --condition 'size: > 0' >/dev/null || { echo "sweeply add failed" >&2; exit 1; }
  local start end
  start=$(date +%s.%N)
  HOME=$home XDG_DATA_HOME= taskset -c 1 "$tool"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

home_times=() top_times=()
for ((r = 0; r < rounds; r++)); do
  home_times+=("$(trash_run "$work/volume/home")")  # home on the entries' file system
  top_times+=("$(trash_run "$work/away/home")")     # home elsewhere: the volume's .Trash-0
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
home=$(median "${home_times[@]}") top=$(median "${top_times[@]}")
echo "entries $entries, rounds $rounds (whole runs, median)"
echo "home Trash:          $home s, $(echo "$home * 1000000 / $entries" | bc) us per entry"
echo "top-directory Trash: $top s, $(echo "$top * 1000000 / $entries" | bc) us per entry"
echo "ratio top/home: $(echo "scale=2; $top / $home" | bc)"
