#!/usr/bin/env bash
# Start-up of a big content: the time from starting the runner to its call of the browser
# command, beside one pass of zlib's crc32 over the same program file (mapped, as the
# runner reads it), both with the file in the page cache. Not part of the tests.
#
#   bench/startup_bench.sh [BUILD_DIR]   (default: build; needs bin/contentexe{,-pack})
#   SIZE_MB=1024 RUNS=5                  content size and number of runs (the median counts)
#
# Prints "startup_ms N", "zlib_pass_ms N" and their ratio; http_bench.sh reads the first two.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
SIZE_MB=${SIZE_MB:-1024}
RUNS=${RUNS:-5}
RUNNER=$BUILD/bin/contentexe
PACKER=$BUILD/bin/contentexe-pack
for t in "$RUNNER" "$PACKER"; do
  [ -x "$t" ] || cmake --build "$BUILD" -j2 --target contentexe contentexe-pack
done

WORK=$(mktemp -d /tmp/cx-startup-bench.XXXXXX)
RUNNER_PID=
cleanup() {
  if [ -n "$RUNNER_PID" ]; then
    kill "$RUNNER_PID" 2>/dev/null || true
    wait "$RUNNER_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# One start page and one stored (media, incompressible) file that makes up the size.
mkdir -p "$WORK/site/media"
echo '<!doctype html><title>start</title><video src=media/big.webm></video>' \
  > "$WORK/site/index.html"
head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom > "$WORK/site/media/big.webm"
"$PACKER" "$WORK/site" -o "$WORK/content" --force >/dev/null
rm -rf "$WORK/site"

# The browser command only notes when it was called.
printf '#!/bin/sh\ndate +%%s%%N > %s/opened\n' "$WORK" > "$WORK/browser.sh"
chmod +x "$WORK/browser.sh"
mkdir -p "$WORK/runtime" "$WORK/config"
chmod 700 "$WORK/runtime"

median() { sort -n | awk '{v[NR] = $1} END {printf "%.0f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

cat "$WORK/content" > /dev/null  # warm cache for both measures

startup_once() {
  rm -f "$WORK/opened"
  local start
  start=$(date +%s%N)
  XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config BROWSER="$WORK/browser.sh %s" \
    "$WORK/content" 2>>"$WORK/runner.err" &
  RUNNER_PID=$!
  local deadline=$((SECONDS + 60))
  while [ ! -s "$WORK/opened" ] && [ $SECONDS -lt $deadline ]; do sleep 0.01; done
  kill "$RUNNER_PID" 2>/dev/null || true
  wait "$RUNNER_PID" 2>/dev/null || true
  RUNNER_PID=
  [ -s "$WORK/opened" ] || { echo "the runner did not open the browser:" >&2; cat "$WORK/runner.err" >&2; exit 1; }
  echo $((($(cat "$WORK/opened") - start) / 1000000))
}
zlib_once() {
  python3 - "$WORK/content" <<'PY'
import mmap, sys, time, zlib
with open(sys.argv[1], 'rb') as f:
    start = time.perf_counter()
    with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        zlib.crc32(m)
    print('%.0f' % ((time.perf_counter() - start) * 1000))
PY
}
# The two measures take turns, so a change in the machine's load touches both alike.
for _ in $(seq "$RUNS"); do
  startup_once >>"$WORK/startup.ms"
  zlib_once >>"$WORK/zlib.ms"
done
STARTUP=$(median <"$WORK/startup.ms")
ZLIB=$(median <"$WORK/zlib.ms")

echo "content: $(stat -c %s "$WORK/content") bytes, median of $RUNS runs"
echo "startup_ms $STARTUP"
echo "zlib_pass_ms $ZLIB"
awk -v s="$STARTUP" -v z="$ZLIB" 'BEGIN {printf "ratio %.2f (target <= 0.4)\n", s / z}'
