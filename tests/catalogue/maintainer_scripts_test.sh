#!/bin/bash
# The package's maintainer scripts enable the catalogue's user unit for every user, keep an
# administrator's disabling across an upgrade, mask it on removal and leave nothing on purge.
# They run for real, as dpkg runs them, in a mount namespace of the test's own where the folders
# they change are empty scratch folders: the machine's own are never touched. Needs root.
#   maintainer_scripts_test.sh PACKAGE_DIR
set -u
PACKAGE=$1
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root (a mount namespace)"; exit 77; }
command -v deb-systemd-helper >/dev/null || { echo "SKIP: no deb-systemd-helper (init-system-helpers)"; exit 77; }
unshare --mount --propagation private true 2>/dev/null || { echo "SKIP: no mount namespace here"; exit 77; }

if [ "${1:-}" != --inside ]; then
  exec unshare --mount --propagation private bash "$0" --inside "$PACKAGE"
fi
PACKAGE=$2
for folder in /etc/systemd/user /var/lib/systemd /usr/lib/systemd/user; do
  [ -d "$folder" ] || { echo "SKIP: no $folder here"; exit 77; }
  mount -t tmpfs tessel-test "$folder" || { echo "SKIP: cannot mount a scratch $folder"; exit 77; }
done
[ -d /run/systemd/system ] && mount -t tmpfs tessel-test /run/systemd  # no user manager to start

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
unit=tessel-catalogue.service
wants=/etc/systemd/user/default.target.wants/$unit
script() {  # NAME ARGS...: as dpkg runs a maintainer script
  DPKG_MAINTSCRIPT_PACKAGE=tessel DPKG_MAINTSCRIPT_NAME=$1 sh -e "$PACKAGE/$1" "${@:2}" ||
    fail "$1 $* ended with status $?"
}

cp "$PACKAGE/$unit" /usr/lib/systemd/user/
script postinst configure
[ "$(readlink "$wants")" = /usr/lib/systemd/user/$unit ] || fail "a first install does not enable the unit for every user"

# Disabled for everybody by an administrator: an upgrade keeps it so.
rm "$wants"
script postinst configure 1.0.0
[ -e "$wants" ] && fail "an upgrade enabled again the unit an administrator had disabled"
ln -s /usr/lib/systemd/user/$unit "$wants"

script prerm remove
rm /usr/lib/systemd/user/$unit
script postrm remove
[ "$(readlink /etc/systemd/user/$unit)" = /dev/null ] || fail "a removal does not mask the unit"
# Installed again: unmasked, and enabled as it was.
cp "$PACKAGE/$unit" /usr/lib/systemd/user/
script postinst configure 1.0.0
[ -e /etc/systemd/user/$unit ] && fail "an install after a removal leaves the unit masked"
[ -e "$wants" ] || fail "an install after a removal does not enable the unit"

script prerm remove
rm /usr/lib/systemd/user/$unit
script postrm remove
script postrm purge
left=$(find /etc/systemd/user /var/lib/systemd -name "*tessel*")
[ -z "$left" ] || fail "a purge leaves $left"

[ "$failures" = 0 ] || exit 1
echo "PASS: the user unit enabled for every user, kept disabled, masked on removal, gone on purge"
