# Sourced first, with the test's own arguments, by the end-to-end tests that run Tessel.exe under
# Wine against tessel-catalogue: DRIVER PROGRAM CATALOGUE OUTDIR. The caller sets HERE (its
# folder); this sets the four and sources the driver's helpers (TITLE, DESKTOP) and the
# catalogue's.
DRIVER="$1"
PROGRAM="$2"
CATALOGUE="$3"
OUTDIR="$4"

source "$HERE/../ui/driver_lib.sh"
source "$HERE/catalogue_lib.sh"

# row_menu ROW COMMAND...: right-clicks list row ROW, then runs the driver's menu COMMAND (menu,
# or menu-select TEXT). Under Wine a right click once brought up no menu in a whole run (not
# seen again in 65 rounds of the same steps): when none appears in 5 s, the driver's account of
# the program's threads is printed and the row is right-clicked once more, as a user would. A
# second click without a menu fails the check.
row_menu() {
  local row="$1"
  shift
  expect rclick --title "$TITLE" --class SysListView32 --row "$row" --
  drive "$@" --timeout-ms 5000
  if [ "$RC" = 2 ]; then
    echo "note: no menu over row $row, right-clicking again: $(cat "$OUTDIR/driver.err")"
    expect rclick --title "$TITLE" --class SysListView32 --row "$row" --
    drive "$@"
  fi
  [ "$RC" = 0 ] || fail "$* over row $row: exit code $RC: $(cat "$OUTDIR/driver.err")"
}
