# shellcheck shell=bash
# What a run of the Windows program or its tests needs besides Wine: a silent sound device, a
# virtual display where there is none, and their end with the run.

# Give Wine's ALSA driver a default device that discards sound, so the media player control can
# play (and report its states) with no sound card. Tests always use it; `run` only when the
# machine has no sound card.
setup_audio() {
  if [ "${1:-}" = if-no-card ] && [ -e /proc/asound/cards ] &&
    ! grep -q 'no soundcards' /proc/asound/cards; then
    return 0
  fi
  local conf="$BUILD/win32/alsa/asound.conf"
  if [ ! -f "$conf" ]; then
    mkdir -p "$(dirname "$conf")"
    printf 'pcm.!default {\n    type null\n}\nctl.!default {\n    type hw\n    card 0\n}\n' >"$conf"
  fi
  export ALSA_CONFIG_PATH="$conf"
}

XVFB_PID=""
start_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  local n=91
  while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
  die "Xvfb did not start"
}

stop_services() {
  guest_stage_end
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
