#!/usr/bin/env bash
# End to end, black box: the native tessel against tessel-catalogue with the demo library (and
# one large song), in a desktop session of its own, driven through AT-SPI by native_driver.py.
# native_test.sh PROGRAM CATALOGUE OUTDIR. Exit 77 (skipped) when the tools are missing.
set -u
PROGRAM="$1" CATALOGUE="$2" OUTDIR="$3"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
command -v node >/dev/null || { echo "skipped: node is missing"; exit 77; }
rm -rf "$OUTDIR/config" "$OUTDIR/songs" "$OUTDIR"/*.log "$OUTDIR"/*.png
mkdir -p "$OUTDIR"

CATALOGUE_PID=""
trap '[ -z "$CATALOGUE_PID" ] || { kill "$CATALOGUE_PID" 2>/dev/null; wait "$CATALOGUE_PID" 2>/dev/null; }' EXIT
# The demo library and one large song (400 MB, so the catalogue can be killed mid-transfer).
LIBRARY="$OUTDIR/library"
[ -d "$LIBRARY/demo" ] || "$CATALOGUE" --make-demo "$LIBRARY/demo" >/dev/null || exit 1
LARGE="$LIBRARY/large/巨大的歌.mp3"
if [ ! -f "$LARGE" ]; then
  mkdir -p "$LIBRARY/large"
  node "$HERE/large_song.mjs" "$(find "$LIBRARY/demo" -name '*.mp3' | head -1)" "$LARGE" 400 ||
    { echo "no large song"; exit 1; }
fi
"$CATALOGUE" --library "$LIBRARY" --db "$OUTDIR/catalogue.db" --listen 127.0.0.1:0 \
  >"$OUTDIR/catalogue.log" 2>&1 &
CATALOGUE_PID=$!
BASE=""
for _ in $(seq 600); do
  BASE=$(sed -nE 's#.*serving .* on (http://127\.0\.0\.1:[0-9]+)/.*#\1#p' "$OUTDIR/catalogue.log")
  [ -n "$BASE" ] && break
  sleep 0.1
done
[ -n "$BASE" ] || { echo "the catalogue did not start"; exit 1; }
CATALOGUE_PID=$CATALOGUE_PID timeout 240 bash "$HERE/native_session.sh" \
  /usr/bin/python3 "$HERE/native_driver.py" "$PROGRAM" "$BASE" "$OUTDIR"
