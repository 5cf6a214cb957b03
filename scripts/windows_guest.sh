# The Windows stage where the host cannot run Wine: a Debian 12 guest of the project's own.
# Sourced by ./tessel, whose helpers (log, quietly, retrying, apt_install, runs_32bit, stage
# bookkeeping) it uses. The guest is a debootstrap root with Wine and what the Windows tests need at
# run time; its apt sources are the release and its updates only, so that every i386 package has
# an amd64 twin of the same version (the security suite's i386 index is the one a mirror serves
# half-synced). On a kernel that runs 32-bit code the root is entered with chroot; on one that does
# not, it boots under qemu's software emulation, which runs 32-bit code on any x86-64 host.
# Either way the guest sees the project tree and its build outputs only, has loopback only, and
# every process in it ends with it.

# Where the root lives: outside the build trees, so a clean build keeps it.
GUEST_DIR="${TESSEL_GUEST_DIR:-/var/cache/tessel/guest}"
GUEST_ROOT="$GUEST_DIR/root"
GUEST_SUITE=bookworm
DEBOOTSTRAP="${TESSEL_DEBOOTSTRAP:-debootstrap}"
QEMU="${TESSEL_QEMU:-qemu-system-x86_64}"
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

# How many times longer the tests' waits are under emulation (TESSEL_WAIT_SCALE there).
GUEST_WAIT_SCALE=10
# Why the guest could not be made or started, in one line.
GUEST_REASON=""

# windows_stage: the Windows tests on the host's Wine where it runs, else in the guest, as
# TESSEL_WINDOWS_TESTS (host, guest or skip) may force; the summary says where they ran or why not.
windows_stage() {
  if [ -n "$GUEST_JOB" ]; then
    guest_stage_collect
    return 0
  fi
  local mode="${TESSEL_WINDOWS_TESTS:-}" reason=""
  case "$mode" in
    "" | host | guest) ;;
    skip) skip_windows_tests "TESSEL_WINDOWS_TESTS=skip asked for a run without them"; return 0 ;;
    *) die "TESSEL_WINDOWS_TESTS is host, guest or skip, not '$mode'" ;;
  esac
  local on_host=0
  if [ "$mode" != guest ]; then
    if reason=$(wine_unavailable); then
      :
    elif ! command -v wine >/dev/null 2>&1; then
      reason="Wine is not installed on this host"
    else
      on_host=1
    fi
  fi
  if [ "$on_host" = 1 ]; then
    start_display
    setup_audio
    setup_wine_env
    start_wine_services
    stage "Windows tests under $(wine_name "$(wine --version)") on the host" windows_tests
    return 0
  fi
  if [ "$mode" = host ]; then
    skip_windows_tests "$reason"
    return 0
  fi
  guest_windows_stage "$reason"
}

# Under emulation the stage takes some twenty minutes, most of it one emulated processor busy:
# `./tessel test` starts it (windows_stage_begin) as soon as the trees it needs are built, so it
# runs beside the sanitizer build and the native stages, at a lower priority than they, and
# windows_stage collects it at the end. GUEST_JOB is its background job (a process group of its
# own, ended with the run), GUEST_LOG its output.
GUEST_JOB=""
GUEST_LOG=""

# windows_stage_begin: starts the Windows stage in the background where it will run in the guest
# under emulation; elsewhere it leaves it to windows_stage.
windows_stage_begin() {
  local reason=""
  runs_32bit && return 0
  case "${TESSEL_WINDOWS_TESTS:-}" in
    "") reason=$(wine_unavailable) || return 0 ;;
    guest) ;;
    *) return 0 ;;
  esac
  local marks="$BUILD/win32/guest"
  mkdir -p "$marks"
  GUEST_LOG="$marks/stage.log"
  rm -f "$marks/stage.result"
  log "the Windows tests start in the guest under emulation now, beside the native stages; their output follows them at the end ($GUEST_LOG as they go)"
  set -m
  (
    STAGES=()
    FAILED=0
    guest_windows_stage "$reason"
    printf '%s\n' "$FAILED" "${STAGES[@]}" >"$marks/stage.result"
  ) >"$GUEST_LOG" 2>&1 </dev/null &
  GUEST_JOB=$!
  set +m
}

