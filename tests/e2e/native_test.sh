#!/usr/bin/env bash
# End to end, black box: the native tessel against tessel-catalogue, in a desktop session of its
# own, driven through AT-SPI by native_driver.py.
# native_test.sh PROGRAM CATALOGUE OUTDIR [--bench | --collections]: by default the demo library
# and one large song; with --bench it prints the benchmark figures instead of testing; with
# --collections a library of 300 collections, for the layout of the tags and the list and a
# search the catalogue refuses. Exit 77 (skipped) when the tools are missing.
set -u
PROGRAM="$1" CATALOGUE="$2" OUTDIR="$3" MODE="${4:-}"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
command -v node >/dev/null || { echo "skipped: node is missing"; exit 77; }
rm -rf "$OUTDIR/config" "$OUTDIR/songs" "$OUTDIR"/*.log "$OUTDIR"/*.png
mkdir -p "$OUTDIR"

cleanup() { :; }  # nothing but the catalogue to stop
source "$HERE/catalogue_lib.sh"
if [ "$MODE" = --collections ]; then
  make_collections_library "$OUTDIR/library-300" 300
  start_catalogue "$OUTDIR/library-300"
else
  make_large_song "$OUTDIR/library"
  start_catalogue "$OUTDIR/library"
fi
CATALOGUE_PID=$CATALOGUE_PID timeout 240 bash "$HERE/native_session.sh" \
  /usr/bin/python3 "$HERE/native_driver.py" $MODE "$PROGRAM" "$BASE" "$OUTDIR"
