# shellcheck shell=bash
# The guest's root, where the host cannot run Wine: a Debian 12 debootstrap root with Wine and what
# the Windows tests need at run time. Its apt sources are the release and its updates only, so that
# every i386 package has an amd64 twin of the same version (the security suite's i386 index is the
# one a mirror serves half-synced). It is made once, and again when what it is made of changes.

# Where the root lives: outside the build trees, so a clean build keeps it.
GUEST_DIR="${TESSEL_GUEST_DIR:-/var/cache/tessel/guest}"
GUEST_ROOT="$GUEST_DIR/root"
GUEST_SUITE=bookworm
DEBOOTSTRAP="${TESSEL_DEBOOTSTRAP:-debootstrap}"
# The room a root needs (about 2.7 GB), and under emulation its disk image and the project's too.
GUEST_ROOM_MB=5000
GUEST_EMULATION_ROOM_MB=12000

# What the Windows tests start: Wine and the media player's GStreamer plug-ins (i386), a virtual
# display, the CJK font, ctest, Node.js for the tests' .mjs helpers, screenshots, loopback set up
# by the emulated guest's own init, and lame, with which the catalogue makes its demo songs. The
# native programs the tests start (the catalogue, the image tool) add their runtime libraries,
# read off the host's builds (guest_program_packages). The kernel lets the same root boot under
# emulation.
GUEST_PACKAGES=(
  wine wine32:i386 fonts-wine fonts-wqy-microhei
  gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386
  xvfb cmake nodejs imagemagick x11-apps iproute2 lame
  # The LAN tests' two hosts, each with its own system bus and avahi-daemon.
  dbus avahi-daemon avahi-utils
  linux-image-amd64
)

# guest_package_version PACKAGE: its version in the root.
guest_package_version() {
  dpkg-query --admindir="$GUEST_ROOT/var/lib/dpkg" -W -f='${Version}' "$1" 2>/dev/null
}

# guest_mirror: the Debian mirror the host's own apt sources name for the release.
guest_mirror() {
  local sources=/etc/apt/sources.list.d/debian.sources uri=""
  if [ -f "$sources" ]; then
    # The first stanza whose suites hold the release itself.
    uri=$(awk -v suite="$GUEST_SUITE" '
      /^[[:space:]]*$/ { if (found && uri != "") { print uri; exit } uri = ""; found = 0; next }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == suite) found = 1 }
      END { if (found && uri != "") print uri }' "$sources" | head -n 1)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk -v suite="$GUEST_SUITE" '$1 == "deb" && $3 == suite { print $2; exit }' /etc/apt/sources.list)
  fi
  printf '%s' "$uri"
}

# guest_program_packages: the packages that hold the runtime libraries of the native programs the
# Windows tests start, as the host's dpkg knows them.
guest_program_packages() {
  local program lib path owner
  for program in "$BUILD/native/catalogue/tessel-catalogue" "$BUILD/native/image/tool/tessel-image"; do
    [ -x "$program" ] || continue
    for lib in $(ldd "$program" 2>/dev/null | awk '$3 ~ /^\// { print $3 }'); do
      path=$(readlink -f "$lib")
      # With /usr merged, dpkg knows a library under one of its two names.
      owner=$(dpkg-query -S "$path" 2>/dev/null || dpkg-query -S "${path#/usr}" 2>/dev/null || true)
      owner="${owner%%: *}"
      [ -z "$owner" ] || printf '%s\n' "${owner%%,*}"
    done
  done | sort -u
}

# guest_stamp: what the root is made of; a root whose stamp differs is made again.
guest_stamp() {
  printf 'suite %s\nmirror %s\n' "$GUEST_SUITE" "$(guest_mirror)"
  printf '%s\n' "${GUEST_PACKAGES[@]}" | sort -u
  guest_program_packages
}

# guest_room_mb: free megabytes where the guest lives.
guest_room_mb() {
  local dir="$GUEST_DIR"
  while [ ! -d "$dir" ]; do dir=$(dirname "$dir"); done
  df -Pm "$dir" | awk 'NR == 2 { print $4 }'
}

# guest_unmount DIR: nothing stays mounted below DIR. Every mount is made in a namespace of its
# own and goes with it, but removing DIR must never reach a project tree bound into it.
guest_unmount() {
  local mounts
  mounts=$(awk -v dir="$1/" 'index($2 "/", dir) == 1 { print $2 }' /proc/mounts | sort -r)
  [ -z "$mounts" ] || printf '%s\n' "$mounts" | xargs -r -n 1 umount -l 2>/dev/null || true
}

# in_new_root DIR CMD...: CMD in the root at DIR, with the network (to install), in mount and process
# namespaces of its own: the mounts and every process go when it ends.
in_new_root() {
  local dir="$1"
  shift
  unshare --mount --propagation private --pid --fork --kill-child \
    bash -c 'set -e; r=$1; shift
      mount -t proc proc "$r/proc"; mount --rbind /sys "$r/sys"
      mount --bind /dev "$r/dev"; mount --bind /dev/pts "$r/dev/pts"
      exec chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"' guest "$dir" "$@"
}

