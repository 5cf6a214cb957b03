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
