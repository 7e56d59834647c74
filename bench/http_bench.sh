#!/usr/bin/env bash
# Serving benchmark: our runner against nginx (sendfile), nginx with gzip_static and a .gz
# beside the script, lighttpd and python3 -m http.server on the same files, in one run, each
# on its own loopback port; and, first of all, start-up of a 1 GiB content
# (startup_bench.sh). Not part of the tests.
#
#   bench/http_bench.sh [BUILD_DIR]      (default: build; needs bin/contentexe{,-pack})
#   SIZE_MB=1024                         size of the start-up content
#   STARTUP=0                            leave the start-up measure out
#   RUNS=3                               that many whole runs, each printed, then the
#                                        median of every figure and the ratios of those
#
# Prints the table, the load average before the run and every ratio against its target.
# Run it on a quiet machine.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
RUNS=${RUNS:-1}
REPORT="$ROOT/bench/http_bench_report.py"
if [ "$RUNS" -gt 1 ]; then
  # Each run whole and on its own (fresh content, fresh servers); one figure's median then
  # neither meets nor misses a target by one run's noise.
  VALUES=$(mktemp -d /tmp/cx-http-bench-runs.XXXXXX)
  trap 'rm -rf "$VALUES"' EXIT
  for i in $(seq "$RUNS"); do
    echo "=== run $i of $RUNS"
    RUNS=1 BENCH_VALUES="$VALUES/run$i" "$0" "$BUILD"
  done
  echo
  echo "=== median of $RUNS runs"
  python3 "$REPORT" "$VALUES"/run*
  exit 0
fi
RUNNER=$BUILD/bin/contentexe
PACKER=$BUILD/bin/contentexe-pack
for t in "$RUNNER" "$PACKER"; do
  [ -x "$t" ] || cmake --build "$BUILD" -j2 --target contentexe contentexe-pack
done
for c in nginx lighttpd ab curl python3 gzip wrk; do
  if ! command -v "$c" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$c" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "needs nginx lighttpd apache2-utils curl python3 gzip wrk" >&2; exit 1; }
    # The packages' own daemons are not started: a policy that forbids it, unless one exists.
    policy=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
      policy=/usr/sbin/policy-rc.d
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      nginx lighttpd apache2-utils curl python3 gzip wrk >/dev/null || apt_failed=1
    [ -z "$policy" ] || rm -f "$policy"
    [ -z "${apt_failed:-}" ] || { echo "apt-get install failed" >&2; exit 1; }
  fi
done
export PATH=$PATH:/usr/sbin

WORK=$(mktemp -d /tmp/cx-http-bench.XXXXXX)
chmod 755 "$WORK"  # nginx's workers run as another user
LOAD=$(cut -d' ' -f1-3 /proc/loadavg)
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Start-up first, while nothing else runs; its content is packed and removed again.
STARTUP_OUT=
if [ "${STARTUP:-1}" != 0 ]; then
  STARTUP_OUT=$(RUNS=5 "$ROOT/bench/startup_bench.sh" "$BUILD" 2>/dev/null) || STARTUP_OUT=
fi
STARTUP_MS=$(awk '$1 == "startup_ms" {print $2}' <<<"$STARTUP_OUT")
ZLIB_MS=$(awk '$1 == "zlib_pass_ms" {print $2}' <<<"$STARTUP_OUT")

# --- content: pages, a 280 KB script, a 200 MB stored video -----------------------------
SITE=$WORK/site
mkdir -p "$SITE/pages" "$SITE/media" "$SITE/js"
python3 - "$SITE" <<'PY'
import os, sys
site = sys.argv[1]
para = '<p>' + 'Lorem ipsum dolor sit amet, consectetur adipiscing elit. ' * 12 + '</p>\n'
page = '<!doctype html><html><head><title>Page %d</title><link rel=stylesheet href=style.css>' \
       '<script src=js/app.js></script></head><body>%s</body></html>\n'
