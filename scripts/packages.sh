# shellcheck shell=bash
# The packages ./tessel installs (Debian's, and the build's JavaScript tools through npm), and
# how it goes on when a registry refuses some of them.

# Every package the project needs, by Debian name, in two sets: what the native program needs to
# be built and run (all that ./tessel run installs), and what building and testing every tree adds.
NATIVE_PACKAGES=(
  cmake ninja-build pkg-config g++ libgtest-dev libgmock-dev
  libcurl4-openssl-dev libmujs-dev
  # Finding a catalogue on the LAN natively, and two hosts with an avahi-daemon each in its tests.
  libavahi-client-dev avahi-daemon avahi-utils dbus iproute2
  libcpp-httplib-dev libsqlite3-dev libtag1-dev lame
  # Qt 6 and media through GStreamer (the Wine route installs the plug-ins' i386 builds too).
  qt6-base-dev qt6-multimedia-dev qt6-translations-l10n fonts-wqy-microhei
  gstreamer1.0-plugins-base:amd64 gstreamer1.0-plugins-good:amd64
  # A virtual desktop session for a run without a display, driven through accessibility.
  xvfb xauth imagemagick dbus-daemon at-spi2-core python3-pyatspi xdotool xclip
)
# The Windows tree, the sanitizer tree and the release checks.
BUILD_PACKAGES=(
  clang libclang-rt-14-dev g++-mingw-w64-i686-posix mingw-w64-i686-dev googletest
  x11-apps lintian
  # The layout of the C++ files, checked against .clang-format with the version Debian 12 ships.
  clang-format
  # The catalogue's user unit checked (systemd-analyze), its music folder against xdg-user-dir.
  systemd xdg-user-dirs
  # Hosts on a LAN made of network namespaces, each with its own system bus and avahi-daemon.
  libnss-mdns
)
# What runs the Windows program: only where this machine runs 32-bit x86 code.
WINE_PACKAGES=(
  wine wine32:i386 fonts-wine
  gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386
)
# What makes and enters the Windows tests' guest where Wine cannot run here
# (scripts/guest_root.sh): chroot needs only debootstrap, emulation qemu and an ext4 image.
GUEST_CHROOT_PACKAGES=(debootstrap)
GUEST_EMULATION_PACKAGES=(debootstrap qemu-system-x86 e2fsprogs)

# The tools that install, by default the machine's own. The front door's test names stand-ins
# here, to try a misbehaving registry on a machine whose registry is fine.
APT_GET="${TESSEL_APT_GET:-apt-get}"
DPKG="${TESSEL_DPKG:-dpkg}"
DPKG_QUERY="${TESSEL_DPKG_QUERY:-dpkg-query}"
NPM="${TESSEL_NPM:-npm}"
# A registry has bad moments (a mirror mid-sync, a dropped connection): a failed apt-get update or
# npm ci is tried this many times in all, this many seconds apart.
APT_TRIES="${TESSEL_APT_TRIES:-3}"
NPM_TRIES="${TESSEL_NPM_TRIES:-3}"
RETRY_PAUSE="${TESSEL_RETRY_PAUSE:-10}"
# Another apt at work (unattended-upgrades on a fresh machine, say) is waited for, not fought.
APT_OPTIONS=(-o DPkg::Lock::Timeout=600)

# missing_packages native | all | wine: the packages of that set still to install.
missing_packages() {
  local p status wanted
  case "$1" in
    native) wanted=("${NATIVE_PACKAGES[@]}") ;;
    all) wanted=("${NATIVE_PACKAGES[@]}" "${BUILD_PACKAGES[@]}") ;;
    wine) wanted=("${WINE_PACKAGES[@]}") ;;
    guest-chroot) wanted=("${GUEST_CHROOT_PACKAGES[@]}") ;;
    guest-emulation) wanted=("${GUEST_EMULATION_PACKAGES[@]}") ;;
  esac
  # The machine's own Node.js and npm are used when present; Debian's otherwise.
  if [[ "$1" != wine && "$1" != guest-* ]] && ! command -v "$NPM" >/dev/null 2>&1; then printf '%s\n' nodejs npm; fi
  # One query for them all (it answers "NAME:ARCH STATUS" for each package dpkg knows of); a name
  # without an architecture means this machine's own, or "all".
  local arch installed=" " name
  arch=$("$DPKG" --print-architecture)
  while read -r name status; do
    [ "$status" != installed ] || installed+="$name "
  done < <("$DPKG_QUERY" -W -f='${Package}:${Architecture} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null || true)
  for p in "${wanted[@]}"; do
    case "$p" in
      *:*) [[ "$installed" == *" $p "* ]] ;;
      *) [[ "$installed" == *" $p:$arch "* || "$installed" == *" $p:all "* ]] ;;
    esac || printf '%s\n' "$p"
  done
}

