#!/usr/bin/env bash
# Link-check benchmark: a generated site of PAGES pages (default 1000) in 20 folders,
# each page with 40 local references (relative, root-relative, folder, srcset, style,
# a module import) and 2 external ones, a style sheet per folder, 200 images; one broken
# link planted in every 100th page (10), and the start page links a folder without an
# index.html (1). Times `contentexe-pack --check` on it, and packing it.
# Not part of the tests.
#
#   bench/link_check_bench.sh [BUILD_DIR]      (default: build; needs bin/contentexe{,-pack})
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
PAGES=${PAGES:-1000}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
SITE=$WORK/site

python3 - "$SITE" "$PAGES" <<'PY'
import os, sys
site, pages = sys.argv[1], int(sys.argv[2])
os.makedirs(f"{site}/img", exist_ok=True)
for i in range(200):
    open(f"{site}/img/p{i}.png", "wb").write(b"\x89PNG" + bytes(64))
open(f"{site}/lib.mjs", "w").write("export const x = 1;\n")
for d in range(20):
    os.makedirs(f"{site}/s{d}", exist_ok=True)
    open(f"{site}/s{d}/site.css", "w").write(
        f"@import url('/base.css');\nbody {{ background: url(../img/p{d}.png) }}\n")
open(f"{site}/base.css", "w").write("p { margin: 0 }\n")
open(f"{site}/index.html", "w").write("<a href='s0/'>start</a>")
for n in range(pages):
    d = n % 20
    links = [f'<link rel=stylesheet href="site.css">',
             f'<script type=module>import {{ x }} from "/lib.mjs";</script>']
    for k in range(30):
        m = (n + k * 7) % pages
        links.append(f'<a href="../s{m % 20}/page{m}.html#part">p{m}</a>')
    for k in range(5):
        links.append(f'<img src="/img/p{(n + k) % 200}.png" srcset="../img/p{(n + k + 1) % 200}.png 2x">')
    links.append(f'<div style="background:url(\'../img/p{n % 200}.png\')"></div>')
    links.append('<a href="https://example.com/">ext</a> <a href="mailto:a@b">mail</a>')
    if n % 100 == 99:
        links.append(f'<a href="page{n}-missing.html">broken</a>')
    body = "\n".join(links)
    open(f"{site}/s{d}/page{n}.html", "w").write(
        f"<!doctype html><title>Page {n}</title>\n{body}\n<p>{'text ' * 400}</p>\n")
PY

echo "site: $PAGES pages, $(find "$SITE" -type f | wc -l) files, $(du -sh "$SITE" | cut -f1)"
start=$(date +%s.%N)
"$BUILD/bin/contentexe-pack" --check "$SITE" 2>"$WORK/check.txt" || true
end=$(date +%s.%N)
grep -v "missing.html" "$WORK/check.txt" | head -5
echo "check wall time: $(python3 -c "print(f'{$end - $start:.2f} s')")"
start=$(date +%s.%N)
"$BUILD/bin/contentexe-pack" "$SITE" -o "$WORK/out" 2>"$WORK/pack.txt"
end=$(date +%s.%N)
grep -v "warning:" "$WORK/pack.txt"
echo "pack wall time (check included): $(python3 -c "print(f'{$end - $start:.2f} s')")"