open(os.path.join(site, 'index.html'), 'w').write(page % (0, para * 5))
for i in range(1, 21):
    open(os.path.join(site, 'pages', 'p%d.html' % i), 'w').write(page % (i, para * (2 + i % 7)))
open(os.path.join(site, 'style.css'), 'w').write('body{font:16px serif;margin:2em}\n' * 40)
js = ''.join('function f%d(a){return a*%d+"%x";}\n' % (i, i % 91, i * 2654435761 % 2**32)
             for i in range(10000))
open(os.path.join(site, 'js', 'app.js'), 'w').write(js[:280 * 1024])
PY
# Video payload: incompressible, so the packer stores it.
head -c $((200 * 1024 * 1024)) /dev/urandom > "$SITE/media/video.webm"
VIDEO_SIZE=$(stat -c %s "$SITE/media/video.webm")

"$PACKER" "$SITE" -o "$WORK/content" --force >/dev/null
# nginx gzip_static serves the same script from its precompressed .gz.
GZSITE=$WORK/site-gz
mkdir -p "$GZSITE/js"
cp "$SITE/index.html" "$GZSITE/"
cp "$SITE/js/app.js" "$GZSITE/js/"
gzip -9 -k "$GZSITE/js/app.js"
GZ_SIZE=$(stat -c %s "$GZSITE/js/app.js.gz")

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_http() {  # url
  for _ in $(seq 100); do curl -s -o /dev/null "$1" && return 0; sleep 0.1; done
  echo "no answer from $1" >&2; return 1
}

# --- servers ---------------------------------------------------------------------------
declare -A BASE
# Ours: $BROWSER gets the start URL and only records it.
printf '#!/bin/sh\nprintf "%%s\\n" "$1" > %s/start-url\n' "$WORK" > "$WORK/browser.sh"
chmod +x "$WORK/browser.sh"
mkdir -p "$WORK/runtime" "$WORK/config"
chmod 700 "$WORK/runtime"
XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config BROWSER="$WORK/browser.sh %s" \
  "$WORK/content" 2>"$WORK/runner.err" &
RUNNER_PID=$!
PIDS+=("$RUNNER_PID")
for _ in $(seq 100); do [ -s "$WORK/start-url" ] && break; sleep 0.1; done
START=$(cat "$WORK/start-url")
BASE[ours]=$(printf '%s' "${START%%index.html*}" | sed 's#//localhost:#//127.0.0.1:#')

P=$(free_port)
PGZ=$(free_port)
cat > "$WORK/nginx.conf" <<NGX
daemon off; worker_processes 1; pid $WORK/nginx.pid; error_log $WORK/nginx.err;
events { worker_connections 1024; }
http { access_log off; sendfile on; tcp_nopush on; include /etc/nginx/mime.types;
  client_body_temp_path $WORK/ngx-tmp; proxy_temp_path $WORK/ngx-tmp;
  fastcgi_temp_path $WORK/ngx-tmp; uwsgi_temp_path $WORK/ngx-tmp; scgi_temp_path $WORK/ngx-tmp;
  server { listen 127.0.0.1:$P; root $SITE; }
  server { listen 127.0.0.1:$PGZ; root $GZSITE; gzip_static on; } }
NGX
mkdir -p "$WORK/ngx-tmp"
nginx -c "$WORK/nginx.conf" -p "$WORK" 2>/dev/null &
PIDS+=($!)
BASE[nginx]=http://127.0.0.1:$P/
BASE[nginx-gz]=http://127.0.0.1:$PGZ/

P=$(free_port)
cat > "$WORK/lighttpd.conf" <<LTD
server.document-root = "$SITE"
server.bind = "127.0.0.1"
server.port = $P
server.errorlog = "$WORK/lighttpd.err"
index-file.names = ( "index.html" )
include_shell "/usr/share/lighttpd/create-mime.conf.pl"
LTD
lighttpd -D -f "$WORK/lighttpd.conf" 2>/dev/null &
PIDS+=($!)
BASE[lighttpd]=http://127.0.0.1:$P/