# apt_update: the package lists, fetched at most once a run. With one index failing (a mirror
# mid-sync) every other list is still fresh: after the last try the lists at hand are used, and
# what needs the missing one fails to install with apt's own reason.
APT_UPDATED=0
STALE_LISTS=""
apt_update() {
  [ "$APT_UPDATED" = 0 ] || return 0
  APT_UPDATED=1
  if ! retrying "apt-get update" "$APT_TRIES" "$APT_GET" "${APT_OPTIONS[@]}" update -qq; then
    rm -f "$FAILURE_LOG"
    STALE_LISTS=" (apt-get update had failed: some package lists may be missing or out of date)"
    log "apt-get update failed ${APT_TRIES} times ($FAILURE_REASON): going on with the package lists at hand"
  fi
}

# apt_install PACKAGE...: installs them, showing apt's progress. On failure FAILURE_REASON says
# why in one line, FAILURE_LOG holds apt's output (the caller removes it), and the status is 1.
apt_install() {
  FAILURE_LOG=$(mktemp)
  # apt reports its progress on the status descriptor (3 here): "dlstatus:N:PERCENT:TEXT" while
  # downloading, "pmstatus:PACKAGE:PERCENT:TEXT" while unpacking and setting up.
  if DEBIAN_FRONTEND=noninteractive "$APT_GET" "${APT_OPTIONS[@]}" install -y -qq \
    --no-install-recommends -o APT::Status-Fd=3 "$@" 3>&1 >"$FAILURE_LOG" 2>&1 </dev/null |
    show_apt_progress; then
    rm -f "$FAILURE_LOG"
    return 0
  fi
  FAILURE_REASON=$(failure_reason "$FAILURE_LOG")
  return 1
}

# Why Wine's packages are missing, once this run has tried to install them and failed; a later
# run tries again (the registry may have recovered).
WINE_REASON=""

# ensure_packages [native]: installs what is missing, in two steps. The native and build packages
# come first, and without them nothing goes on; Wine's come second, and when they cannot be
# installed the run goes on as on a machine that cannot run 32-bit programs.
ensure_packages() {
  local missing=() wine=()
  if [ "${1:-}" = native ]; then
    mapfile -t missing < <(missing_packages native)
  else
    mapfile -t missing < <(missing_packages all)
    if [ -z "$WINE_REASON" ] && runs_32bit; then mapfile -t wine < <(missing_packages wine); fi
  fi
  [ ${#missing[@]} -gt 0 ] || [ ${#wine[@]} -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    [ ${#missing[@]} = 0 ] || die "missing packages (run as root to install): ${missing[*]}"
    WINE_REASON="Wine's packages are missing (run as root to install): ${wine[*]}"
    log "$WINE_REASON"
    return 0
  fi
  if [ ${#wine[@]} -gt 0 ] && ! "$DPKG" --print-foreign-architectures | grep -qx i386; then
    "$DPKG" --add-architecture i386
  fi
  apt_update
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing: ${missing[*]}"
    if ! apt_install "${missing[@]}"; then
      tail -n 40 "$FAILURE_LOG" >&2
      rm -f "$FAILURE_LOG"
      die "installing packages failed: $FAILURE_REASON$STALE_LISTS"
    fi
  fi
  if [ ${#wine[@]} -gt 0 ]; then
    log "installing Wine's packages: ${wine[*]}"
    if ! apt_install "${wine[@]}"; then
      rm -f "$FAILURE_LOG"
      WINE_REASON="Wine's packages could not be installed ($FAILURE_REASON)"
      log "$WINE_REASON: going on without what needs Wine"
    fi
  fi
}

# wine_unavailable: says why Tessel.exe cannot run here, if it cannot (status 1 when it can).
wine_unavailable() {
  if ! runs_32bit; then
    no_32bit_reason
  elif [ -n "$WINE_REASON" ]; then
    printf '%s' "$WINE_REASON"
  else
    return 1
  fi
}

# One line per 5 % of each phase, so a slow download or a long unpack is seen to move.
show_apt_progress() {
  local kind percent text shown="" step
  # The second field (the file or the package) is not shown.
  while IFS=: read -r kind _ percent text; do
    [[ "$percent" =~ ^[0-9] ]] || continue
    case "$kind" in
      dlstatus) step="downloading $((${percent%%.*} / 5 * 5))%" ;;
      pmstatus) step="installing $((${percent%%.*} / 5 * 5))%" ;;
      *) continue ;;
    esac
    if [ "$step" != "$shown" ]; then
      log "$step  $text"
      shown="$step"
    fi
  done
}

ensure_npm() {
  [ -f "$ROOT/package-lock.json" ] || return 0
  local stamp="$ROOT/node_modules/.package-lock.json"
  if [ ! -f "$stamp" ] || [ "$ROOT/package-lock.json" -nt "$stamp" ]; then
    log "npm ci: the JavaScript tools of the build"
    if ! retrying "npm ci" "$NPM_TRIES" in_root "$NPM" ci --no-audit --no-fund --loglevel=error; then
      tail -n 40 "$FAILURE_LOG" >&2
      rm -f "$FAILURE_LOG"
      die "npm ci failed ${NPM_TRIES} times: $FAILURE_REASON"
    fi
  fi
}

in_root() { (cd "$ROOT" && "$@"); }

# ensure_deps [native]
ensure_deps() {
  ensure_packages "${1:-}"
  ensure_npm
}