# guest_stage_collect: waits for the stage started by windows_stage_begin, shows its output and
# takes its outcome into the summary.
guest_stage_collect() {
  local result="$BUILD/win32/guest/stage.result" lines=()
  log "the Windows tests in the guest under emulation (started beside the native stages)"
  wait "$GUEST_JOB" 2>/dev/null || true
  GUEST_JOB=""
  cat "$GUEST_LOG" >&2
  [ -f "$result" ] && mapfile -t lines <"$result"
  if [ ${#lines[@]} -lt 2 ]; then
    STAGES+=("Windows tests in the guest under emulation: FAILED (the stage ended without an outcome)")
    FAILED=1
    return 0
  fi
  [ "${lines[0]}" = 0 ] || FAILED=1
  STAGES+=("${lines[@]:1}")
}

# guest_stage_end: ends a stage still running in the background (the run ends early).
guest_stage_end() {
  [ -n "$GUEST_JOB" ] || return 0
  kill -TERM -- "-$GUEST_JOB" 2>/dev/null || true
  wait "$GUEST_JOB" 2>/dev/null || true
  GUEST_JOB=""
}

# wine_name VERSION: "Wine 8.0" from "wine-8.0 (Debian 8.0~repack-4)" or "8.0~repack-4".
wine_name() {
  local v="${1#wine-}"
  v="${v%% *}"
  v="${v%%[~+-]*}"
  printf 'Wine%s' "${v:+ $v}"
}

# guest_windows_stage WHY: the stage in the guest (WHY: why not on the host, empty when forced).
guest_windows_stage() {
  local why="${1:-TESSEL_WINDOWS_TESTS=guest asked for the guest}" route=chroot status=0
  runs_32bit || route=emulation
  log "the Windows tests run in a Debian guest under $route: $why"
  if ! ensure_guest "$route"; then
    skip_windows_tests "$why, and the guest that runs them could not be made: $GUEST_REASON"
    return 0
  fi
  local name
  name="Windows tests under $(wine_name "$(guest_package_version wine)") in the guest under $route"
  log "$name"
  GUEST_STARTED=1
  "guest_run_$route" || status=$?
  if [ "$GUEST_STARTED" = 0 ]; then
    skip_windows_tests "$why, and the guest that runs them did not start ($GUEST_REASON)"
  elif [ "$status" = 0 ]; then
    STAGES+=("$name: passed")
  else
    STAGES+=("$name: FAILED")
    FAILED=1
  fi
}

# guest_package_version PACKAGE: its version in the root.
guest_package_version() {
  dpkg-query --admindir="$GUEST_ROOT/var/lib/dpkg" -W -f='${Version}' "$1" 2>/dev/null
}

# --- the root ---------------------------------------------------------------------------
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
    make_guest_root "$stamp" || return 1
  fi
  [ "$route" != emulation ] || ensure_guest_disk
}

# make_guest_root STAMP: debootstrap, then Wine and the rest from the release and its updates.
make_guest_root() {
  local stamp="$1" mirror room need="$GUEST_ROOM_MB"
  runs_32bit || need="$GUEST_EMULATION_ROOM_MB"
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

# --- chroot -----------------------------------------------------------------------------
# guest_run_chroot: the stage in the root, the project tree bound at the same path, on loopback
# only. Status 0 when the tests passed; GUEST_STARTED=0 when the guest did not get as far as them.
guest_run_chroot() {
  local marks="$BUILD/win32/guest" status=0
  mkdir -p "$marks"
  rm -f "$marks/started" "$marks/status"
  unshare --mount --propagation private --pid --fork --kill-child --net \
    bash -c 'set -e; r=$1 tree=$2; shift 2
      ip link set lo up
      # The root a mount of its own, as a booted system has it: "ip netns" (the LAN tests) marks
      # the root mount a slave, which a plain folder is not.
      mount --bind "$r" "$r"
      mount -t proc proc "$r/proc"; mount --rbind /sys "$r/sys"
      mount --bind /dev "$r/dev"; mount --bind /dev/pts "$r/dev/pts"
      mount -t tmpfs tmpfs "$r/dev/shm"; mount -t tmpfs tmpfs "$r/tmp"
      mkdir -p "$r$tree"; mount --bind "$tree" "$r$tree"
      exec chroot "$r" "$@"' guest "$GUEST_ROOT" "$ROOT" \
    /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TESSEL_JOBS="$JOBS" \
    bash "$ROOT/tessel" windows-stage-here </dev/null 2>&1 | tee "$marks/output.log" || status=$?
  guest_outcome "$marks" "$status"
}

# guest_outcome MARKS STATUS: what the stage's marks say (see guest_run_chroot).
guest_outcome() {
  local marks="$1" status="$2"
  if [ ! -f "$marks/started" ]; then
    GUEST_STARTED=0
    GUEST_REASON=$(failure_reason "$marks/output.log")
    return 1
  fi
  [ -f "$marks/status" ] || { log "the guest ended before its tests did"; return 1; }
  [ "$(cat "$marks/status")" = 0 ] && [ "$status" = 0 ]
}

# windows_stage_here: inside the guest, the Windows stage as on a host with Wine; its marks tell
# the host that it began and how it ended.
windows_stage_here() {
  local marks="$BUILD/win32/guest" status=0
  mkdir -p "$marks"
  : >"$marks/started"
  trap stop_services EXIT
  start_display
  setup_audio
  setup_wine_env
  start_wine_services
  windows_tests || status=$?
  printf '%s\n' "$status" >"$marks/status"
  return "$status"
}

# --- emulation --------------------------------------------------------------------------
# The root boots as a virtual machine from two disks: the system (the root, made into an ext4
# image once per root, which keeps the Wine prefix between runs) and the project tree with its
# build outputs (made afresh at every run, mounted at the same path). The guest's console is the
# stage's output; its marks are read back from the project disk once it has powered off.

# PID 1 of the guest: the stage, then power off.
GUEST_INIT='#!/bin/sh
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
# The initramfs hands over /proc, /sys and /dev mounted; booted without one they are not.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
ip link set lo up
for word in $(cat /proc/cmdline); do
  case "$word" in
    tessel.tree=*) tree="${word#*=}" ;;
    tessel.jobs=*) jobs="${word#*=}" ;;
    tessel.waitscale=*) waitscale="${word#*=}" ;;
  esac
