#!/bin/bash
# The catalogue shared with the household, on two hosts made of network namespaces: the catalogue
# with --share on host A, a client on host B.
#
#   catalogue_share_test.sh CATALOGUE CASE
#
# CASE: share (found, answers, read-only, limits, withdrawn), names (a name taken gets another),
# avahi (announced again after avahi-daemon restarts; without it, said once and served).
set -u
CATALOGUE=$(realpath "$1")
CASE=$2
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/lan_hosts.sh"
lan_require
command -v curl >/dev/null || lan_skip "the LAN tests need curl"
command -v python3 >/dev/null || lan_skip "the LAN tests need python3"
lan_up || exit 1

failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok - $what"
  else
    echo "FAIL - $what"
    failures=$((failures + 1))
  fi
}

# The demo library, made once per run.
LIBRARY=$LAN_DIR/library
"$CATALOGUE" --make-demo "$LIBRARY" >/dev/null || { echo "FAIL - the demo library cannot be made"; exit 1; }

declare -A PIDS
# start_catalogue HOST NAME ARGS...: serves the demo library in HOST; its output goes to
# $LAN_DIR/NAME.out and .err, its process is CATALOGUE_PID, its port CATALOGUE_PORT.
start_catalogue() {
  local host=$1 name=$2
  shift 2
  lan_bg "$host" env XDG_CACHE_HOME="$LAN_DIR/cache-$name" "$CATALOGUE" --library "$LIBRARY" "$@" \
    >"$LAN_DIR/$name.out" 2>"$LAN_DIR/$name.err"
  CATALOGUE_PID=$LAN_PID
  PIDS[$name]=$LAN_PID
  serving_or_ended() { grep -q 'serving' "$LAN_DIR/$name.out" || ! kill -0 "$CATALOGUE_PID"; }
  lan_wait 60 serving_or_ended
  if ! grep -q 'serving' "$LAN_DIR/$name.out"; then
    echo "FAIL - the catalogue $name did not start:"
    cat "$LAN_DIR/$name.out" "$LAN_DIR/$name.err"
    exit 1
  fi
  CATALOGUE_PORT=$(sed -n 's|.*serving [0-9]* songs on http://[^/]*:\([0-9]*\)/.*|\1|p' "$LAN_DIR/$name.out")
}

# stop_catalogue NAME: SIGTERM, and a clean end (exit status 0, no sanitizer report).
stop_catalogue() {
  local pid=${PIDS[$1]} code
  kill -TERM "$pid"
  wait "$pid"
  code=$?
  check "the catalogue $1 ends cleanly on SIGTERM (exit status $code)" \
    bash -c "test $code = 0 && ! grep -q 'Sanitizer\|runtime error' '$LAN_DIR/$1.err'"
}

# The resolved _tessel._tcp services B sees: "name;host;port;txt" a line (the name's escapes,
# \032 for a blank, undone). The address is left out: avahi-browse resolves the host to its A or
# to its AAAA record (the IPv6 link-local address), whichever comes; the A record is checked on
# the wire.
browse() {
  lan_run B avahi-browse -rtp _tessel._tcp 2>/dev/null |
    awk -F';' '$1 == "=" { print $4 ";" $7 ";" $9 ";" $10 }' |
    perl -pe 's/\\(\d{3})/chr($1)/ge' | sort -u
}
browse_has() { browse | grep -qF "$1"; }
browse_lacks() { ! browse | grep -qF "$1"; }

# get HOST URL [curl options]: the body, or nothing when no answer came.
get() {
  local host=$1 url=$2
  shift 2
  lan_run "$host" curl -s --max-time 10 "$@" "$url"
}
status() {
  local host=$1 url=$2
  shift 2
  lan_run "$host" curl -s -o /dev/null -w '%{http_code}' --max-time 10 "$@" "$url"
}

