#!/bin/bash
# The catalogue's user unit as the package installs it: `systemd-analyze --user verify` has
# nothing to say about it (the built program standing in for the installed one, the manual page
# it names looked up), and the status the catalogue ends with when its port is taken, found by
# running two, is one the unit does not restart on.
#   user_unit_test.sh UNIT CATALOGUE MANDIR OUT
set -u
UNIT=$1 CATALOGUE=$2 MANDIR=$3 OUT=$4
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze (package systemd)"; exit 77; }

rm -rf "$OUT"
mkdir -p "$OUT/run" "$OUT/man/man1" "$OUT/library"
chmod 700 "$OUT/run"
copy="$OUT/tessel-catalogue.service"
grep -qx 'ExecStart=/usr/bin/tessel-catalogue' "$UNIT" || fail "the unit does not start /usr/bin/tessel-catalogue"
sed "s|^ExecStart=/usr/bin/tessel-catalogue|ExecStart=$CATALOGUE|" "$UNIT" >"$copy"
man_option=()
if [ -f "$MANDIR/tessel-catalogue.1" ]; then
  cp "$MANDIR/tessel-catalogue.1" "$OUT/man/man1/"
else
  man_option=(--man=no)  # no manual page built (no Qt): the rest is verified still
fi
# A user manager of its own, offline: the runtime folder is the test's.
said=$(XDG_RUNTIME_DIR="$OUT/run" MANPATH="$OUT/man" systemd-analyze --user verify "${man_option[@]}" "$copy" 2>&1)
status=$?
[ "$status" = 0 ] && [ -z "$said" ] || fail "systemd-analyze verify (status $status): $said"

# The status of a catalogue on a taken port, from the program itself.
"$CATALOGUE" --library "$OUT/library" --db "$OUT/first.db" --listen 127.0.0.1:0 >"$OUT/first.log" 2>&1 &
first=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|.*serving [0-9]* songs on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$OUT/first.log")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail "the first catalogue did not serve: $(cat "$OUT/first.log")"
else
  "$CATALOGUE" --library "$OUT/library" --db "$OUT/second.db" --listen "127.0.0.1:$port" >"$OUT/second.log" 2>&1
  taken=$?
  [ "$taken" != 0 ] || fail "a catalogue on a taken port ended well"
  # As systemd decides: Restart=always restarts every end, on-failure every status but 0 and
  # those RestartPreventExitStatus lists; the others restart no status.
  restart=$(sed -n 's/^Restart=//p' "$UNIT" | tail -1)
  prevent=" $(sed -n 's/^RestartPreventExitStatus=//p' "$UNIT" | tr '\n' ' ') "
  case "$restart" in
    always|on-failure)
      [[ "$prevent" == *" $taken "* ]] ||
        fail "Restart=$restart restarts status $taken (the port taken): RestartPreventExitStatus=$prevent" ;;
  esac
  [[ "$prevent" == *" $taken "* ]] || fail "status $taken (the port taken) is not in RestartPreventExitStatus"
fi
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null

[ "$failures" = 0 ] || exit 1
echo "PASS: the user unit verifies, and the port taken ($taken) is not restarted"
