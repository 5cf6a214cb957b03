# shellcheck shell=bash
# Wine runs Tessel.exe as 32-bit x86 code, which some kernels cannot run at all: with their IA-32
# emulation off (64-bit-only virtual machines, WSL 1, ia32_emulation=off) every i386 program fails
# with "Exec format error", Wine included. The one check: run a tiny i386 program and look at its
# answer. Such a machine still builds every tree (the cross compiler is a 64-bit program) and runs
# the native tests; it skips what needs Wine, and installs none of Wine's i386 packages.
# TESSEL_NO_32BIT=1 makes ./tessel behave as on such a machine, so that path can be tried anywhere.
RUNS_32BIT=""

no_32bit_reason() {
  if [ "${TESSEL_NO_32BIT:-0}" = 1 ]; then
    printf '%s' "TESSEL_NO_32BIT=1 asked for a run without 32-bit programs"
  else
    printf '%s' "this machine cannot run 32-bit programs (its kernel's IA-32 emulation is off)"
  fi
}

runs_32bit() {
  if [ -z "$RUNS_32BIT" ]; then
    RUNS_32BIT=no
    if [ "${TESSEL_NO_32BIT:-0}" != 1 ]; then
      local probe="$BUILD/probe-i386" status=0
      mkdir -p "$BUILD"
      write_i386_probe "$probe"
      ("$probe") >/dev/null 2>&1 || status=$?
      [ "$status" != 42 ] || RUNS_32BIT=yes
    fi
  fi
  [ "$RUNS_32BIT" = yes ]
}

# write_i386_probe FILE: a static i386 ELF program of 96 bytes that exits with status 42: the ELF
# header, one loadable segment (the whole file at 0x08048000, readable and executable) and
# "mov eax, 1; mov ebx, 42; int 0x80" at offset 84. It needs no library, so it answers even on a
# machine that has no i386 package at all.
write_i386_probe() {
  local file="$1"
  [ -x "$file" ] && return 0
  {
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  # 32-bit, little-endian
    printf '\x02\x00\x03\x00\x01\x00\x00\x00'                              # executable, i386, version 1
    printf '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'              # entry, program headers at 52
    printf '\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' # one of 32 bytes
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' # load from 0
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' # 96 bytes, r-x
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'                # exit(42)
  } >"$file.new"
  chmod +x "$file.new"
  mv "$file.new" "$file"
}