done
mkdir -p "$tree"
mount /dev/vdb "$tree"
# The Wine prefix lives on the system disk, so it is made once.
mkdir -p /var/lib/tessel/wineprefix "$tree/build/win32/wineprefix"
mount --bind /var/lib/tessel/wineprefix "$tree/build/win32/wineprefix"
echo "the guest is up"
env -i PATH="$PATH" HOME=/root TESSEL_JOBS="$jobs" TESSEL_WAIT_SCALE="$waitscale" bash "$tree/tessel" windows-stage-here </dev/null
umount "$tree/build/win32/wineprefix" "$tree"
sync
echo o >/proc/sysrq-trigger
sleep 60
'

# ensure_guest_disk: the system disk, made again when the root or the init above changed.
ensure_guest_disk() {
  local disk="$GUEST_DIR/disk.img" stamp
  # Read back as it is made here: without the newlines that end it.
  stamp=$(cat "$GUEST_DIR/root.stamp" && printf '%s' "$GUEST_INIT")
  [ -f "$disk" ] && [ -f "$GUEST_DIR/disk.stamp" ] && [ "$(cat "$GUEST_DIR/disk.stamp")" = "$stamp" ] &&
    return 0
  log "making the guest's disk image $disk (about a minute, once)"
  printf '%s' "$GUEST_INIT" >"$GUEST_ROOT/sbin/tessel-guest-init"
  chmod 755 "$GUEST_ROOT/sbin/tessel-guest-init"
  rm -f "$disk" "$GUEST_DIR/disk.stamp"
  truncate -s 12G "$disk"
  if ! quietly "making the guest's disk image" mkfs.ext4 -q -F -L tessel-guest -d "$GUEST_ROOT" "$disk"; then
    rm -f "$disk"
    GUEST_REASON="its disk image could not be made (mkfs.ext4 -d failed)"
    return 1
  fi
  printf '%s' "$stamp" >"$GUEST_DIR/disk.stamp"
}

