#!/usr/bin/env bash
# The installed schedule: systemd-analyze verifies the system and the user
# units (the tool they start and the manual pages they cite must exist), and
# the launchd property lists are well-formed and start the installed tool.
#
# Usage: units_test.sh PREFIX WORK_DIR
set -uo pipefail
source "$(dirname "$0")/install_test_lib.sh"

prefix=$1 work=$2
tool=$prefix/bin/sweeprun
rm -rf "$work"
mkdir -p "$work/runtime" "$work/home"
chmod 700 "$work/runtime"

command -v python3 >/dev/null || skip "python3 is not installed"
for list in "$prefix"/share/doc/sweeprun/launchd/*.plist; do
  name=$(basename "$list")
  case $name in
    org.sweeply.sweeprun.plist) arguments="['$tool', '-s']" ;;
    org.sweeply.sweeprun.agent.plist) arguments="['$tool']" ;;
    *) fail "unexpected launchd list $name"; continue ;;
  esac
  python3 - "$list" "$arguments" <<'PY' || fail "$name"
import ast, plistlib, sys
with open(sys.argv[1], "rb") as f:
    job = plistlib.load(f)
assert job["Label"] + ".plist" == sys.argv[1].rsplit("/", 1)[1], job["Label"]
assert job["ProgramArguments"] == ast.literal_eval(sys.argv[2]), job["ProgramArguments"]
assert job["StartInterval"] == 3600, job["StartInterval"]
PY
done

command -v systemd-analyze >/dev/null || { finish; skip "systemd-analyze is not installed"; }
# Documentation= lines are checked with man(1): let it find our pages.
verify() {
  env MANPATH="$prefix/share/man" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
    SYSTEMD_LOG_COLOR=0 systemd-analyze verify "$@" 2>&1
}
for scope in system user; do
  flag=
  [ "$scope" = user ] && flag=--user
  units=$prefix/lib/systemd/$scope
  output=$(verify $flag "$units/sweeprun.service" "$units/sweeprun.timer")
  status=$?
  [ "$status" -eq 0 ] || fail "systemd-analyze verify $flag ended with status $status"
  expect_same "systemd-analyze verify $flag output" "" "$output"
done

# A unit with a fault must not pass, or the checks above prove nothing.
sed 's/^Type=oneshot$/Type=one-shot/' "$prefix/lib/systemd/system/sweeprun.service" \
  >"$work/sweeprun.service"
output=$(verify "$work/sweeprun.service")
[[ $output == *"Failed to parse service type"* ]] ||
  fail "a misspelt Type= went unnoticed: $output"

finish
