#!/usr/bin/env bash
# ./tessel on a bad registry day, with stand-ins for apt-get, dpkg, dpkg-query, npm, debootstrap,
# qemu and the catalogue (see stand-ins/): nothing is looked up in a registry, installed or built.
# front_door_test.sh TESSEL OUTDIR: TESSEL is the front door, copied into a scratch folder per case.
set -uo pipefail
TESSEL="$1" OUTDIR="$2"
STAND_INS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/stand-ins"
[ "$(id -u)" = 0 ] || { echo "skipped: ./tessel installs packages only as root"; exit 77; }
rm -rf "$OUTDIR"
mkdir -p "$OUTDIR"

export TESSEL_APT_GET="$STAND_INS/apt-get" TESSEL_DPKG="$STAND_INS/dpkg"
export TESSEL_DPKG_QUERY="$STAND_INS/dpkg-query" TESSEL_NPM="$STAND_INS/npm"
export TESSEL_DEBOOTSTRAP="$STAND_INS/debootstrap" TESSEL_QEMU="$STAND_INS/qemu-system-x86_64"
export TESSEL_RETRY_PAUSE=0 TESSEL_APT_TRIES=3 TESSEL_NPM_TRIES=3
unset TESSEL_NO_32BIT TESSEL_WINDOWS_TESTS

FAILURES=0
fail() { printf 'FAIL (%s): %s\n' "$CASE" "$*"; FAILURES=$((FAILURES + 1)); }
# has_line FILE LINE: LINE is one of FILE's lines, whole.
has_line() { grep -qxF -- "$2" "$1" || fail "no line «$2» in ${1#"$OUTDIR"/}:$(printf '\n%s' "$(cat "$1")")"; }
lacks() { ! grep -qF -- "$2" "$1" || fail "${1#"$OUTDIR"/} has «$2»"; }
# same_calls EXPECTED: the stand-ins were called so, in this order.
same_calls() { [ "$(cat "$STAND_IN_LOG")" = "$1" ] || fail "calls were:$(printf '\n%s' "$(cat "$STAND_IN_LOG")"), not:$(printf '\n%s' "$1")"; }