# guest_tree_disk IMAGE: the project tree and the build outputs the Windows tests use, in an ext4
# image with room for what the tests write.
guest_tree_disk() {
  local image="$1" stage="$GUEST_DIR/tree"
  rm -rf --one-file-system "$stage"
  mkdir -p "$stage"
  (cd "$ROOT" && tar -cf - --anchored --exclude=./.git --exclude=./build --exclude=./dist \
    --exclude=./node_modules --exclude=build/win32/wineprefix --exclude=build/win32/guest . \
    build/win32 build/native/catalogue/tessel-catalogue build/native/image/tool/tessel-image \
    build/native/image/generated/program.img 2>/dev/null | tar -xf - -C "$stage") || true
  rm -f "$image"
  truncate -s 8G "$image"
  mkfs.ext4 -q -F -L tessel-tree -d "$stage" "$image"
  local status=$?
  rm -rf --one-file-system "$stage"
  return "$status"
}

# guest_run_emulation: the guest boots under qemu; as guest_run_chroot.
guest_run_emulation() {
  local marks="$BUILD/win32/guest" tree="$GUEST_DIR/tree.img" status=0 kernel initrd
  mkdir -p "$marks"
  rm -f "$marks/started" "$marks/status"
  kernel=$(ls "$GUEST_ROOT"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
  initrd=$(ls "$GUEST_ROOT"/boot/initrd.img-* 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$kernel" ] || [ -z "$initrd" ]; then
    GUEST_STARTED=0
    GUEST_REASON="the root holds no kernel to boot"
    return 1
  fi
  if ! guest_tree_disk "$tree"; then
    GUEST_STARTED=0
    GUEST_REASON="the project's disk image could not be made"
    return 1
  fi
  # Software emulation runs 32-bit code on any x86-64 host; `-cpu max` made 32-bit processes fault
  # in the guest's kernel, this model does not. (A nested KVM offered here once lacked the model's
  # features and the guest never came up: emulation only.)
  # Emulated, the program runs some twenty times slower than here: the tests' waits are made
  # GUEST_WAIT_SCALE times as long. Two tests at a time, as the two processors allow (the ones
  # on the display take turns anyway).
  log "the guest boots under qemu's emulation: its console follows"
  timeout --foreground 5400 nice -n 10 "$QEMU" -accel tcg,thread=multi -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt \
    -smp 2 -m 4096 -display none -monitor none -serial stdio -no-reboot -nic none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "root=/dev/vda rw console=ttyS0 quiet panic=1 init=/sbin/tessel-guest-init tessel.tree=$ROOT tessel.jobs=2 tessel.waitscale=$GUEST_WAIT_SCALE" \
    -drive "file=$GUEST_DIR/disk.img,format=raw,if=virtio" -drive "file=$tree,format=raw,if=virtio" \
    </dev/null 2>&1 | sed -u 's/\r$//' | tee "$marks/output.log" || status=$?
  # The marks and ctest's record, read back from the project's disk.
  local back
  back=$(mktemp -d)
  debugfs -R "rdump /build/win32/guest /build/win32/Testing $back" "$tree" >/dev/null 2>&1 || true
  [ ! -f "$back/guest/started" ] || cp "$back/guest/started" "$marks/started"
  [ ! -f "$back/guest/status" ] || cp "$back/guest/status" "$marks/status"
  if [ -d "$back/Testing" ]; then rm -rf "$BUILD/win32/Testing"; mv "$back/Testing" "$BUILD/win32/Testing"; fi
  rm -rf "$back"
  guest_outcome "$marks" "$status"
}
