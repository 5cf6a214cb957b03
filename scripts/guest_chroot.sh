# shellcheck shell=bash
# The guest entered with chroot, on a kernel that runs 32-bit code, and the stage inside the guest
# on either route.

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
