#!/usr/bin/env bash
# Serving benchmark: our runner against nginx, lighttpd and python3 -m http.server on the
# same files, in one run, each on its own loopback port. Not part of the tests.
#
#   bench/http_bench.sh [BUILD_DIR]      (default: build; needs bin/contentexe{,-pack})
#
# Prints one table plus the ratios the server aims for. Run it on a quiet machine.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
RUNNER=$BUILD/bin/contentexe
PACKER=$BUILD/bin/contentexe-pack
for t in "$RUNNER" "$PACKER"; do
  [ -x "$t" ] || cmake --build "$BUILD" -j2 --target contentexe contentexe-pack
done
for c in nginx lighttpd ab curl python3; do
  if ! command -v "$c" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$c" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "needs nginx lighttpd apache2-utils curl python3" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      nginx lighttpd apache2-utils curl python3 >/dev/null
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

# --- content: pages, a 150 KB script, a 200 MB stored video -----------------------------
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
             for i in range(6000))
open(os.path.join(site, 'js', 'app.js'), 'w').write(js[:150 * 1024])
PY
# Video payload: incompressible, so the packer stores it.
head -c $((200 * 1024 * 1024)) /dev/urandom > "$SITE/media/video.webm"
VIDEO_SIZE=$(stat -c %s "$SITE/media/video.webm")

"$PACKER" "$SITE" -o "$WORK/content" --force >/dev/null

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
cat > "$WORK/nginx.conf" <<NGX
daemon off; worker_processes 1; pid $WORK/nginx.pid; error_log $WORK/nginx.err;
events { worker_connections 1024; }
http { access_log off; sendfile on; tcp_nopush on; include /etc/nginx/mime.types;
  client_body_temp_path $WORK/ngx-tmp; proxy_temp_path $WORK/ngx-tmp;
  fastcgi_temp_path $WORK/ngx-tmp; uwsgi_temp_path $WORK/ngx-tmp; scgi_temp_path $WORK/ngx-tmp;
  server { listen 127.0.0.1:$P; root $SITE; } }
NGX
mkdir -p "$WORK/ngx-tmp"
nginx -c "$WORK/nginx.conf" -p "$WORK" 2>/dev/null &
PIDS+=($!)
BASE[nginx]=http://127.0.0.1:$P/

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

for s in ours nginx lighttpd python; do wait_http "${BASE[$s]}index.html"; done

# --- measures --------------------------------------------------------------------------
ab_rps() {  # url concurrency count
  local out
  out=$(ab -q -c "$2" -n "$3" "$1" 2>&1) || { echo "-"; return; }
  local failed
  failed=$(awk '/^Failed requests:|^Non-2xx responses:/{n += $3} END {print n + 0}' <<<"$out")
  [ "$failed" = 0 ] || { echo "  ($1: $failed failed or non-2xx answers)" >&2; echo "-"; return; }
  awk '/^Requests per second:/{printf "%.0f", $4}' <<<"$out"
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
slow_reader_p99_ms() {
  curl -s -o /dev/null --limit-rate 1M --max-time 30 "$1media/video.webm" &
  local reader=$!
  sleep 1
  ab -q -c 1 -n 1000 -e "$WORK/pct.csv" "$1index.html" >/dev/null 2>&1 || true
  kill "$reader" 2>/dev/null || true
  wait "$reader" 2>/dev/null || true
  awk -F, '$1 == 99 {printf "%.2f", $2}' "$WORK/pct.csv"
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

declare -A PAGE SCRIPT VIDEO TTFB P99
for s in ours nginx lighttpd python; do
  b=${BASE[$s]}
  n=5000
  [ "$s" = python ] && n=1000  # single-threaded and slow; keeps the run short
  PAGE[$s]=$(ab_rps "${b}index.html" 16 "$n")
  SCRIPT[$s]=$(ab_rps "${b}js/app.js" 16 2000)
  VIDEO[$s]=$(video_mbs "$b")
  TTFB[$s]=$(range_ttfb_ms "$b")
  P99[$s]=$(slow_reader_p99_ms "$b")
done
MEM=$(memory_growth_mb)

echo
echo "load before run: $LOAD   cores: $(nproc)"
printf '%-10s %12s %12s %10s %14s %14s\n' server "page req/s" "script req/s" "video MB/s" \
  "range TTFB ms" "slow p99 ms"
for s in ours nginx lighttpd python; do
  printf '%-10s %12s %12s %10s %14s %14s\n' "$s" "${PAGE[$s]}" "${SCRIPT[$s]}" "${VIDEO[$s]}" \
    "${TTFB[$s]}" "${P99[$s]}"
done
echo "ours: resident memory growth with 8 video streams: $MEM MB"
echo
best_video=0
for s in nginx lighttpd python; do
  [ "${VIDEO[$s]:-0}" -gt "$best_video" ] && best_video=${VIDEO[$s]}
done
awk -v pr="${PAGE[ours]}" -v pl="${PAGE[lighttpd]}" -v sr="${SCRIPT[ours]}" \
  -v sl="${SCRIPT[lighttpd]}" -v vr="${VIDEO[ours]}" -v vb="$best_video" -v t="${TTFB[ours]}" \
  -v p="${P99[ours]}" -v m="$MEM" '
  function check(name, value, op, goal) {
    ok = (op == ">=") ? value >= goal : value < goal
    printf "%-34s %9.2f  target %s %-6s %s\n", name, value, op, goal, ok ? "met" : "MISSED"
  }
  BEGIN {
    check("page req/s / lighttpd", pr / pl, ">=", 1.0)
    check("script req/s / lighttpd", sr / sl, ">=", 0.8)
    check("video MB/s / best peer", vr / vb, ">=", 0.9)
    check("range first byte (ms)", t, "<", 1.5)
    check("slow-reader p99 (ms)", p, "<", 5)
    check("memory growth (MB)", m, "<", 32)
  }'
