#!/usr/bin/env bash
# The native programs' command lines as a Linux user meets them, with no display: --help and
# --version answer on standard output with exit code 0, anything else tessel does not take is
# refused on standard error with exit code 2, and every option --help names is in the manual
# page (and the other way round), which renders without a warning.
# command_line_test.sh TESSEL CATALOGUE MANDIR
set -u
TESSEL="$1" CATALOGUE="$2" MANDIR="$3"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run NAME PROGRAM ARGS...: stdout, stderr and the exit code into $OUT/NAME.{out,err,rc}
run() {
  local name="$1"
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$@" \
    >"$OUT/$name.out" 2>"$OUT/$name.err"
  echo $? >"$OUT/$name.rc"
}
expect() {  # expect NAME RC STDOUT-PATTERN|"" STDERR-PATTERN|""
  local name="$1" rc="$2" out="$3" err="$4"
  [ "$(cat "$OUT/$name.rc")" = "$rc" ] || fail "$name: exit code $(cat "$OUT/$name.rc"), wanted $rc"
  if [ -n "$out" ]; then
    grep -Eq -- "$out" "$OUT/$name.out" || fail "$name: no '$out' on stdout: $(head -c 300 "$OUT/$name.out")"
  else
    [ ! -s "$OUT/$name.out" ] || fail "$name: stdout should be empty: $(head -c 300 "$OUT/$name.out")"
  fi
  if [ -n "$err" ]; then
    grep -Eq -- "$err" "$OUT/$name.err" || fail "$name: no '$err' on stderr: $(head -c 300 "$OUT/$name.err")"
  else
    [ ! -s "$OUT/$name.err" ] || fail "$name: stderr should be empty: $(head -c 300 "$OUT/$name.err")"
  fi
}

run help "$TESSEL" --help
expect help 0 '^Usage: tessel ' ''
for wanted in '--version' 'XDG_CONFIG_HOME/tessel/bc\.ini' '~/\.config/tessel/bc\.ini' '127\.0\.0\.1:8765' '主机'; do
  grep -Eq -- "$wanted" "$OUT/help.out" || fail "tessel --help does not mention $wanted"
done
run short_help "$TESSEL" -h
cmp -s "$OUT/help.out" "$OUT/short_help.out" || fail "tessel -h differs from --help"
run version "$TESSEL" --version
expect version 0 '^tessel [0-9]+\.[0-9]+\.[0-9]+$' ''
run unknown "$TESSEL" --frobnicate
expect unknown 2 '' "^tessel: .*'--frobnicate'"
run argument "$TESSEL" song.mp3
expect argument 2 '' "'song\.mp3'"
run extra "$TESSEL" --help more
expect extra 2 '' "'more'"

run catalogue_help "$CATALOGUE" --help
expect catalogue_help 0 '^usage: tessel-catalogue ' ''
run catalogue_version "$CATALOGUE" --version
expect catalogue_version 0 '^tessel-catalogue [0-9]+\.[0-9]+\.[0-9]+$' ''
run catalogue_wrong "$CATALOGUE" --frobnicate
expect catalogue_wrong 2 '' '^usage: tessel-catalogue '

# The long options a text names, sorted: from --help's output, or from a manual page's source
# (written there as \-\-name).
options_of_help() { grep -Eo -- '--[a-z][a-z-]*' "$1" | sort -u; }
options_of_page() { grep -Eo -- '\\-\\-[a-z][a-z\\-]*' "$1" | sed 's/\\-/-/g' | sort -u; }
for pair in "tessel:help" "tessel-catalogue:catalogue_help"; do
  page="$MANDIR/${pair%%:*}.1" help="$OUT/${pair#*:}.out"
  [ -f "$page" ] || { fail "no manual page $page"; continue; }
  if [ "$(options_of_help "$help")" != "$(options_of_page "$page")" ]; then
    fail "${pair%%:*}: --help names $(options_of_help "$help" | tr '\n' ' '), the manual page $(options_of_page "$page" | tr '\n' ' ')"
  fi
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
  fi
done

[ "$failures" = 0 ] || exit 1
echo "PASS: tessel and tessel-catalogue on the command line"
