# shellcheck shell=bash
# The three build trees, each configured once and then built incrementally.

# configure DIR ARGS...: configure once; later builds only rebuild what changed.
configure() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    log "configuring ${dir#"$ROOT"/}"
    quietly "configuring ${dir#"$ROOT"/}" \
      cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
}

# build_native [TARGET...]: the whole native tree, or only the targets named.
build_native() {
  configure "$BUILD/native"
  if [ $# -gt 0 ]; then
    log "building build/native: $*"
    cmake --build "$BUILD/native" -j "$JOBS" --target "$@"
  else
    log "building build/native: host tools, the catalogue, native tests"
    cmake --build "$BUILD/native" -j "$JOBS"
  fi
}

build_sanitize() {
  configure "$BUILD/sanitize" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTESSEL_SANITIZE=ON -DTESSEL_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug
  log "building build/sanitize: native tests with sanitizers"
  cmake --build "$BUILD/sanitize" -j "$JOBS"
}

build_win32() {
  configure "$BUILD/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake"
  log "building build/win32: Tessel.exe, its runtime libraries, Windows tests"
  cmake --build "$BUILD/win32" -j "$JOBS"
  lay_out_release
}

build_all() {
  ensure_deps
  build_native
  lay_out_native_release
  build_win32
}

cmd_build() {
  build_all
}
