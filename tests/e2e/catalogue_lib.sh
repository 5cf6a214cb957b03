# Shared by the end-to-end tests that run the program against tessel-catalogue. The caller sets
# CATALOGUE, PROGRAM and OUTDIR and sources driver_lib.sh, then this file.

# start_catalogue [LIBRARY]: LIBRARY (by default the demo library, made once under OUTDIR) served
# on a free port of 127.0.0.1; sets BASE (http://127.0.0.1:PORT) and HOST (127.0.0.1:PORT).
# Stopped when the test exits.
CATALOGUE_PID=""
stop_catalogue() {
  if [ -n "$CATALOGUE_PID" ]; then kill "$CATALOGUE_PID" 2>/dev/null; wait "$CATALOGUE_PID" 2>/dev/null; fi
  CATALOGUE_PID=""
}
trap 'cleanup; stop_catalogue' EXIT
start_catalogue() {
  mkdir -p "$OUTDIR"
  local library="${1:-$OUTDIR/demo-library}"
  if [ -z "${1:-}" ] && [ ! -d "$library" ]; then
    "$CATALOGUE" --make-demo "$library" >/dev/null || { echo "no demo library"; exit 1; }
  fi
  "$CATALOGUE" --library "$library" --db "$OUTDIR/catalogue.db" --listen 127.0.0.1:0 \
    >"$OUTDIR/catalogue.log" 2>&1 &
  CATALOGUE_PID=$!
  BASE=""
  # Indexing a large library on a busy machine takes a while.
  for _ in $(seq 600); do
    BASE=$(sed -nE 's#.*serving .* on (http://127\.0\.0\.1:[0-9]+)/.*#\1#p' "$OUTDIR/catalogue.log")
    [ -n "$BASE" ] && break
    sleep 0.1
  done
  [ -n "$BASE" ] || { echo "the catalogue did not start: $(cat "$OUTDIR/catalogue.log")"; exit 1; }
  HOST=${BASE#http://}
}

# copy_program: PROGRAM with the runtime library beside it in APP (OUTDIR/program, made afresh),
# with a settings file naming the catalogue (GBK), so that tests run side by side never share one.
copy_program() {
  APP="$OUTDIR/program"
  rm -rf "$APP"
  mkdir -p "$APP"
  local bin
  bin="$(dirname "$PROGRAM")"
  cp "$PROGRAM" "$bin"/basalt.fnr "$bin"/facet.fnr "$bin"/ferry.fnr "$bin"/vestry.fnr "$APP"/
  printf '[服务]\r\n主机=%s\r\n' "$HOST" | iconv -f UTF-8 -t GBK >"$APP/bc.ini"
}

# make_large_song LIBRARY: the demo library in LIBRARY/demo and one large song, LIBRARY/large/
# 巨大的歌.mp3 (a demo song's MPEG frames without its tags, repeated to 400 MB, so that the
# catalogue can be stopped while it is being sent); both made once. Sets LARGE.
make_large_song() {
  local library="$1"
  [ -d "$library/demo" ] || "$CATALOGUE" --make-demo "$library/demo" >/dev/null ||
    { echo "no demo library"; exit 1; }
  LARGE="$library/large/巨大的歌.mp3"
  if [ ! -f "$LARGE" ]; then
    mkdir -p "$library/large"
    node "$HERE/large_song.mjs" "$(find "$library/demo" -name '*.mp3' | head -1)" "$LARGE" 400 ||
      { echo "no large song"; exit 1; }
  fi
}

# make_collections_library LIBRARY COUNT: COUNT collections 合集001… (one demo song copied into
# each folder), made once under LIBRARY; the demo library it copies from goes beside it.
make_collections_library() {
  local library="$1" count="$2" demo song
  [ -f "$library/.made" ] && return
  demo="$(dirname "$library")/demo-library"
  [ -d "$demo" ] || "$CATALOGUE" --make-demo "$demo" >/dev/null || { echo "no demo library"; exit 1; }
  song=$(find "$demo" -name '*.mp3' | sort | head -1)
  rm -rf "$library"
  for i in $(seq -w 1 "$count"); do
    mkdir -p "$library/合集$i"
    cp "$song" "$library/合集$i/"
  done
  touch "$library/.made"
}
