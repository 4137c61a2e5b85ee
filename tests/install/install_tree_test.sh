#!/usr/bin/env bash
# cmake --install into a throw-away prefix: every file in its place with its
# mode, the units and the launchd lists naming the installed tool, and the
# example configuration accepted by check mode.
#
# Usage: install_tree_test.sh BUILD_DIR STAGE_DIR TEST_DRIVER HAS_SWEEPLY
# The installed tree stays in STAGE_DIR/prefix for the tests that follow.
set -uo pipefail
source "$(dirname "$0")/install_test_lib.sh"

build=$1 stage=$2 driver=$3 has_sweeply=$4
prefix=$stage/prefix
rm -rf "$stage"
mkdir -p "$stage"

if ! cmake --install "$build" --prefix "$prefix" >"$stage/install.log" 2>&1; then
  cat "$stage/install.log" >&2
  fail "cmake --install failed"
  finish
fi

# Every file with its mode: below etc/ only the logrotate file, never a
# configuration file.
expected="555 ./bin/sweeprun"
[ "$has_sweeply" = 1 ] && expected+=$'\n'"755 ./bin/sweeply"
expected+="
644 ./etc/logrotate.d/sweeprun
644 ./lib/systemd/system/sweeprun.service
644 ./lib/systemd/system/sweeprun.timer
644 ./lib/systemd/user/sweeprun.service
644 ./lib/systemd/user/sweeprun.timer
644 ./share/doc/sweeprun/README.md
644 ./share/doc/sweeprun/changelog.gz
644 ./share/doc/sweeprun/copyright
644 ./share/doc/sweeprun/examples/sweeprun.plist
644 ./share/doc/sweeprun/launchd/org.sweeply.sweeprun.agent.plist
644 ./share/doc/sweeprun/launchd/org.sweeply.sweeprun.plist
644 ./share/lintian/overrides/sweeprun
644 ./share/man/man1/sweeply.1.gz
644 ./share/man/man5/sweeprun.plist.5.gz
644 ./share/man/man8/sweeprun.8.gz
700 ./var/lib/sweeprun"
expect_same "installed tree" "$(sort -k2 <<<"$expected")" "$(list_tree "$prefix" var/lib/sweeprun | sort -k2)"
expect_owned_by_root "$prefix"
[ -z "$(ls -A "$prefix/var/lib/sweeprun" 2>/dev/null)" ] || fail "the state folder is not empty"
# The logrotate file is one logrotate accepts, for the run log the example
# writes. A dry run (-d) with a private state file reads and writes nothing
# else; logrotate reports a fault it skips on standard error, status 0.
example=$prefix/share/doc/sweeprun/examples/sweeprun.plist
if command -v logrotate >/dev/null; then
  run_log=$(sed -n '/<key>LogFileName<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' "$example")
  dry_run=$(logrotate -d -s "$stage/logrotate.state" "$prefix/etc/logrotate.d/sweeprun" 2>&1)
  status=$?
  [ "$status" -eq 0 ] || fail "logrotate -d ended with status $status: $dry_run"
  grep -q '^error:' <<<"$dry_run" && fail "logrotate -d: $(grep '^error:' <<<"$dry_run")"
  grep -qF "considering log $run_log" <<<"$dry_run" ||
    fail "the logrotate file does not rotate the example's run log '$run_log': $dry_run"
else
  echo "note: logrotate is not installed: the logrotate file is not checked"
fi

# Everything that starts the tool names it by the installed path.
tool=$prefix/bin/sweeprun
expect_grep "system service" "^ExecStart=$tool -s\$" "$prefix/lib/systemd/system/sweeprun.service"
expect_grep "user service" "^ExecStart=$tool\$" "$prefix/lib/systemd/user/sweeprun.service"
for list in "$prefix"/share/doc/sweeprun/launchd/*.plist; do
  expect_grep "$(basename "$list")" "<string>$tool</string>" "$list"
done
expect_grep "example DataFile" "<string>$prefix/var/lib/sweeprun/folders.data</string>" "$example"

# The installed tool answers.
version=$("$tool" -v)
[[ $version == "Version "* ]] || fail "sweeprun -v printed '$version'"

# Check mode on the installed example. The driver differs from the tool only
# in reading its configuration path from the environment; start-up demands
# a root-owned, read-only tool and a root-owned 0600 configuration.
check_example() {
  mkdir -p "$stage/tool" "$stage/etc" "$stage/Users" "$stage/home"
  cp "$driver" "$stage/tool/sweeprun"
  chmod 555 "$stage/tool/sweeprun"
  install -m 600 "$example" "$stage/etc/sweeprun.plist"
  env -i PATH=/usr/bin:/bin HOME="$stage/home" USER=root \
    SWEEPRUN_TEST_CONFIG="$stage/etc/sweeprun.plist" SWEEPRUN_TEST_USERS="$stage/Users" \
    ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} "$@" "$stage/tool/sweeprun" -t
}
if is_root; then
  output=$(check_example 2>&1)
  status=$?
elif command -v fakeroot >/dev/null; then
  # fakeroot reports our own files as root's; the sanitizer runtime must
  # then tolerate a preloaded library.
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
  output=$(check_example fakeroot 2>&1)
  status=$?
else
  echo "note: not root and no fakeroot: the example is not run through check mode"
  finish
  exit 0
fi
# The example's folders are not on this machine: check mode says so of each.
expect_same "check mode on the example" "$stage/etc/sweeprun.plist: OK" \
  "$(grep -v "^Warning: Path '.*' matches no folder now" <<<"$output")"
[ "$status" -eq 0 ] || fail "check mode on the example ended with status $status"

finish
