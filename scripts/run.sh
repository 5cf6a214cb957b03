# shellcheck shell=bash
# ./tessel run: the native program, or Tessel.exe under Wine, against the catalogue serving a demo
# library or the user's own; without a display, a demo search and its screenshot.

TITLE="Tessel音乐搜索下载器"
CATALOGUE_PID=""
PROGRAM_PID=""
# tessel-catalogue's exit status when the address it is to listen on is taken.
CATALOGUE_PORT_TAKEN=3

stop_run() {
  if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
    kill "$PROGRAM_PID" 2>/dev/null || true
  fi
  if [ -n "$CATALOGUE_PID" ]; then
    kill "$CATALOGUE_PID" 2>/dev/null || true
    wait "$CATALOGUE_PID" 2>/dev/null || true
  fi
  stop_services
}

# start_catalogue LIBRARY DB LOG: serves LIBRARY on the program's default address, or on a free
# port when that one is taken; sets CATALOGUE_PID and CATALOGUE_HOST (host:port).
start_catalogue() {
  local library="$1" db="$2" out="$3" listen seconds line status
  CATALOGUE_HOST=""
  # On a port in use the catalogue ends at once with status CATALOGUE_PORT_TAKEN ("cannot
  # listen ...: address already in use"); then it takes a free port.
  local addresses=(127.0.0.1:8765 127.0.0.1:0)
  for listen in "${addresses[@]}"; do
    # Emptied here, not only by the catalogue's redirection: until the catalogue has opened it,
    # the "serving" line of an earlier start must not be read as this one's.
    : >"$out"
    "$BUILD/native/catalogue/tessel-catalogue" --library "$library" --db "$db" --listen "$listen" \
      </dev/null >"$out" 2>&1 &
    CATALOGUE_PID=$!
    seconds=0
    # Indexing a large library takes a while at the first start.
    while kill -0 "$CATALOGUE_PID" 2>/dev/null; do
      line=$(grep -m1 '^tessel-catalogue: serving ' "$out" 2>/dev/null || true)
      if [ -n "$line" ]; then
        CATALOGUE_HOST=$(sed -nE 's#.* on http://([^/]+)/.*#\1#p' <<<"$line")
        log "tessel-catalogue serves $(sed -nE 's/.*serving ([0-9]+) songs.*/\1/p' <<<"$line") songs of ${library} on http://$CATALOGUE_HOST/"
        return 0
      fi
      sleep 0.2
      seconds=$((seconds + 1))
      [ $((seconds % 50)) != 0 ] || log "the catalogue is indexing $library ($((seconds / 5)) s)"
    done
    status=0
    wait "$CATALOGUE_PID" 2>/dev/null || status=$?
    CATALOGUE_PID=""
    [ "$status" = "$CATALOGUE_PORT_TAKEN" ] || break
    log "127.0.0.1:8765 is taken: the catalogue takes a free port"
  done
  cat "$out" >&2
  die "the catalogue did not start"
}

