#!/usr/bin/env bash
# native_session.sh CMD...: runs CMD in a desktop session of its own, as the native program's
# black-box driving needs it: a fresh D-Bus session, Xvfb on a free display and the
# accessibility bus. Everything it started ends with it. Exit 77 when a tool is missing.
set -u
for tool in Xvfb dbus-run-session dbus-send xdotool xclip import; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no pyatspi"; exit 77; }

if [ "${1:-}" != --inside ]; then
  exec dbus-run-session -- bash "${BASH_SOURCE[0]}" --inside "$@" 2> >(grep -v '^dbus-daemon' >&2)
fi
shift
XVFB_PID=""
trap '[ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null; wait 2>/dev/null' EXIT
# A display number nobody holds.
for n in $(seq 80 160); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { DISPLAY_NUMBER=$n; break; }
done
Xvfb ":$DISPLAY_NUMBER" -noreset -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
dbus-update-activation-environment DISPLAY="$DISPLAY" >/dev/null 2>&1
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
  >/dev/null || { echo "no accessibility bus"; exit 1; }
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
"$@"
