#!/usr/bin/env bash
# The installed manual pages render without a single warning, and each
# carries the sections a reader looks for.
#
# Usage: man_pages_test.sh PREFIX
set -uo pipefail
source "$(dirname "$0")/install_test_lib.sh"

prefix=$1
command -v man >/dev/null || skip "man is not installed"
man=$prefix/share/man
warnings=$(mktemp)
trap 'rm -f "$warnings"' EXIT

while read -r page sections; do
  file=$man/$page
  [ -f "$file" ] || { fail "$page is not installed"; continue; }
  rendered=$(env LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat PAGER=cat \
    man --warnings -E UTF-8 -l "$file" 2>"$warnings")
  status=$?
  [ "$status" -eq 0 ] || fail "man -l $page ended with status $status"
  expect_same "warnings of $page" "" "$(cat "$warnings")"
  for section in $sections; do
    grep -q "^${section//_/ }\$" <<<"$rendered" || fail "$page has no section ${section//_/ }"
  done
done <<'PAGES'
man8/sweeprun.8.gz NAME SYNOPSIS OPTIONS EXIT_STATUS RUN_LOG FILES SEE_ALSO
man5/sweeprun.plist.5.gz NAME CONDITIONS DIAGNOSTICS EXAMPLE SEE_ALSO
man1/sweeply.1.gz NAME SYNOPSIS COMMANDS EXIT_STATUS SEE_ALSO
PAGES

finish