# set_api_host INI HOST: the program's settings file names HOST in section 服务, key 主机 (GBK,
# CR LF), or names none when HOST is the program's default address. Other entries stay.
set_api_host() {
  local ini="$1" host="$2" section kept=""
  section=$(printf '[服务]' | iconv -f UTF-8 -t GBK)
  if [ -f "$ini" ]; then
    kept=$(LC_ALL=C awk -v section="$section" '
      { line = $0; sub(/\r$/, "", line) }
      line ~ /^\[/ { skip = (line == section) }
      !skip { print }' "$ini")
  fi
  {
    [ -z "$kept" ] || printf '%s\n' "$kept"
    [ "$host" = 127.0.0.1:8765 ] || printf '[服务]\r\n主机=%s\r\n' "$host" | iconv -f UTF-8 -t GBK
  } >"$ini.new"
  if [ -s "$ini.new" ]; then mv "$ini.new" "$ini"; else rm -f "$ini.new" "$ini"; fi
}

# On a virtual display: the program on a desktop of its own (Wine draws the title bar there), a
# search for 中 as a user would make it, a screenshot of the filled window, and the end.
run_demo_search() {
  local program="$1" shot="$2" driver="$BUILD/win32/tests/ui/tessel-ui-driver.exe"
  local desktop="tessel-run-$$" out
  drive() { timeout 60 wine "$driver" --desktop "$desktop" --timeout-ms 30000 "$@" </dev/null 2>&1; }
  wine explorer "/desktop=$desktop,1024x768" "$program" </dev/null >/dev/null 2>&1 &
  PROGRAM_PID=$!
  drive wait-window --title "$TITLE" >/dev/null || die "the program's window did not appear"
  log "demo: searching for 中"
  drive set-text --title "$TITLE" --class Edit 中 >/dev/null
  drive click --title "$TITLE" --class Button --text 搜索 >/dev/null
  drive wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索完成" >/dev/null ||
    log "the search did not finish: the screenshot shows how far it came"
  out=$(drive dump --title "$TITLE" | tr -d '\r')
  log "demo: $(sed -nE 's/^rows count=//p' <<<"$out") songs listed for 中"
  "$ROOT/tests/ui/screenshot.sh" "$shot" || die "no screenshot"
  # The program's desktop only, not the rest of the virtual screen.
  convert "$shot" -crop 1024x768+0+0 +repage "$shot" 2>/dev/null || true
  log "screenshot of the window after the search: ${shot#"$ROOT"/}"
  drive close --title "$TITLE" --wait-exit >/dev/null || true
  wait "$PROGRAM_PID" 2>/dev/null || true
  PROGRAM_PID=""
}

# run_native LIBRARY DB: the native program against the catalogue, its settings in the build
# tree (the user's own ~/.config/tessel stays as it is); without a display it runs in a desktop
# session of its own, searches 中 and writes the screenshot.
run_native() {
  local library="$1" db="$2" run="$BUILD/run" program="$BUILD/native/tessel"
  [ -x "$program" ] || die "the native program was not built (Qt 6 missing?)"
  trap stop_run EXIT
  start_catalogue "$library" "$db" "$run/catalogue.log"
  export XDG_CONFIG_HOME="$run/config"
  mkdir -p "$XDG_CONFIG_HOME/tessel"
  set_api_host "$XDG_CONFIG_HOME/tessel/bc.ini" "$CATALOGUE_HOST"
  if [ -z "${DISPLAY:-}" ]; then
    log "no display: the native tessel runs on a virtual one for a demo search"
    bash "$ROOT/tests/e2e/native_session.sh" /usr/bin/python3 "$ROOT/tests/e2e/native_driver.py" \
      --demo "$program" "$XDG_CONFIG_HOME" "$run/tessel-run.png" || die "the demo search failed"
    log "screenshot of the window after the search: build/run/tessel-run.png"
  else
    log "the native tessel (build/native/tessel, Qt $(qtpaths6 --qt-version 2>/dev/null || echo 6)) runs on display $DISPLAY; close its window to end"
    "$program" </dev/null || true
  fi
  log "the catalogue stops"
}

cmd_run() {
  local library="" front=native
  while [ $# -gt 0 ]; do
    case "$1" in
      --library)
        [ $# -ge 2 ] || die "usage: ./tessel run [--library DIR] [--native | --wine]"
        library="$(cd "$2" 2>/dev/null && pwd)" || die "no such folder: $2"
        shift 2 ;;
      --native) front=native; shift ;;
      --wine) front=wine; shift ;;
      *) die "usage: ./tessel run [--library DIR] [--native | --wine]" ;;
    esac
  done
  if [ "$front" = native ]; then
    log "running the native Linux program (./tessel run --wine runs Tessel.exe under Wine)"
    ensure_deps native
    build_native tessel tessel-catalogue
    local native_db="$BUILD/demo-library.db"
    if [ -z "$library" ]; then
      library="$BUILD/demo-library"
      [ -d "$library" ] || quietly "making the demo library" \
        "$BUILD/native/catalogue/tessel-catalogue" --make-demo "$library"
    else
      native_db="$BUILD/run/library-$(printf '%s' "$library" | md5sum | cut -c1-12).db"
    fi
    mkdir -p "$BUILD/run"
    run_native "$library" "$native_db"
    return
  fi
  log "running Tessel.exe under Wine"
  # Said before anything is built: a machine that cannot run 32-bit programs installs nothing.
  runs_32bit || die "Tessel.exe cannot start here: it is a 32-bit Windows program run by Wine, and $(no_32bit_reason)"
  ensure_packages
  local reason
  if reason=$(wine_unavailable); then
    die "Tessel.exe cannot start here: $reason (./tessel run runs the native program, which needs no Wine)"
  fi
  build_all
  local catalogue="$BUILD/native/catalogue/tessel-catalogue" program="$ROOT/dist/win32/Tessel.exe"
  local run="$BUILD/run" db
  mkdir -p "$run"
  if [ -z "$library" ]; then
    library="$BUILD/demo-library"
    db="$BUILD/demo-library.db"
    if [ ! -d "$library" ]; then
      log "making the demo library in ${library#"$ROOT"/}"
      quietly "making the demo library" "$catalogue" --make-demo "$library"
    fi
  else
    # The index of a library of the user's lives in the build tree, not in their folder.
    db="$run/library-$(printf '%s' "$library" | md5sum | cut -c1-12).db"
  fi
  local headless=0
  [ -n "${DISPLAY:-}" ] || headless=1
  trap stop_run EXIT
  start_catalogue "$library" "$db" "$run/catalogue.log"
  set_api_host "$ROOT/dist/win32/bc.ini" "$CATALOGUE_HOST"
  start_display
  setup_audio if-no-card
  setup_wine_env
  start_wine_services
  if [ "$headless" = 1 ]; then
    log "no display: Tessel.exe runs on a virtual one ($DISPLAY) for a demo search"
    run_demo_search "$program" "$run/tessel-run.png"
  else
    log "Tessel.exe (dist/win32/) runs under $(wine --version) on display $DISPLAY; close its window to end"
    (cd "$ROOT/dist/win32" && wine Tessel.exe </dev/null) || true
  fi
  log "the catalogue stops"
}
