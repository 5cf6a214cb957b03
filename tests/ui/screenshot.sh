#!/usr/bin/env bash
# screenshot.sh FILE.png: writes a PNG of the whole X screen named by DISPLAY.
# Under Xvfb there is no window manager, so windows have no title bar; a program started with
# `wine explorer /desktop=NAME,1024x768 program.exe` gets one drawn by Wine (and the driver then
# needs `--desktop NAME`).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 FILE.png" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "screenshot.sh: DISPLAY is not set" >&2; exit 1; }
if command -v import >/dev/null 2>&1; then
  timeout 30 import -window root "$1"
else
  timeout 30 xwd -root -silent | timeout 30 convert xwd:- "$1"
fi