P=$(free_port)
python3 -m http.server --bind 127.0.0.1 --directory "$SITE" "$P" >/dev/null 2>&1 &
PIDS+=($!)
BASE[python]=http://127.0.0.1:$P/

SERVERS=(ours nginx nginx-gz lighttpd python)
for s in "${SERVERS[@]}"; do wait_http "${BASE[$s]}index.html"; done

# --- measures --------------------------------------------------------------------------
# What a browser sends with a script request; the gzip columns use these.
BROWSER_HEADERS=(-H 'Accept: */*' -H 'Accept-Encoding: gzip, deflate, br'
  -H 'Accept-Language: en-US,en;q=0.9'
  -H 'User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36')
ab_rps() {  # url concurrency count [ab options]
  local url=$1 c=$2 n=$3 out
  shift 3
  out=$(ab -q "$@" -c "$c" -n "$n" "$url" 2>&1) || { echo "  ($url: ab failed: $(tail -1 <<<"$out"))" >&2; echo "-"; return; }
  local failed
  failed=$(awk '/^Failed requests:|^Non-2xx responses:/{n += $3} END {print n + 0}' <<<"$out")
  [ "$failed" = 0 ] || { echo "  ($url: $failed failed or non-2xx answers)" >&2; echo "-"; return; }
  awk '/^Requests per second:/{printf "%.0f", $4}' <<<"$out"
  # ab -k asks with HTTP/1.0 and "Connection: Keep-Alive"; "*" marks a server that kept none.
  if [[ " $* " == *" -k "* ]] && grep -q '^Keep-Alive requests: *0$' <<<"$out"; then printf '*'; fi
}
wrk_rps() {  # url: HTTP/1.1 clients on 16 kept-alive connections for 3 seconds
  command -v wrk >/dev/null 2>&1 || { echo "-"; return; }
  local out
  out=$(wrk -t 2 -c 16 -d 3s "$1" 2>&1) || { echo "-"; return; }
  grep -q 'Non-2xx\|Socket errors' <<<"$out" && { echo "  ($1: wrk saw errors)" >&2; echo "-"; return; }
  awk '/^Requests\/sec:/{printf "%.0f", $2}' <<<"$out"
}
script_wire_bytes() {  # body bytes as sent to a browser, and its Content-Encoding
  curl -s -o /dev/null -D "$WORK/script.h" "${BROWSER_HEADERS[@]}" -w '%{size_download}' \
    "$1js/app.js"
  local enc
  enc=$(tr -d '\r' <"$WORK/script.h" | awk -F': *' 'tolower($1) == "content-encoding" {print $2}')
  [ -z "$enc" ] || printf ' (%s)' "$enc"
}
video_mbs() {
  curl -s -o /dev/null -w '%{http_code} %{size_download} %{speed_download}' \
    "$1media/video.webm" |
    awk -v n="$VIDEO_SIZE" '$1 == 200 && $2 == n {printf "%.0f", $3 / 1048576; next} {print 0}'
}
range_ttfb_ms() {
  local start=$((VIDEO_SIZE / 2)) i
  for i in $(seq 20); do
    curl -s -o /dev/null -r "$start-$((start + 1048575))" -w '%{time_starttransfer}\n' \
      "$1media/video.webm"
  done | sort -n | awk '{v[NR]=$1} END {printf "%.2f", (v[10] + v[11]) / 2 * 1000}'
}
# p99 of 1000 small pages, one at a time, while one reader pulls the video: at 1 MB/s
# (rate "1M") or as fast as it goes (rate "", the video over and over on one connection).
reader_p99_ms() {  # base rate
  local urls=() i
  if [ -n "$2" ]; then
    urls=("$1media/video.webm")
  else
    for i in $(seq 50); do urls+=("$1media/video.webm"); done
  fi
  curl -s --max-time 60 ${2:+--limit-rate "$2"} "${urls[@]}" >/dev/null &
  local reader=$!
  sleep 1
  rm -f "$WORK/pct.csv"
  ab -q -c 1 -n 1000 -e "$WORK/pct.csv" "$1index.html" >/dev/null 2>&1 || true
  kill -0 "$reader" 2>/dev/null || echo "  ($1: the video reader ended before the pages did)" >&2
  kill "$reader" 2>/dev/null || true
  wait "$reader" 2>/dev/null || true
  [ -s "$WORK/pct.csv" ] && awk -F, '$1 == 99 {printf "%.2f", $2}' "$WORK/pct.csv" || echo "-"
}
rss_kb() { awk '/^VmRSS:/{print $2}' "/proc/$1/status"; }
memory_growth_mb() {  # ours only: 8 clients stream the whole video at once
  local before peak now i
  before=$(rss_kb "$RUNNER_PID")
  peak=$before
  local readers=()
  for i in $(seq 8); do
    curl -s -o /dev/null --max-time 60 "${BASE[ours]}media/video.webm" &
    readers+=($!)
  done
  while kill -0 "${readers[0]}" 2>/dev/null || kill -0 "${readers[7]}" 2>/dev/null; do
    now=$(rss_kb "$RUNNER_PID")
    [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.05
  done
  wait "${readers[@]}" 2>/dev/null || true
  awk -v a="$before" -v b="$peak" 'BEGIN {printf "%.1f", (b - a) / 1024}'
}

declare -A PAGE PAGEK PAGE11 SCRIPT SCRIPTGZ BYTES VIDEO TTFB P99 FASTP99
for s in "${SERVERS[@]}"; do
  b=${BASE[$s]}
  n=5000
  [ "$s" = python ] && n=1000  # single-threaded and slow; keeps the run short
  SCRIPTGZ[$s]=$(ab_rps "${b}js/app.js" 16 2000 "${BROWSER_HEADERS[@]}")
  BYTES[$s]=$(script_wire_bytes "$b")
  # nginx-gz differs from nginx in the script only.
  if [ "$s" = nginx-gz ]; then
    PAGE[$s]=- PAGEK[$s]=- PAGE11[$s]=- SCRIPT[$s]=- VIDEO[$s]=- TTFB[$s]=- P99[$s]=- FASTP99[$s]=-
    continue
  fi
  PAGE[$s]=$(ab_rps "${b}index.html" 16 "$n")
  PAGEK[$s]=$(ab_rps "${b}index.html" 16 $((n * 4)) -k)
  PAGE11[$s]=$(wrk_rps "${b}index.html")
  SCRIPT[$s]=$(ab_rps "${b}js/app.js" 16 2000)
  VIDEO[$s]=$(video_mbs "$b")
  TTFB[$s]=$(range_ttfb_ms "$b")
  P99[$s]=$(reader_p99_ms "$b" 1M)
  FASTP99[$s]=$(reader_p99_ms "$b" "")
done
MEM=$(memory_growth_mb)

# One value a line ("server column value"), for the report here and the median of runs.
OUT=${BENCH_VALUES:-$WORK/values}
{
  echo "- load $LOAD"
  echo "- cores $(nproc)"
  echo "- script_size $(stat -c %s "$SITE/js/app.js")"
  echo "- gz_size $GZ_SIZE"
  echo "- startup_mb ${SIZE_MB:-1024}"
  echo "ours mem ${MEM:--}"
  echo "ours startup_ms ${STARTUP_MS:--}"
  echo "ours zlib_ms ${ZLIB_MS:--}"
  for s in "${SERVERS[@]}"; do
    for col in PAGE PAGEK PAGE11 SCRIPT SCRIPTGZ BYTES VIDEO TTFB P99 FASTP99; do
      declare -n cell=$col
      v=${cell[$s]:--}
      echo "$s $col ${v// /}"
    done
  done
} > "$OUT"
echo
python3 "$REPORT" "$OUT"
