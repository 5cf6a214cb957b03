#!/usr/bin/env bash
# ferry's throughput for a 200 MB file from the catalogue, natively and under Wine, beside the
# curl command's (all writing to disk) and WebRequest's; and ferry's memory growth over the idle
# figure. Not a test. Run after ./tessel build (it uses the Wine prefix that ./tessel test makes):
#   tests/ferry/ferry_bench.sh
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build"
WORK="$BUILD/ferry-bench"
export WINEPREFIX="${WINEPREFIX:-$BUILD/win32/wineprefix}" WINEDEBUG=-all WINEARCH=win32 LC_ALL=C.UTF-8

mkdir -p "$WORK/library" "$WORK/out"
# Any bytes do: the catalogue serves every .mp3 file it finds, tagged or not.
if [ ! -f "$WORK/library/big.mp3" ]; then
  head -c $((200 * 1000 * 1000)) /dev/urandom >"$WORK/library/big.mp3"
fi
"$BUILD/native/catalogue/tessel-catalogue" --library "$WORK/library" --db "$WORK/index.db" \
  --listen 127.0.0.1:0 >"$WORK/catalogue.log" 2>&1 &
CATALOGUE=$!
trap 'kill $CATALOGUE 2>/dev/null || true; wineserver -k >/dev/null 2>&1 || true' EXIT
# Indexing a new or changed file takes a while: up to a minute.
for _ in $(seq 600); do grep -q "serving" "$WORK/catalogue.log" && break; sleep 0.1; done
BASE=$(grep -o 'http://[0-9.:]*' "$WORK/catalogue.log" | head -n 1)
URL=$(curl -s --noproxy '*' "$BASE/tessel/song/search/?q=big" | grep -o 'http://[^"]*\.mp3' | head -n 1)
[ -n "$URL" ] || { echo "the catalogue did not list the file" >&2; exit 1; }
echo "file: $URL ($(stat -c %s "$WORK/library/big.mp3") bytes)"

# One Wine session for all rounds, its system processes started before the first one, so they
# do not compete with a measurement.
wineserver -p >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# The machine is shared: a few rounds, each program right after the other, show the spread.
# Each starts with the page cache written back, so neither pays for the other's file.
FOLDER=$(winepath -w "$WORK/out")
for round in $(seq "${ROUNDS:-3}"); do
  echo "round $round"
  sync
  curl -s --noproxy '*' -o "$WORK/out/curl.mp3" -w '%{size_download} %{time_total}\n' "$URL" |
    awk '{ printf "%-24s %9.1f MB in %6.2f s = %7.1f MB/s\n", "curl command (to disk)", $1 / 1048576, $2, $1 / 1048576 / $2 }'
  rm -f "$WORK/out/curl.mp3"
  sync
  # ferry flushes its file to the disk before it names it; curl does not. The same with a flush:
  start=$(date +%s.%N)
  curl -s --noproxy '*' -o "$WORK/out/curl.mp3" "$URL"
  sync "$WORK/out/curl.mp3"
  awk -v s="$start" -v e="$(date +%s.%N)" -v b="$(stat -c %s "$WORK/out/curl.mp3")" \
    'BEGIN { printf "%-24s %9.1f MB in %6.2f s = %7.1f MB/s\n", "curl command + flush", b / 1048576, e - s, b / 1048576 / (e - s) }'
  rm -f "$WORK/out/curl.mp3"
  sync
  echo "native:"
  "$BUILD/native/tests/ferry/ferry_bench" "$URL" "$WORK/out"
  sync
  echo "under Wine:"
  # To a file, not a pipe: Wine's helper processes would hold a pipe open.
  wine "$BUILD/win32/tests/ferry/ferry_bench.exe" "$URL" "$FOLDER" >"$WORK/wine.out" 2>&1 </dev/null
  tr -d '\r' <"$WORK/wine.out"
done
