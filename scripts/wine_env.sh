# shellcheck shell=bash
# The Wine prefix the Windows program and its tests run in, and the Wine session kept alive for
# a run.

setup_wine_env() {
  export WINEPREFIX="$BUILD/win32/wineprefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEARCH=win32
  export LC_ALL=C.UTF-8
  if [ ! -f "$WINEPREFIX/.tessel-ready" ]; then
    log "creating the Wine prefix ${WINEPREFIX#"$ROOT"/} (about a minute, once)"
    mkdir -p "$WINEPREFIX"
    quietly "creating the Wine prefix" \
      env WINEDLLOVERRIDES="mscoree=d;mshtml=d" timeout 300 wineboot -u || true
    quietly "creating the Wine prefix" timeout 120 wineserver -w || true
    # Chinese in title bars and default fonts: link the usual UI fonts to the CJK font.
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    local face
    for face in Tahoma "DejaVu Sans" "MS Shell Dlg" "MS Shell Dlg 2"; do
      wine reg add "$key" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f \
        >/dev/null 2>&1
    done
    # One plain start and a full stop, so the first test does not meet a prefix still settling.
    timeout 120 wine cmd /c exit >/dev/null 2>&1 || true
    timeout 120 wineserver -w || wineserver -k || true
    touch "$WINEPREFIX/.tessel-ready"
  fi
  setup_wine_fonts
}

# The program asks for SimSun, which Wine lacks. Its fallback reaches the CJK font only through
# font linking, which the edit control does not use (Chinese typed into the search box shows as
# boxes); naming the CJK font as SimSun's replacement serves every control directly. Wine's own
# symbol font draws the title-bar buttons (without it they show as the letters "0 1 r").
setup_wine_fonts() {
  local marlett=/usr/share/wine/fonts/marlett.ttf fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f "$marlett" ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts"
    cp "$marlett" "$fonts/marlett.ttf"
  fi
  [ -f "$WINEPREFIX/.tessel-fonts" ] && return 0
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ \
    /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.tessel-fonts"
}

# Keep one Wine session alive for the whole run. Its system processes (services.exe and friends)
# inherit the standard handles of whoever starts them first: start them here, on /dev/null, or
# they hold a test's output pipe open and its runner waits for ever.
start_wine_services() {
  wineserver -p >/dev/null 2>&1 || true
  timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

