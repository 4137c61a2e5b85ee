#!/bin/sh
# Runs a desktop trash tool (trash-list, trash-restore; also through setpriv)
# with a view of the mounts that holds only the volumes a test names. Such
# tools look for Trash folders on every mounted volume as well as in the
# home folder; a test must see only the Trash folders it made, never the
# host's. In a private mount namespace, /proc becomes a small memory file
# system whose "mounts" file lists the named volumes alone; the host's /proc
# is left alone.
#
#   hermetic_trash_tool.sh [--volume DIR]... PROGRAM [ARGUMENT...]
#
# Exits 77 (a test skips) when no such namespace can be made: it needs root.
[ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 || exit 77
mounts=
while [ "$1" = --volume ]; do
  mounts="${mounts}none $2 tmpfs rw 0 0
"
  shift 2
done
export HERMETIC_MOUNTS="$mounts"
exec unshare --mount --propagation private -- /bin/sh -c '
  mount -t tmpfs -o size=16k,mode=0555 none /proc 2>/dev/null || exit 77
  printf "%s" "$HERMETIC_MOUNTS" > /proc/mounts || exit 77
  unset HERMETIC_MOUNTS
  exec "$@"' hermetic_trash_tool "$@"
