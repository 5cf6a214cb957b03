# shellcheck shell=bash
# What ./tessel says, and how it runs a long step: its output kept aside, a word every ten
# seconds that it is still at work, and tries again where a registry has a bad moment.

log() { printf '== %s\n' "$*" >&2; }
die() { printf 'tessel: %s\n' "$*" >&2; exit 1; }

# quietly [--keep LOG] MESSAGE CMD...: runs a long step with its output kept aside, saying every
# ten seconds that it is still at work; on failure shows the end of its output, or with --keep
# leaves all of it in LOG for the caller.
quietly() {
  local keep="" out status=0
  if [ "$1" = --keep ]; then keep="$2"; shift 2; fi
  local message="$1"
  shift
  out=${keep:-$(mktemp)}
  "$@" </dev/null >"$out" 2>&1 &
  local pid=$! ticks=0
  # Looked at ten times a second, so a step that fails at once is reported at once.
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    ticks=$((ticks + 1))
    [ $((ticks % 100)) != 0 ] || log "$message: still at work ($((ticks / 10)) s)"
  done
  wait "$pid" || status=$?
  if [ -z "$keep" ]; then
    [ "$status" = 0 ] || tail -n 40 "$out" >&2
    rm -f "$out"
  fi
  return "$status"
}

# failure_reason LOG: why a step failed, in one line: apt's first error ("E: ..."), else npm's
# first message (past the lines that only name the error's code), else the last line.
failure_reason() {
  local line
  line=$(sed -nE 's/^E: //p' "$1" | head -n 1)
  [ -n "$line" ] || line=$(sed -nE '/^npm (error|ERR!) (code|errno|syscall) /d; s/^npm (error|ERR!) +//p' "$1" |
    grep -v '^$' | head -n 1 || true)
  [ -n "$line" ] || line=$(grep -v '^[[:space:]]*$' "$1" | tail -n 1 || true)
  printf '%s' "${line:-no message}" | tr -s ' \t' ' '
}

# retrying NAME TRIES CMD...: runs CMD quietly, and again after a pause while it fails, TRIES times
# in all, saying so each time. After the last failure FAILURE_REASON says why in one line,
# FAILURE_LOG holds the output (the caller removes it) and the status is 1.
retrying() {
  local name="$1" tries="$2" try=1
  shift 2
  FAILURE_LOG=$(mktemp)
  until quietly --keep "$FAILURE_LOG" "$name" "$@"; do
    FAILURE_REASON=$(failure_reason "$FAILURE_LOG")
    [ "$try" -lt "$tries" ] || return 1
    try=$((try + 1))
    log "$name failed ($FAILURE_REASON): trying again in ${RETRY_PAUSE} s (try $try of $tries)"
    sleep "$RETRY_PAUSE"
  done
  rm -f "$FAILURE_LOG"
}