# ensure_guest ROUTE: the root (and under emulation its disk image) made or reused; on failure
# GUEST_REASON says why and the status is 1.
ensure_guest() {
  local route="$1"
  if [ "$(id -u)" != 0 ]; then GUEST_REASON="it is made only as root"; return 1; fi
  local tools=()
  mapfile -t tools < <(missing_packages "guest-$route")
  if [ ${#tools[@]} -gt 0 ]; then
    apt_update
    log "installing the guest's tools: ${tools[*]}"
    if ! apt_install "${tools[@]}"; then
      rm -f "$FAILURE_LOG"
      GUEST_REASON="its tools could not be installed ($FAILURE_REASON)"
      return 1
    fi
  fi
  local stamp
  stamp=$(guest_stamp)
  if [ ! -f "$GUEST_DIR/root.stamp" ] || [ "$(cat "$GUEST_DIR/root.stamp")" != "$stamp" ]; then
    make_guest_root "$stamp" "$route" || return 1
  fi
  [ "$route" != emulation ] || ensure_guest_disk
}

# make_guest_root STAMP ROUTE: debootstrap, then Wine and the rest from the release and its
# updates, with room for what ROUTE adds.
make_guest_root() {
  local stamp="$1" route="$2" mirror room need="$GUEST_ROOM_MB"
  [ "$route" != emulation ] || need="$GUEST_EMULATION_ROOM_MB"
  mirror=$(guest_mirror)
  if [ -z "$mirror" ]; then
    GUEST_REASON="the host's apt sources name no mirror for $GUEST_SUITE"
    return 1
  fi
  mkdir -p "$GUEST_DIR"
  chmod 700 "$GUEST_DIR"
  room=$(guest_room_mb)
  if [ "${room:-0}" -lt "$need" ]; then
    GUEST_REASON="no room on disk: ${room} MB free in $GUEST_DIR, the guest needs about ${need} MB"
    return 1
  fi
  log "making the guest in $GUEST_ROOT (Debian 12 with Wine from $mirror: about 4 minutes, once)"
  local new="$GUEST_ROOT.new"
  guest_unmount "$GUEST_DIR"
  rm -rf --one-file-system "$new" "$GUEST_DIR/root.stamp" "$GUEST_DIR/disk.img"
  if ! retrying "debootstrap" "$APT_TRIES" "$DEBOOTSTRAP" --variant=minbase "$GUEST_SUITE" "$new" "$mirror"; then
    rm -f "$FAILURE_LOG"
    GUEST_REASON="debootstrap failed $APT_TRIES times ($FAILURE_REASON)"
    return 1
  fi
  # The release and its updates only; no service starts while packages are installed.
  printf 'deb %s %s main\ndeb %s %s-updates main\n' "$mirror" "$GUEST_SUITE" "$mirror" "$GUEST_SUITE" \
    >"$new/etc/apt/sources.list"
  rm -f "$new/etc/apt/sources.list.d/"*
  printf '#!/bin/sh\nexit 101\n' >"$new/usr/sbin/policy-rc.d"
  chmod +x "$new/usr/sbin/policy-rc.d"
  cp -L /etc/resolv.conf "$new/etc/resolv.conf" 2>/dev/null || true
  in_new_root "$new" dpkg --add-architecture i386
  local packages=()
  mapfile -t packages < <(printf '%s\n' "$stamp" | sed -n '3,$p')
  if ! retrying "apt-get update in the guest" "$APT_TRIES" in_new_root "$new" apt-get -qq update; then
    rm -f "$FAILURE_LOG"
    GUEST_REASON="apt-get update in the guest failed $APT_TRIES times ($FAILURE_REASON)"
    return 1
  fi
  log "installing in the guest: ${packages[*]}"
  if ! APT_GET=in_guest_apt_get apt_install "${packages[@]}"; then
    rm -f "$FAILURE_LOG"
    GUEST_REASON="its packages could not be installed ($FAILURE_REASON)"
    return 1
  fi
  in_new_root "$new" apt-get clean
  mv "$new" "$GUEST_ROOT.ready"
  rm -rf --one-file-system "$GUEST_ROOT"
  mv "$GUEST_ROOT.ready" "$GUEST_ROOT"
  printf '%s\n' "$stamp" >"$GUEST_DIR/root.stamp"
  log "the guest is ready: $(du -sm "$GUEST_ROOT" | cut -f1) MB in $GUEST_ROOT"
}

# in_guest_apt_get ARGS...: apt-get in the root being made (apt_install's installer there).
in_guest_apt_get() { in_new_root "$GUEST_ROOT.new" apt-get "$@"; }
