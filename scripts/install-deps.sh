#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. As root it runs apt-get; as another user it prints the
# command to run and stops.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libplist-dev libplist-utils  # XML property lists
  libicu-dev                   # locale date styles
  libsystemd-dev               # journal records with fields (sd_journal_sendv)
  nlohmann-json3-dev           # the run journal (JSON Lines)
  libgtest-dev libgmock-dev libbenchmark-dev
  python3                      # tests read our archives with plistlib
  trash-cli                    # tests check trashed entries as desktop tools see them
  e2fsprogs                    # chattr/lsattr for the locked flag
  tzdata                       # tests compare calendar days across time zones
  man-db groff-base            # tests render the manual pages
  dpkg-dev file fakeroot       # the Debian package (cpack), checked as non-root too
  lintian                      # the package passes Debian's checks
  clang libclang-rt-14-dev     # the libFuzzer targets (scripts/fuzz.sh)
  llvm-14                      # symbolized fuzzer reports
  util-linux                   # setpriv and unshare: tests act as other users, in namespaces
  bc                           # bench/trash_places.sh
  systemd                      # tests verify the timer units (systemd-analyze)
  logrotate                    # tests dry-run the packaged logrotate file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
