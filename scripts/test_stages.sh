# shellcheck shell=bash
# ./tessel test, windows-tests and fuzz: the test stages, each noted for the summary at the end.

run_fuzzers() {
  local seconds="${TESSEL_FUZZ_SECONDS:-20}" f
  [ -d "$BUILD/sanitize/fuzz" ] || return 0
  for f in "$BUILD"/sanitize/fuzz/*; do
    [ -x "$f" ] || continue
    log "fuzz $(basename "$f") for ${seconds}s"
    mkdir -p "$BUILD/sanitize/fuzz-corpus/$(basename "$f")"
    "$f" -max_total_time="$seconds" -print_final_stats=0 \
      "$BUILD/sanitize/fuzz-corpus/$(basename "$f")" >"$BUILD/sanitize/$(basename "$f").log" 2>&1 ||
      { tail -n 40 "$BUILD/sanitize/$(basename "$f").log"; return 1; }
  done
}

native_tests() { (cd "$BUILD/native" && ctest --output-on-failure -j "$JOBS" --timeout 300); }
sanitizer_tests() { (cd "$BUILD/sanitize" && ctest --output-on-failure -j "$JOBS" --timeout 600); }

# A Wine process that hangs on its way out is given one more try.
windows_tests() {
  (cd "$BUILD/win32" && ctest --output-on-failure -j "$JOBS" --timeout 300 --repeat after-timeout:2)
}

# stage NAME CMD...: runs one stage of the tests and notes its outcome for the summary.
STAGES=()
FAILED=0
stage() {
  local name="$1"
  shift
  log "$name"
  if "$@"; then
    STAGES+=("$name: passed")
  else
    STAGES+=("$name: FAILED")
    FAILED=1
  fi
}

cmd_test() {
  build_all
  trap stop_services EXIT
  windows_stage_begin
  build_sanitize
  start_display
  stage "native tests" native_tests
  stage "sanitizer tests" sanitizer_tests
  stage "fuzzers" run_fuzzers
  windows_stage
  print_summary
}

# The Windows stage alone, on the trees built before (a shorter turn while working on it).
cmd_windows_tests() {
  trap stop_services EXIT
  windows_stage
  print_summary
}

# skip_windows_tests REASON: the Windows stage is left out, and the summary says why.
skip_windows_tests() {
  log "Windows tests not run: $1"
  STAGES+=("Windows tests not run: $1" "build/win32 was built; its tests need Wine")
}

# print_summary: the outcome of every stage; the status is 1 when one of them failed.
print_summary() {
  log "summary:"
  local line
  for line in "${STAGES[@]}"; do log "  $line"; done
  if [ "$FAILED" = 0 ]; then log "all tests that ran passed"; else log "some tests FAILED"; fi
  return "$FAILED"
}

cmd_fuzz() {
  ensure_deps
  build_sanitize
  TESSEL_FUZZ_SECONDS="${1:-60}" run_fuzzers
}
