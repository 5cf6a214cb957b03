# shellcheck shell=bash
# What the builds release: dist/win32/ with dist/Tessel-win32.zip, and dist/linux/ with the
# Debian package.

# The release: the program and the libraries that sit beside it.
RELEASE_FILES=(Tessel.exe basalt.fnr facet.fnr ferry.fnr vestry.fnr)

# dist/win32/ holds the release files (a bc.ini the program wrote there stays), and
# dist/Tessel-win32.zip the same files in a folder Tessel/, to unpack and run on Windows.
lay_out_release() {
  local dist="$ROOT/dist/win32" stage="$BUILD/release/Tessel" f changed=0
  mkdir -p "$dist" "$stage"
  for f in "${RELEASE_FILES[@]}"; do
    [ -f "$BUILD/win32/bin/$f" ] || die "build/win32/bin/$f was not built"
    if [ ! -f "$dist/$f" ] || [ "$BUILD/win32/bin/$f" -nt "$dist/$f" ]; then
      # Released without the debugging information the build trees keep.
      i686-w64-mingw32-strip --strip-debug -o "$dist/$f" "$BUILD/win32/bin/$f"
      changed=1
    fi
  done
  if [ "$changed" = 1 ] || [ ! -f "$ROOT/dist/Tessel-win32.zip" ]; then
    rm -rf "$stage" "$ROOT/dist/Tessel-win32.zip"
    mkdir -p "$stage"
    for f in "${RELEASE_FILES[@]}"; do cp "$dist/$f" "$stage/$f"; done
    (cd "$(dirname "$stage")" && cmake -E tar cf "$ROOT/dist/Tessel-win32.zip" --format=zip Tessel)
  fi
  log "release: dist/win32/ and dist/Tessel-win32.zip"
}

# dist/linux/ holds the native program, the catalogue, a .desktop entry and the icon; CPack
# makes dist/tessel_<version>_amd64.deb of the same files, checked by lintian.
lay_out_native_release() {
  local dist="$ROOT/dist/linux" native="$BUILD/native"
  [ -x "$native/tessel" ] || { log "no native program (Qt 6 missing?): dist/linux/ not made"; return 0; }
  local deb
  deb=$(ls -t "$ROOT"/dist/tessel_*_amd64.deb 2>/dev/null | head -1 || true)
  if [ -n "$deb" ]; then
    # Up to date when newer than everything that goes into it.
    local input stale=0
    for input in "$native/tessel" "$native/catalogue/tessel-catalogue" "$native"/native_program/*.1.gz \
      "$ROOT"/native_program/package/*; do
      [ "$deb" -nt "$input" ] || stale=1
    done
    [ "$stale" = 1 ] || return 0
  fi
  mkdir -p "$dist"
  strip --strip-debug -o "$dist/tessel" "$native/tessel"
  strip --strip-debug -o "$dist/tessel-catalogue" "$native/catalogue/tessel-catalogue"
  cp "$ROOT/native_program/package/tessel.desktop" "$dist/tessel.desktop"
  cp "$native/image/generated/tessel.png" "$dist/tessel.png"
  (cd "$native" && quietly "packing the Debian package" cpack -G DEB -B "$ROOT/dist") || die "cpack failed"
  rm -rf "$ROOT/dist/_CPack_Packages"
  deb=$(ls -t "$ROOT"/dist/tessel_*_amd64.deb | head -1)
  if command -v lintian >/dev/null; then
    # Its notes at the "info" level are advice; an error or a warning is a fault of the package.
    lintian --fail-on error,warning "$deb" >"$BUILD/lintian.log" 2>&1 ||
      { cat "$BUILD/lintian.log" >&2; die "lintian finds errors or warnings in ${deb#"$ROOT"/}"; }
  fi
  log "release: dist/linux/ and ${deb#"$ROOT"/}"
}
