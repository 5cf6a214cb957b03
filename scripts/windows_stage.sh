# shellcheck shell=bash
# The Windows stage: the Windows tests on the host's Wine where it runs, else in a Debian 12 guest
# of the project's own (scripts/guest_root.sh). On a kernel that runs 32-bit code the guest is
# entered with chroot (scripts/guest_chroot.sh); on one that does not, it boots under qemu's
# software emulation (scripts/guest_emulation.sh), which runs 32-bit code on any x86-64 host.
# Either way the guest sees the project tree and its build outputs only, has loopback only, and
# every process in it ends with it.

# Why the guest could not be made or started, in one line.
GUEST_REASON=""

# windows_route: where the Windows stage runs, as TESSEL_WINDOWS_TESTS (host, guest or skip) may
# force: WINDOWS_ROUTE is host, chroot, emulation or skip. WINDOWS_ROUTE_REASON says why not on
# the host (empty when the guest was asked for), or why not at all. A TESSEL_WINDOWS_TESTS of
# another value gives status 1, the refusal in WINDOWS_ROUTE_REASON.
windows_route() {
  local mode="${TESSEL_WINDOWS_TESTS:-}"
  WINDOWS_ROUTE=skip
  WINDOWS_ROUTE_REASON=""
  case "$mode" in
    "" | host | guest) ;;
    skip) WINDOWS_ROUTE_REASON="TESSEL_WINDOWS_TESTS=skip asked for a run without them"; return 0 ;;
    *) WINDOWS_ROUTE_REASON="TESSEL_WINDOWS_TESTS is host, guest or skip, not '$mode'"; return 1 ;;
  esac
  if [ "$mode" != guest ]; then
    if WINDOWS_ROUTE_REASON=$(wine_unavailable); then
      :
    elif ! command -v wine >/dev/null 2>&1; then
      WINDOWS_ROUTE_REASON="Wine is not installed on this host"
    else
      WINDOWS_ROUTE=host
      return 0
    fi
    [ "$mode" != host ] || return 0
  fi
  if runs_32bit; then WINDOWS_ROUTE=chroot; else WINDOWS_ROUTE=emulation; fi
}

# windows_stage: the Windows tests where windows_route says; the summary says where they ran or
# why not.
windows_stage() {
  if [ -n "$GUEST_JOB" ]; then
    guest_stage_collect
    return 0
  fi
  windows_route || die "$WINDOWS_ROUTE_REASON"
  case "$WINDOWS_ROUTE" in
    host)
      start_display
      setup_audio
      setup_wine_env
      start_wine_services
      stage "Windows tests under $(wine_name "$(wine --version)") on the host" windows_tests
      ;;
    skip) skip_windows_tests "$WINDOWS_ROUTE_REASON" ;;
    *) guest_windows_stage "$WINDOWS_ROUTE" "$WINDOWS_ROUTE_REASON" ;;
  esac
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
  windows_route && [ "$WINDOWS_ROUTE" = emulation ] || return 0
  local reason="$WINDOWS_ROUTE_REASON" marks="$BUILD/win32/guest"
  mkdir -p "$marks"
  GUEST_LOG="$marks/stage.log"
  rm -f "$marks/stage.result"
  log "the Windows tests start in the guest under emulation now, beside the native stages; their output follows them at the end ($GUEST_LOG as they go)"
  set -m
  (
    STAGES=()
    FAILED=0
    guest_windows_stage emulation "$reason"
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

# guest_windows_stage ROUTE WHY: the stage in the guest under ROUTE, chroot or emulation (WHY: why
# not on the host, empty when forced).
guest_windows_stage() {
  local route="$1" why="${2:-TESSEL_WINDOWS_TESTS=guest asked for the guest}" status=0
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
