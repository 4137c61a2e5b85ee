#!/usr/bin/env bash
# The Debian package that cpack builds: its contents and modes, its control
# data, and, where the machine allows it (root, chroot), an install into a
# throw-away root, check mode there on the example configuration, and a
# removal that leaves nothing behind but the administrator's configuration.
#
# Usage: deb_package_test.sh BUILD_DIR WORK_DIR HAS_SWEEPLY SANITIZED
set -uo pipefail
source "$(dirname "$0")/install_test_lib.sh"

build=$1 work=$2 has_sweeply=$3 sanitized=$4
command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"
rm -rf "$work"
mkdir -p "$work"

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack failed"
  finish
fi
packages=("$work"/out/sweeprun_*.deb)
[ "${#packages[@]}" -eq 1 ] && [ -f "${packages[0]}" ] || { fail "no single package: ${packages[*]}"; finish; }
package=${packages[0]}

# Contents: "mode owner path" for every file and for the state folder.
contents=$(dpkg-deb --contents "$package" |
  awk '$1 !~ /^d/ || $6 == "./var/lib/sweeprun/" { print $1, $2, $6 }' | sort -k3)
expected="-r-xr-xr-x root/root ./usr/bin/sweeprun"
[ "$has_sweeply" = 1 ] && expected+=$'\n'"-rwxr-xr-x root/root ./usr/bin/sweeply"
expected+="
-rw-r--r-- root/root ./etc/logrotate.d/sweeprun
-rw-r--r-- root/root ./usr/lib/systemd/system/sweeprun.service
-rw-r--r-- root/root ./usr/lib/systemd/system/sweeprun.timer
-rw-r--r-- root/root ./usr/lib/systemd/user/sweeprun.service
-rw-r--r-- root/root ./usr/lib/systemd/user/sweeprun.timer
-rw-r--r-- root/root ./usr/share/doc/sweeprun/README.md
-rw-r--r-- root/root ./usr/share/doc/sweeprun/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/sweeprun/copyright
-rw-r--r-- root/root ./usr/share/doc/sweeprun/examples/sweeprun.plist
-rw-r--r-- root/root ./usr/share/doc/sweeprun/launchd/org.sweeply.sweeprun.agent.plist
-rw-r--r-- root/root ./usr/share/doc/sweeprun/launchd/org.sweeply.sweeprun.plist
-rw-r--r-- root/root ./usr/share/man/man1/sweeply.1.gz
-rw-r--r-- root/root ./usr/share/man/man5/sweeprun.plist.5.gz
-rw-r--r-- root/root ./usr/share/lintian/overrides/sweeprun
-rw-r--r-- root/root ./usr/share/man/man8/sweeprun.8.gz
drwx------ root/root ./var/lib/sweeprun/"
expect_same "package contents" "$(sort -k3 <<<"$expected")" "$contents"

# Control data: who it is, what it needs, and the logrotate file as the one
# conffile: none could ever replace /etc/sweeprun.plist.
[ "$(dpkg-deb --field "$package" Package)" = sweeprun ] || fail "package name"
depends=$(dpkg-deb --field "$package" Depends)
for library in libplist libicu libsystemd libstdc++; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
expect_same "conffiles" "/etc/logrotate.d/sweeprun" "$(dpkg-deb --info "$package" conffiles)"
example=$(dpkg-deb --fsys-tarfile "$package" | tar -xO ./usr/share/doc/sweeprun/examples/sweeprun.plist)
grep -q "<string>/var/lib/sweeprun/folders.data</string>" <<<"$example" ||
  fail "the packaged example does not keep its database in /var/lib/sweeprun"

# Debian's own checks: no error, no warning that the overrides do not
# explain, and no missing hardening (which lintian reports as information
# only: the tool runs as root over names that other users choose). A
# sanitized build is not what ships.
if [ "$sanitized" != 1 ] && command -v lintian >/dev/null; then
  report=$(lintian -I --allow-root "$package" 2>&1)
  status=$?
  # 1 only tells of findings; anything higher means it checked nothing.
  [ "$status" -le 1 ] || fail "lintian could not check the package (status $status): $report"
  findings=$(grep -E '^[EW]: |^I: .*hardening-' <<<"$report")
  [ -z "$findings" ] || fail "lintian: $findings"
fi

# The throw-away root.
is_root || { finish; skip "installing into a throw-away root needs root"; }
[ -x /usr/sbin/chroot ] || { finish; skip "chroot is not installed"; }
root=$work/root
mkdir -p "$root"/var/lib/dpkg/{info,updates,triggers} "$root/etc"
touch "$root"/var/lib/dpkg/{status,available}
# The root holds no other package, so the libraries it depends on are
# missing as far as its dpkg knows; they are copied in below.
if ! dpkg --root="$root" --force-depends -i "$package" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  fail "dpkg -i failed"
  finish
fi
expect_same "installed state" "install ok installed" \
  "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' sweeprun)"
[ "$(stat -c '%a %U' "$root/usr/bin/sweeprun")" = "555 root" ] || fail "installed sweeprun mode"
[ "$(stat -c '%a %U' "$root/var/lib/sweeprun")" = "700 root" ] || fail "installed state folder mode"

# Check mode as the administrator runs it after the README's steps. A
# sanitized build needs /proc, which this root lacks.
if [ "$sanitized" = 1 ]; then
  echo "note: sanitized build: check mode is not run inside the throw-away root"
else
  for library in $(ldd "$root/usr/bin/sweeprun" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
  install -m 600 "$root/usr/share/doc/sweeprun/examples/sweeprun.plist" "$root/etc/sweeprun.plist"
  output=$(env -i USER=root /usr/sbin/chroot "$root" /usr/bin/sweeprun -t 2>&1)
  status=$?
  # The example's folders are not in the throw-away root: check mode says so.
  expect_same "sweeprun -t in the throw-away root" "/etc/sweeprun.plist: OK" \
    "$(grep -v "^Warning: Path '.*' matches no folder now" <<<"$output")"
  [ "$status" -eq 0 ] || fail "sweeprun -t ended with status $status"
fi

# Purge: every path of the package goes, the configuration stays.
dpkg-deb --fsys-tarfile "$package" | tar -t | sed 's|^\.||; s|/$||' | grep . >"$work/paths"
if ! dpkg --root="$root" --purge sweeprun >"$work/remove.log" 2>&1; then
  cat "$work/remove.log" >&2
  fail "dpkg --purge failed"
fi
while read -r path; do
  case $path in /etc | /usr | /usr/bin | /usr/lib | /usr/share | /var | /var/lib) continue ;; esac
  [ -e "$root$path" ] && [[ $path != /usr/lib/x86_64-linux-gnu* ]] && fail "left behind: $path"
done <"$work/paths"
[ -f "$root/etc/sweeprun.plist" ] || [ "$sanitized" = 1 ] || fail "the purge removed /etc/sweeprun.plist"

finish
