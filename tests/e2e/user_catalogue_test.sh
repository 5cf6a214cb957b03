#!/usr/bin/env bash
# The native tessel, installed (a prefix with bin/tessel and lib/systemd/user/
# tessel-catalogue.service), starts the user's catalogue through the user's service manager: in
# the session in which the package was installed the manager does not know the unit until it is
# told to reload, and then the unit is started; a unit the user disabled is left alone; a program
# that is not installed (no unit beside it) asks nothing. A stand-in systemctl first on PATH
# plays the manager and logs what it was asked. Run in a network namespace of its own with
# loopback only, so that nothing the program sends leaves it.
# user_catalogue_test.sh PROGRAM. Exit 77 where it cannot run.
set -u
PROGRAM="$1"
if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || { echo "SKIP: needs root for a network namespace"; exit 77; }
  command -v unshare >/dev/null || { echo "SKIP: no unshare"; exit 77; }
  exec unshare --net bash "$0" --inside "$@"
fi
PROGRAM="$2"
ip link set lo up 2>/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$WORK/prefix/bin" "$WORK/prefix/lib/systemd/user" "$WORK/path" "$WORK/config/tessel"
cp "$PROGRAM" "$WORK/prefix/bin/tessel"
touch "$WORK/prefix/lib/systemd/user/tessel-catalogue.service"
# The stand-in manager: is-enabled answers from $WORK/state (enabled after a reload when the
# state says "new", as a manager that has not read a new unit), start and daemon-reload succeed.
cat >"$WORK/path/systemctl" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$STANDIN_LOG"
state=$(cat "$STANDIN_STATE")
case "$*" in
  "--user daemon-reload") [ "$state" = new ] && echo enabled >"$STANDIN_STATE"; exit 0 ;;
  "--user is-enabled --quiet tessel-catalogue.service") [ "$state" = enabled ] ;;
  "--user start tessel-catalogue.service") exit 0 ;;
  *) exit 1 ;;
esac
STANDIN
chmod +x "$WORK/path/systemctl"

# run_program STATE: the installed program with the manager in STATE, until it has asked what it
# asks at start (or for 8 s); the log of the manager in $LOG.
run_program() {
  export STANDIN_LOG="$WORK/log.$1" STANDIN_STATE="$WORK/state"
  echo "$1" >"$STANDIN_STATE"
  : >"$STANDIN_LOG"
  PATH="$WORK/path:$PATH" XDG_CONFIG_HOME="$WORK/config" QT_QPA_PLATFORM=offscreen \
    "$WORK/prefix/bin/tessel" >"$WORK/program.$1.log" 2>&1 &
  local pid=$! i
  for i in $(seq 80); do
    grep -q 'start' "$STANDIN_LOG" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.5
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  LOG=$(tr '\n' ';' <"$STANDIN_LOG")
}

run_program new
[ "$LOG" = "--user is-enabled --quiet tessel-catalogue.service;--user daemon-reload;--user is-enabled --quiet tessel-catalogue.service;--user start tessel-catalogue.service;" ] ||
  fail "a unit new to the manager: asked [$LOG]"
run_program enabled
[ "$LOG" = "--user is-enabled --quiet tessel-catalogue.service;--user start tessel-catalogue.service;" ] ||
  fail "an enabled unit: asked [$LOG]"
run_program disabled
case "$LOG" in *start*) fail "a disabled unit was started: [$LOG]" ;; esac
rm "$WORK/prefix/lib/systemd/user/tessel-catalogue.service" 2>/dev/null
run_program enabled
[ -z "$LOG" ] || fail "a program that is not installed asked the manager: [$LOG]"
[ "$failures" = 0 ] || exit 1
echo "PASS: the installed program starts the user's catalogue"