json_field_all() {  # every "url_list" address of a song listing, one a line
  python3 -c 'import json,sys
for s in json.load(sys.stdin)["data"]: print(s["play_url"]["url_list"][0])'
}

all_start_with() {  # all_start_with PREFIX < lines (at least one line)
  local prefix=$1 n=0 line
  while read -r line; do
    n=$((n + 1))
    case $line in "$prefix"*) ;; *) echo "  unexpected address: $line"; return 1 ;; esac
  done
  [ "$n" -gt 0 ]
}

case_share() {
  local A=$LAN_A_ADDR
  # Off by default: a catalogue without --share is neither reachable from B nor announced.
  start_catalogue A private --listen 127.0.0.1:8765
  check "without --share, B cannot connect to A" \
    test "$(status B "http://$A:8765/tessel/music/collections/")" = 000
  sleep 1.5
  check "without --share, nothing is announced" test -z "$(browse)"
  stop_catalogue private

  start_catalogue A shared --share
  check "with --share, the catalogue listens on the default port 8765" test "$CATALOGUE_PORT" = 8765
  check "B finds \"Tessel on A\" with its host, port and both TXT strings" \
    lan_wait 10 browse_has "Tessel on A;A.local;8765;\"path=/tessel/\" \"txtvers=1\""
  check "the log names the announcement" grep -q 'announced on the LAN as "Tessel on A"' "$LAN_DIR/shared.err"
  # What goes on the wire, as a query without Avahi sees it: txtvers=1 first.
  local wire=$LAN_DIR/wire
  wire_complete() {
    lan_run B python3 "$HERE/mdns_query.py" "$LAN_B_ADDR" --wait 0.5 >"$wire" && grep -q '^TXT' "$wire"
  }
  lan_wait 10 wire_complete
  check "a one-shot query gets TXT \"txtvers=1\" \"path=/tessel/\" in that order" \
    grep -qx 'TXT Tessel on A._tessel._tcp.local "txtvers=1" "path=/tessel/"' "$wire"
  check "a one-shot query gets the port and host" \
    grep -qx 'SRV Tessel on A._tessel._tcp.local 8765 A.local' "$wire"
  check "a one-shot query gets the host's IPv4 address" grep -qx "A A.local $A" "$wire"

  local collections
  collections=$(get B "http://$A:8765/tessel/music/collections/")
  check "B lists A's five collections" \
    test "$(printf '%s' "$collections" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["data"]))')" = 5
  local first
  first=$(printf '%s' "$collections" | python3 -c 'import json,sys; print(json.load(sys.stdin)["data"][0]["id_str"])')
  get B "http://$A:8765/tessel/music/collections/$first/songs/" | json_field_all >"$LAN_DIR/urls"
  check "a collection's songs, asked from B, carry A's LAN address" all_start_with "http://$A:8765/media/" <"$LAN_DIR/urls"
  get B "http://$A:8765/tessel/song/search/?q=%E4%B8%AD" -H "Host:" | json_field_all >"$LAN_DIR/urls"
  check "a search from B naming no host gets A's LAN address, not 0.0.0.0" \
    all_start_with "http://$A:8765/media/" <"$LAN_DIR/urls"
  get B "http://$A:8765/tessel/song/search/?q=%E4%B8%AD" -0 -H "Host:" | json_field_all >"$LAN_DIR/urls"
  check "the same over HTTP/1.0" all_start_with "http://$A:8765/media/" <"$LAN_DIR/urls"
  get A "http://127.0.0.1:8765/tessel/song/search/?q=%E4%B8%AD" | json_field_all >"$LAN_DIR/urls"
  check "a search on A's loopback gets 127.0.0.1" all_start_with "http://127.0.0.1:8765/media/" <"$LAN_DIR/urls"
  get A "http://127.0.0.1:8765/tessel/song/search/?q=%E4%B8%AD" -H "Host:" | json_field_all >"$LAN_DIR/urls"
  check "a search on A's loopback naming no host gets 127.0.0.1" \
    all_start_with "http://127.0.0.1:8765/media/" <"$LAN_DIR/urls"
  get B "http://A.local:8765/tessel/song/search/?q=night" --resolve "A.local:8765:$A" | json_field_all >"$LAN_DIR/urls"
  check "a search from B by name gets the name" all_start_with "http://A.local:8765/media/" <"$LAN_DIR/urls"

  # A song downloads whole from B, and is the file in the library.
  local song
  song=$(head -n 1 "$LAN_DIR/urls" | sed 's|http://A.local|http://'"$A"'|')
  get B "$song" -o "$LAN_DIR/song.mp3"
  local size
  size=$(stat -c %s "$LAN_DIR/song.mp3" 2>/dev/null || echo 0)
  check "a song downloads from B ($size bytes), and is one of the library's files" \
    bash -c "find '$LIBRARY' -name '*.mp3' -size ${size}c -exec cmp -s '$LAN_DIR/song.mp3' {} \; -print | grep -q ."

  # Read-only, and nothing outside the library.
  local u
  for u in /etc/passwd /../../../etc/passwd /media/..%2f..%2f..%2fetc%2fpasswd.mp3 \
    /media/%2e%2e/%2e%2e/etc/passwd /media/-1.mp3 /media/1.mp3/../../../etc/passwd \
    /.tessel-catalogue.db /media/; do
    get B "http://$A:8765$u" --path-as-is >"$LAN_DIR/body"
    check "GET $u from B serves nothing ($(status B "http://$A:8765$u" --path-as-is))" \
      bash -c "! grep -q 'root:' '$LAN_DIR/body' && test \"\$(head -c 15 '$LAN_DIR/body')\" = '{\"status_code\":'"
  done
  local method
  for method in PUT POST DELETE PATCH; do
    check "$method from B is refused (405)" \
      test "$(status B "http://$A:8765/tessel/music/collections/" -X "$method" -d x)" = 405
  done

  # The limits on slow and hostile clients hold on the LAN address.
  local held
  held=$(lan_run B bash -c '
    exec 3<>"/dev/tcp/$1/8765" || exit 1
    printf "GET /tessel/music/collections/ HTTP/1.1\r\nHost: A\r\n" >&3
    start=$(date +%s%N)
    timeout 20 cat <&3 >/dev/null
    echo $(( ($(date +%s%N) - start) / 1000000 ))' held "$A")
  check "a request whose headers never end is closed (after ${held} ms; the limit is 5 s)" \
    test -n "$held" -a "${held:-99999}" -lt 12000
  local long
  long=$(printf 'a%.0s' $(seq 1 9000))
  check "an address over 8 KB from B gets 414" \
    test "$(status B "http://$A:8765/tessel/song/search/?q=$long")" = 414
  check "the catalogue still answers B" \
    test "$(status B "http://$A:8765/tessel/music/collections/")" = 200

  # Withdrawn on exit.
  stop_catalogue shared
  check "after SIGTERM B no longer finds \"Tessel on A\"" lan_wait 10 browse_lacks "Tessel on A"
  check "after SIGTERM B cannot connect" test "$(status B "http://$A:8765/tessel/music/collections/")" = 000

  # The setting the user unit reads does what --share does.
  start_catalogue A setting --listen 127.0.0.1:0
  check "TESSEL_CATALOGUE_SHARE unset: loopback only" grep -q 'on http://127.0.0.1:' "$LAN_DIR/setting.out"
  stop_catalogue setting
  TESSEL_CATALOGUE_SHARE=yes start_catalogue A setting
  check "TESSEL_CATALOGUE_SHARE=yes: B finds and reaches A" \
    lan_wait 10 browse_has "Tessel on A;A.local;8765;"
  check "TESSEL_CATALOGUE_SHARE=yes: B gets an answer" \
    test "$(status B "http://$A:8765/tessel/music/collections/")" = 200
  stop_catalogue setting
}

case_names() {
  local A=$LAN_A_ADDR
  # Another machine already announces "Tessel on A".
  lan_bg B avahi-publish -s "Tessel on A" _tessel._tcp 9999 txtvers=1 path=/tessel/ 2>/dev/null
  local publisher=$LAN_PID
  lan_wait 10 browse_has "Tessel on A;B.local;" || echo "  (B's own announcement did not show)"
  start_catalogue A first --share
  check "a name taken on the LAN is announced under another: \"Tessel on A #2\"" \
    lan_wait 15 browse_has "Tessel on A #2;A.local;8765;"
  check "the log says the name was taken and the new one" \
    grep -q 'the name "Tessel on A" is taken on the LAN: announcing as "Tessel on A #2"' "$LAN_DIR/first.err"
  # A second catalogue on the same host, through the setting, another port: a third name.
  TESSEL_CATALOGUE_SHARE=yes start_catalogue A second --listen 127.0.0.1:8766
  second_found() { browse | grep -F ";A.local;8766;" | grep -q .; }
  check "a second catalogue on A, shared through the setting, is found" lan_wait 15 second_found
  browse | sed 's/^/  /'
  local names
  names=$(browse | grep -F ";A.local;" | cut -d';' -f1 | sort -u | wc -l)
  check "A's two catalogues have two different names" test "$names" = 2
  check "and B's own service keeps its name" browse_has "Tessel on A;B.local;9999;"
  stop_catalogue first
  check "the first one stopped, its name is withdrawn" lan_wait 10 browse_lacks "Tessel on A #2;"
  check "and the second one's stays" second_found
  stop_catalogue second
}

# serves_and_says_once NAME PORT WHAT: the catalogue NAME answers B on PORT, and its log names
# avahi-daemon once, however long it runs.
serves_and_says_once() {
  check "$3, the catalogue serves B" \
    test "$(status B "http://$LAN_A_ADDR:$2/tessel/music/collections/")" = 200
  sleep 2
  check "$3, the log says so, once" test "$(grep -c 'avahi-daemon' "$LAN_DIR/$1.err")" = 1
  grep 'avahi' "$LAN_DIR/$1.err" | sed 's/^/  /'
}

case_avahi() {
  local A=$LAN_A_ADDR
  start_catalogue A shared --share
  check "announced at start" lan_wait 10 browse_has "Tessel on A;A.local;8765;"
  lan_avahi_stop A
  check "with A's avahi-daemon stopped, B no longer finds A" lan_wait 10 browse_lacks "Tessel on A"
  check "and the catalogue still answers B" \
    test "$(status B "http://$A:8765/tessel/music/collections/")" = 200
  lan_avahi_start A
  check "after avahi-daemon starts again on A, B finds \"Tessel on A\" again" \
    lan_wait 15 browse_has "Tessel on A;A.local;8765;\"path=/tessel/\" \"txtvers=1\""
  lan_avahi_restart A
  check "and after a restart in one go" lan_wait 15 browse_has "Tessel on A;A.local;8765;"
  stop_catalogue shared

  # No avahi-daemon at start: said once, served, announced once it comes.
  lan_avahi_stop A
  start_catalogue A alone --share
  serves_and_says_once alone 8765 "without avahi-daemon"
  lan_avahi_start A
  check "avahi-daemon started later: the catalogue is announced" \
    lan_wait 15 browse_has "Tessel on A;A.local;8765;"
  stop_catalogue alone

  # No system bus at all: said once, served.
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=$LAN_DIR/no-bus start_catalogue A nobus --share --listen 127.0.0.1:8767
  serves_and_says_once nobus 8767 "without a system bus"
  stop_catalogue nobus
}

case $CASE in
  share) case_share ;;
  names) case_names ;;
  avahi) case_avahi ;;
  *) echo "no case $CASE"; exit 2 ;;
esac
[ "$failures" = 0 ] || { echo "$failures checks failed"; exit 1; }
echo "all checks passed"
