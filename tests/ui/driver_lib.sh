# Shared by the tests that drive a program under Wine with tessel-ui-driver. The caller sets
# DRIVER and OUTDIR, sources this file first and starts its program on the desktop DESKTOP
# (PROGRAM_PID: the Linux process, PID: its Windows process id once known). Without a display
# there is nothing to drive: the test is skipped (exit code 77).

if [ -z "${DISPLAY:-}" ]; then
  echo "no DISPLAY: skipped"
  exit 77
fi
export LC_ALL=C.UTF-8

# How many times longer every wait may take on this machine (TESSEL_WAIT_SCALE, a whole number
# from 1 to 100: a guest under software emulation is that many times slower than a real CPU).
# The driver reads it too, for its own waits.
WAIT_SCALE=1
if [[ "${TESSEL_WAIT_SCALE:-}" =~ ^[1-9][0-9]?$|^100$ ]]; then WAIT_SCALE=$TESSEL_WAIT_SCALE; fi
# polls N: the polls of a wait of N rounds on a real CPU, for `for _ in $(polls N)`.
polls() { seq $(($1 * WAIT_SCALE)); }

# The main window's title, as the program's window description writes it.
TITLE="Tessel音乐搜索下载器"
# A desktop of the test's own, named after it: tests run side by side never share one.
DESKTOP="tessel-$(basename "$0" .sh)-$$"

PROGRAM_PID=""
PID=""
cleanup() {
  # A fixture left over by a failed check: end it by its Windows process id, then the desktop.
  if [ -n "$PID" ] && [ -n "$(timeout $((10 * WAIT_SCALE)) wine "$DRIVER" --desktop "$DESKTOP" windows --pid "$PID" \
    --timeout-ms 0 2>/dev/null </dev/null)" ]; then
    timeout $((20 * WAIT_SCALE)) wine taskkill /f /pid "$PID" >/dev/null 2>&1 </dev/null || true
  fi
  if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
    kill "$PROGRAM_PID" 2>/dev/null || true
  fi
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# drive ARGS...: runs the driver on the test desktop, bounded; output without \r in $OUT,
# exit code in $RC.
drive() {
  OUT=$(timeout $((40 * WAIT_SCALE)) wine "$DRIVER" --desktop "$DESKTOP" "$@" 2>"$OUTDIR/driver.err" </dev/null)
  RC=$?
  OUT=${OUT//$'\r'/}
}

# expect ARGS... -- LINE...: runs the driver, wants exit code 0 and every LINE among its output.
expect() {
  local args=() line
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  shift
  drive "${args[@]}"
  [ "$RC" = 0 ] || { fail "${args[*]}: exit code $RC: $(cat "$OUTDIR/driver.err")"; return; }
  for line in "$@"; do
    grep -Fxq -- "$line" <<<"$OUT" || fail "${args[*]}: no line [$line] in:"$'\n'"$OUT"
  done
}

# expect_code CODE ARGS...: runs the driver and wants that exit code.
expect_code() {
  local code="$1"
  shift
  drive "$@"
  [ "$RC" = "$code" ] || fail "$*: exit code $RC, wanted $code"
}


# start_program EXE: runs EXE on the test's desktop and waits for the window TITLE; the dump of
# it is in $OUT, its Windows process id in PID.
start_program() {
  wine explorer "/desktop=$DESKTOP,1024x768" "$1" </dev/null >/dev/null 2>&1 &
  PROGRAM_PID=$!
  expect wait-window --title "$TITLE" --
  expect dump --title "$TITLE" --
  PID=$(sed -nE 's/^window hwnd=[^ ]+ pid=([0-9]+) .*/\1/p' <<<"$OUT")
}

# finish MESSAGE: exits 1 when a check failed, else prints MESSAGE.
finish() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "$1"
}
