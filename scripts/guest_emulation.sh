# shellcheck shell=bash
# The guest under qemu's software emulation, for a kernel that does not run 32-bit code: qemu runs
# it on any x86-64 host. The root boots as a virtual machine from two disks: the system (the root,
# made into an ext4 image once per root, which keeps the Wine prefix between runs) and the project
# tree with its build outputs (made afresh at every run, mounted at the same path). The guest's
# console is the stage's output; its marks are read back from the project disk once it has
# powered off.

QEMU="${TESSEL_QEMU:-qemu-system-x86_64}"
# How many times longer the tests' waits are under emulation (TESSEL_WAIT_SCALE there).
GUEST_WAIT_SCALE=10

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
