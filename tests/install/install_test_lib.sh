# Helpers shared by the installation tests. Each test script sources this
# file, calls check/expect_* for every finding, and ends with finish.

export LC_ALL=C
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_same WHAT EXPECTED ACTUAL: compares two texts, showing the difference.
expect_same() {
  local what=$1 expected=$2 actual=$3
  if [ "$expected" != "$actual" ]; then
    fail "$what differs (- expected, + actual):"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/    /' >&2
  fi
}

# expect_grep WHAT PATTERN FILE: FILE holds a line matching PATTERN (grep -E).
expect_grep() {
  grep -Eq -- "$2" "$3" || fail "$1: no line matching '$2' in $3"
}

skip() {
  echo "SKIP: $*"
  exit 77
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

is_root() { [ "$(id -u)" -eq 0 ]; }

# Lists the files and links below DIR, and the directories named in the
# other arguments, as "mode path" lines (octal mode, path relative to DIR).
list_tree() {
  local dir=$1
  shift
  (
    cd "$dir" || exit 1
    { find . \( -type f -o -type l \) -print; for d in "$@"; do echo "./$d"; done; } |
      sort | while read -r path; do stat -c '%a %n' "$path"; done
  )
}

# Installed as root, everything below DIR must belong to root.
expect_owned_by_root() {
  is_root || return 0
  local strangers
  strangers=$(find "$1" ! -user root -print)
  [ -z "$strangers" ] || fail "not owned by root: $strangers"
}