# new_case NAME: a scratch copy of the front door in $ROOT, an empty call log, stand-ins that
# fail in nothing, output in $ERR.
new_case() {
  CASE="$1"
  ROOT="$OUTDIR/$1"
  mkdir -p "$ROOT"
  cp "$TESSEL" "$ROOT/tessel"
  mkdir -p "$ROOT/scripts"
  cp "$(dirname "$TESSEL")"/scripts/*.sh "$ROOT/scripts/"
  # The guest's place, outside the tree the emulated guest is given.
  GUEST="$OUTDIR/$1-guest"
  export TESSEL_GUEST_DIR="$GUEST"
  export STAND_IN_LOG="$ROOT/calls.log"
  : >"$STAND_IN_LOG"
  rm -f "$STAND_IN_LOG.installed"
  unset STAND_IN_UPDATE_FAILS STAND_IN_FAIL_INSTALL STAND_IN_MISSING STAND_IN_NPM_FAILS
  ERR="$ROOT/stderr.log"
}
# in_front_door CMD...: CMD in a shell that has sourced the copy, on a machine that runs 32-bit
# programs; its messages go to $ERR.
in_front_door() {
  (
    set -e
    source "$ROOT/tessel"
    RUNS_32BIT=yes
    "$@"
  ) 2>"$ERR"
}

WINE_REASON_LINE="Wine's packages could not be installed (Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages.)"
MIRROR_SYNC="Failed to fetch stand-in/dists/bookworm-security/main/binary-i386/Packages.xz File has unexpected size (374820 != 376004). Mirror sync in progress?"

# --- the update keeps failing; native packages install, Wine's cannot ----------------------
new_case bad-day
export STAND_IN_UPDATE_FAILS=99 STAND_IN_FAIL_INSTALL=':i386$' STAND_IN_MISSING="cmake wine32:i386"
test_run() {
  ensure_packages
  ensure_packages  # the same run does not try Wine's packages again
  STAGES=("native tests: passed")
  skip_windows_tests "$(wine_unavailable)"
  print_summary
}
in_front_door test_run || fail "the run did not pass (status $?)"
same_calls "update
update
update
install cmake
install wine32:i386"
has_line "$ERR" "== apt-get update failed ($MIRROR_SYNC): trying again in 0 s (try 2 of 3)"
has_line "$ERR" "== apt-get update failed ($MIRROR_SYNC): trying again in 0 s (try 3 of 3)"
has_line "$ERR" "== apt-get update failed 3 times ($MIRROR_SYNC): going on with the package lists at hand"
has_line "$ERR" "== installing: cmake"
has_line "$ERR" "== installing Wine's packages: wine32:i386"
has_line "$ERR" "==   Windows tests not run: $WINE_REASON_LINE"
has_line "$ERR" "== all tests that ran passed"
# ./tessel run (native) asks for no Wine.
: >"$STAND_IN_LOG"
rm -f "$STAND_IN_LOG.installed"
export STAND_IN_UPDATE_FAILS=0
in_front_door ensure_packages native || fail "the native install failed"
same_calls "update
install cmake"

# --- the update recovers at its second try ---------------------------------------------------
new_case update-recovers
export STAND_IN_UPDATE_FAILS=1 STAND_IN_MISSING="cmake"
in_front_door ensure_packages || fail "the install failed"
same_calls "update
update
install cmake"
has_line "$ERR" "== apt-get update failed ($MIRROR_SYNC): trying again in 0 s (try 2 of 3)"
lacks "$ERR" "going on with"

# --- a native package cannot be installed: no going on --------------------------------------
new_case native-fails
export STAND_IN_FAIL_INSTALL='^cmake$' STAND_IN_MISSING="cmake wine32:i386"
in_front_door ensure_packages && fail "the run went on"
has_line "$ERR" "tessel: installing packages failed: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
same_calls "update
install cmake"
# After an update that kept failing, the message says the lists may be the cause.
: >"$STAND_IN_LOG"
export STAND_IN_UPDATE_FAILS=99
in_front_door ensure_packages && fail "the run went on"
has_line "$ERR" "tessel: installing packages failed: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages. (apt-get update had failed: some package lists may be missing or out of date)"

# --- ./tessel run --wine, run as a user would, twice -----------------------------------------
new_case run-wine
export STAND_IN_FAIL_INSTALL=':i386$' STAND_IN_MISSING="wine32:i386"
for run in 1 2; do
  started=$(date +%s%N)
  "$ROOT/tessel" run --wine 2>"$ERR" && fail "run --wine went on"
  echo "run --wine $run said why after $((($(date +%s%N) - started) / 1000000)) ms"
  if grep -q "IA-32 emulation is off" "$ERR"; then
    echo "note: this machine runs no 32-bit programs; Wine's packages are not tried"
    break
  fi
  has_line "$ERR" "tessel: Tessel.exe cannot start here: $WINE_REASON_LINE (./tessel run runs the native program, which needs no Wine)"
done
# A later run tries Wine's packages again, the registry may have recovered; nothing was built.
grep -q "IA-32 emulation is off" "$ERR" || same_calls "update
install wine32:i386
update
install wine32:i386"
[ ! -e "$ROOT/build/native" ] || fail "run --wine built the native tree"

# --- TESSEL_NO_32BIT=1 -----------------------------------------------------------------------
new_case no-32bit
export TESSEL_NO_32BIT=1 STAND_IN_FAIL_INSTALL=':i386$' STAND_IN_MISSING="wine32:i386"
"$ROOT/tessel" run --wine 2>"$ERR" && fail "run --wine went on"
has_line "$ERR" "tessel: Tessel.exe cannot start here: it is a 32-bit Windows program run by Wine, and TESSEL_NO_32BIT=1 asked for a run without 32-bit programs"
: >"$STAND_IN_LOG"
test_run() {
  RUNS_32BIT=""  # asked as ./tessel test asks it
  ensure_packages
  STAGES=()
  skip_windows_tests "$(wine_unavailable)"
  print_summary
}
in_front_door test_run || fail "the run did not pass"
has_line "$ERR" "==   Windows tests not run: TESSEL_NO_32BIT=1 asked for a run without 32-bit programs"
lacks "$ERR" "IA-32"
same_calls ""  # Wine's packages are not even tried
unset TESSEL_NO_32BIT

# --- Wine refused, and the guest for the Windows tests cannot be made ------------------------
new_case guest-refused
export STAND_IN_FAIL_INSTALL=':i386$' STAND_IN_MISSING="wine32:i386"
GUEST_REFUSED="debootstrap failed 3 times (Failed getting release file http://stand-in/debian/dists/bookworm/Release)"
test_run() {
  guest_mirror() { printf '%s' http://stand-in/debian; }
  GUEST_ROOM_MB=1
  ensure_packages
  STAGES=("native tests: passed")
  windows_stage
  print_summary
}
in_front_door test_run || fail "the run did not pass (status $?)"
has_line "$ERR" "==   Windows tests not run: $WINE_REASON_LINE, and the guest that runs them could not be made: $GUEST_REFUSED"
[ "$(grep -c "$GUEST_REFUSED" "$ERR")" = 2 ] || fail "the reason is not said once, then in the summary"
has_line "$ERR" "== all tests that ran passed"
same_calls "update
install wine32:i386
debootstrap --variant=minbase bookworm $GUEST/root.new http://stand-in/debian
debootstrap --variant=minbase bookworm $GUEST/root.new http://stand-in/debian
debootstrap --variant=minbase bookworm $GUEST/root.new http://stand-in/debian"
[ ! -e "$GUEST/root.stamp" ] || fail "a failed root was stamped as made"
# No room for it: said before anything is fetched.
: >"$STAND_IN_LOG"
test_run() {
  guest_mirror() { printf '%s' http://stand-in/debian; }
  GUEST_ROOM_MB=999999999
  WINE_REASON="Wine's packages could not be installed (stand-in)"
  STAGES=()
  windows_stage
  print_summary
}
in_front_door test_run || fail "the run without room did not pass"
grep -qE "^==   Windows tests not run: .*, and the guest that runs them could not be made: no room on disk: [0-9]+ MB free in $GUEST, the guest needs about 999999999 MB$" "$ERR" ||
  fail "no line saying there is no room:$(printf '\n%s' "$(cat "$ERR")")"
same_calls ""
# Forced: the host's Wine only, or no Windows tests at all.
TESSEL_WINDOWS_TESTS=host in_front_door test_run || fail "the run with the host's Wine forced did not pass"
has_line "$ERR" "==   Windows tests not run: Wine's packages could not be installed (stand-in)"
TESSEL_WINDOWS_TESTS=skip in_front_door test_run || fail "the run without Windows tests did not pass"
has_line "$ERR" "==   Windows tests not run: TESSEL_WINDOWS_TESTS=skip asked for a run without them"
same_calls ""

# --- no 32-bit code here, and qemu cannot boot the guest ----------------------------------------
new_case guest-emulation
# A root as made before (its stamp up to date), with a kernel to boot.
mkdir -p "$GUEST/root/boot" "$GUEST/root/sbin"
touch "$GUEST/root/boot/vmlinuz-6.1.0-0-amd64" "$GUEST/root/boot/initrd.img-6.1.0-0-amd64"
test_run() {
  RUNS_32BIT=no
  guest_stamp >"$GUEST/root.stamp"
  STAGES=("native tests: passed")
  windows_stage
  print_summary
}
in_front_door test_run || fail "the run did not pass (status $?)"
has_line "$ERR" "==   Windows tests not run: this machine cannot run 32-bit programs (its kernel's IA-32 emulation is off), and the guest that runs them did not start (qemu-system-x86_64: cannot set up guest memory 'pc.ram': Cannot allocate memory)"
has_line "$ERR" "== all tests that ran passed"
grep -q "^qemu .*-cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt .*-nic none .*-kernel $GUEST/root/boot/vmlinuz-6.1.0-0-amd64 .*init=/sbin/tessel-guest-init tessel.tree=$ROOT tessel.jobs=2 tessel.waitscale=10 -drive " "$STAND_IN_LOG" ||
  fail "qemu was not asked for the guest as it must boot: $(cat "$STAND_IN_LOG")"
[ -x "$GUEST/root/sbin/tessel-guest-init" ] || fail "the guest has no init of ours"
# The next run boots the same disk image, not one made again (it keeps the Wine prefix).
in_front_door test_run || fail "the second run did not pass"
lacks "$ERR" "making the guest's disk image"
# As ./tessel test runs it: started beside the native stages, collected at the end, the same
# outcome in the summary.
: >"$STAND_IN_LOG"
test_run_beside() {
  RUNS_32BIT=no
  STAGES=("native tests: passed")
  windows_stage_begin
  STAGES+=("sanitizer tests: passed")
  windows_stage
  print_summary
}
in_front_door test_run_beside || fail "the run with the stage beside the native ones did not pass (status $?)"
has_line "$ERR" "==   sanitizer tests: passed"
has_line "$ERR" "==   Windows tests not run: this machine cannot run 32-bit programs (its kernel's IA-32 emulation is off), and the guest that runs them did not start (qemu-system-x86_64: cannot set up guest memory 'pc.ram': Cannot allocate memory)"
has_line "$ERR" "== all tests that ran passed"
grep -q "^qemu .*tessel.waitscale=10 " "$STAND_IN_LOG" || fail "qemu was not started for the stage beside the native ones"
# The host's Wine forced: nothing starts beside the native stages, and the stage is left out.
TESSEL_WINDOWS_TESTS=host in_front_door test_run_beside || fail "the run with the host's Wine forced did not pass"
has_line "$ERR" "==   Windows tests not run: this machine cannot run 32-bit programs (its kernel's IA-32 emulation is off)"
lacks "$ERR" "start in the guest"
# A value it does not know is refused by the stage, not started beside the native ones.
TESSEL_WINDOWS_TESTS=sometimes in_front_door test_run_beside && fail "TESSEL_WINDOWS_TESTS=sometimes was taken"
has_line "$ERR" "tessel: TESSEL_WINDOWS_TESTS is host, guest or skip, not 'sometimes'"
lacks "$ERR" "start in the guest"
# Forced, the same guest.
TESSEL_WINDOWS_TESTS=guest in_front_door test_run || fail "the forced run did not pass"
has_line "$ERR" "==   Windows tests not run: TESSEL_WINDOWS_TESTS=guest asked for the guest, and the guest that runs them did not start (qemu-system-x86_64: cannot set up guest memory 'pc.ram': Cannot allocate memory)"
rm -f "$GUEST"/*.img

# --- ./tessel run's catalogue: its port taken, or it cannot listen at all -----------------------
new_case catalogue-port
mkdir -p "$ROOT/build/native/catalogue" "$ROOT/music"
cp "$STAND_INS/tessel-catalogue" "$ROOT/build/native/catalogue/"
test_run() {
  start_catalogue "$ROOT/music" "$ROOT/music.db" "$ROOT/catalogue.log"
  echo "serving on $CATALOGUE_HOST" >&2
  stop_run
}
export STAND_IN_TAKEN=127.0.0.1:8765
in_front_door test_run || fail "the catalogue did not start on a free port (status $?)"
has_line "$ERR" "== 127.0.0.1:8765 is taken: the catalogue takes a free port"
has_line "$ERR" "== tessel-catalogue serves 3 songs of $ROOT/music on http://127.0.0.1:41234/"
has_line "$ERR" "serving on 127.0.0.1:41234"
same_calls "catalogue --listen 127.0.0.1:8765
catalogue --listen 127.0.0.1:0"
# Any other reason not to listen is no port taken: said as it is, and no other port is tried.
: >"$STAND_IN_LOG"
export STAND_IN_TAKEN_STATUS=1 STAND_IN_TAKEN_WHY="Permission denied"
in_front_door test_run && fail "the catalogue was said to start"
has_line "$ERR" "tessel-catalogue: cannot listen on 127.0.0.1:8765: Permission denied"
has_line "$ERR" "tessel: the catalogue did not start"
lacks "$ERR" "is taken"
same_calls "catalogue --listen 127.0.0.1:8765"
unset STAND_IN_TAKEN STAND_IN_TAKEN_STATUS STAND_IN_TAKEN_WHY

# --- npm ci fails twice, then passes; or keeps failing -----------------------------------------
new_case npm
echo '{}' >"$ROOT/package-lock.json"
export STAND_IN_NPM_FAILS=2
in_front_door ensure_npm || fail "npm ci was not tried a third time"
same_calls "npm ci
npm ci
npm ci"
has_line "$ERR" "== npm ci failed (network aborted): trying again in 0 s (try 3 of 3)"
[ -f "$ROOT/node_modules/.package-lock.json" ] || fail "npm ci did not run in the source folder"
rm -rf "$ROOT/node_modules"
: >"$STAND_IN_LOG"
export STAND_IN_NPM_FAILS=5
in_front_door ensure_npm && fail "a failing npm ci was not reported"
has_line "$ERR" "tessel: npm ci failed 3 times: network aborted"
same_calls "npm ci
npm ci
npm ci"

[ "$FAILURES" = 0 ] || { echo "$FAILURES checks failed"; exit 1; }
echo "the front door passed every check"
