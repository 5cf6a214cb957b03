#!/usr/bin/env bash
# End to end, black box: the native tessel against tessel-catalogue with the demo library, on a
# display of its own inside a D-Bus session of its own, driven through AT-SPI by native_driver.py.
# native_test.sh PROGRAM CATALOGUE OUTDIR. Exit 77 (skipped) when the tools are missing.
set -u
PROGRAM="$1" CATALOGUE="$2" OUTDIR="$3"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for tool in Xvfb dbus-run-session xdotool xclip import node; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no pyatspi"; exit 77; }

if [ "${1:-}" != --inside ]; then
  rm -rf "$OUTDIR/config" "$OUTDIR/songs" "$OUTDIR"/*.log
  mkdir -p "$OUTDIR"
  exec timeout 240 dbus-run-session -- bash "${BASH_SOURCE[0]}" --inside "$PROGRAM" "$CATALOGUE" "$OUTDIR"
fi
shift
PROGRAM="$1" CATALOGUE="$2" OUTDIR="$3"
XVFB_PID="" CATALOGUE_PID=""
cleanup() {
  [ -z "$CATALOGUE_PID" ] || kill "$CATALOGUE_PID" 2>/dev/null
  [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

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

# A display number nobody holds.
for n in $(seq 80 120); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { DISPLAY_NUMBER=$n; break; }
done
Xvfb ":$DISPLAY_NUMBER" -noreset -screen 0 1024x768x24 >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
dbus-update-activation-environment DISPLAY="$DISPLAY" >/dev/null 2>&1
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
CATALOGUE_PID=$CATALOGUE_PID /usr/bin/python3 "$HERE/native_driver.py" "$PROGRAM" "$BASE" "$OUTDIR"
