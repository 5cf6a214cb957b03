#!/usr/bin/env bash
# The native tessel on host B, whose bc.ini names no catalogue and where none serves locally:
# with no catalogue anywhere it says so; once host A shares its library (tessel-catalogue
# --share, announced through A's avahi-daemon) a search finds it, and the next start shows A's
# tags, searches A and downloads from A. Driven through AT-SPI by tests/e2e/native_driver.py
# --lan, which asks for A's catalogue by a file in OUTDIR when it wants it.
# native_on_lan_test.sh PROGRAM CATALOGUE OUTDIR. Exit 77 where it cannot run.
set -u
PROGRAM="$1" CATALOGUE="$2" OUTDIR="$3"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
E2E="$HERE/../e2e"
. "$HERE/lan_hosts.sh"
lan_require
command -v node >/dev/null || lan_skip "node is missing"

rm -rf "$OUTDIR"
mkdir -p "$OUTDIR"
"$CATALOGUE" --make-demo "$OUTDIR/library" >/dev/null || { echo "FAIL: no demo library"; exit 1; }
lan_up || exit 1

CATALOGUE_PID=""
lan_run B bash "$E2E/native_session.sh" /usr/bin/python3 "$E2E/native_driver.py" --lan \
  "$PROGRAM" "http://$LAN_A_ADDR:8765" "$OUTDIR" &
DRIVER=$!
while kill -0 "$DRIVER" 2>/dev/null; do
  if [ -z "$CATALOGUE_PID" ] && [ -e "$OUTDIR/start-catalogue" ]; then
    lan_bg A "$CATALOGUE" --library "$OUTDIR/library" --db "$OUTDIR/catalogue.db" --share \
      >"$OUTDIR/catalogue.log" 2>&1
    CATALOGUE_PID=$LAN_PID
    # Ready once B's avahi-daemon resolves the announcement.
    if lan_wait 30 lan_run B sh -c 'avahi-browse -rtp _tessel._tcp | grep -q "path=/tessel/"'; then
      touch "$OUTDIR/catalogue-started"
    else
      echo "FAIL: host A's catalogue was not announced: $(cat "$OUTDIR/catalogue.log")"
    fi
  fi
  sleep 0.2
done
wait "$DRIVER"
