#!/usr/bin/env python3
"""The table and target ratios of bench/http_bench.sh from one run's values or, given the
values of several runs, from the median of each figure (the ratios then of the medians).

    http_bench_report.py VALUES...     each file: one "server column value" a line
"""
import re
import statistics
import sys

SERVERS = ["ours", "nginx", "nginx-gz", "lighttpd", "python"]
PEERS = ["nginx", "lighttpd", "python"]
COLUMNS = [  # (column, heading, unit line)
    ("PAGE", "page r/s", "(ab -c16)"),
    ("PAGEK", "page -k", "r/s"),
    ("PAGE11", "page 1.1", "r/s (wrk)"),
    ("SCRIPT", "script r/s", ""),
    ("SCRIPTGZ", "script gz", "r/s"),
    ("BYTES", "script bytes", "on the wire"),
    ("VIDEO", "video", "MB/s"),
    ("TTFB", "range", "TTFB ms"),
    ("P99", "slow p99", "ms"),
    ("FASTP99", "fast p99", "ms"),
]
WIDTHS = [9, 9, 9, 10, 10, 15, 7, 8, 8, 8]


def number(text):
    """The leading number of a value ("71522*", "70123(gzip)"), or None for "-"."""
    m = re.match(r"-?[0-9.]+", text or "")
    return float(m.group(0)) if m and m.group(0) not in ("-", ".") else None


def load(paths):
    runs = []
    for path in paths:
        values = {}
        with open(path) as f:
            for line in f:
                parts = line.split(None, 2)
                if len(parts) == 3:
                    values[(parts[0], parts[1])] = parts[2].strip()
        runs.append(values)
    return runs


def median_cell(runs, key):
    """The median of the numeric values, with the first run's marker ("*", "(gzip)")."""
    texts = [r.get(key, "-") for r in runs]
    nums = [n for n in (number(t) for t in texts) if n is not None]
    if not nums:
        return "-", None
    value = statistics.median(nums)
    marker = re.sub(r"^-?[0-9.]+", "", next(t for t in texts if number(t) is not None))
    shown = f"{value:.0f}" if all(n == int(n) for n in nums) and value == int(value) else \
        f"{value:.2f}" if value < 100 else f"{value:.0f}"
    return shown + marker, value


def main():
    runs = load(sys.argv[1:])
    if not runs:
        sys.exit("usage: http_bench_report.py VALUES...")
    loads = [r.get(("-", "load"), "?") for r in runs]
    print("load average before %s: %s   cores: %s" % (
        "the run" if len(runs) == 1 else "each run", " | ".join(loads),
        runs[0].get(("-", "cores"), "?")))
    if len(runs) > 1:
        print("every figure below is the median of %d runs" % len(runs))
    cells, value = {}, {}
    for s in SERVERS:
        for col, _, _ in COLUMNS:
            cells[s, col], value[s, col] = median_cell(runs, (s, col))
    for key in ("mem", "startup_ms", "zlib_ms"):
        cells["ours", key], value["ours", key] = median_cell(runs, ("ours", key))

    def row(first, items):
        return f"{first:<9} " + " ".join(f"{t:>{w}}" for t, w in zip(items, WIDTHS))

    print(row("server", [h for _, h, _ in COLUMNS]))
    print(row("", [u for _, _, u in COLUMNS]))
    for s in SERVERS:
        print(row(s, [cells[s, c] for c, _, _ in COLUMNS]))
    print("page -k: * = ab -k (HTTP/1.0, Connection: Keep-Alive) had no request kept alive;"
          " page 1.1: wrk, HTTP/1.1 on 16 kept-alive connections")
    print("script: %s bytes, its .gz (gzip -9) %s bytes" % (
        runs[0].get(("-", "script_size"), "?"), runs[0].get(("-", "gz_size"), "?")))
    print("ours: resident memory growth with 8 video streams: %s MB" % cells["ours", "mem"])
    print("ours: start-up of a %s MiB content, start to browser: %s ms;"
          " one zlib crc32 pass over the program file: %s ms" % (
              runs[0].get(("-", "startup_mb"), "?"), cells["ours", "startup_ms"],
              cells["ours", "zlib_ms"]))
    print()

    def v(server, col):
        return value.get((server, col)) or 0

    def best(col):
        peers = [(v(p, col), p) for p in PEERS]
        return max(peers)

    def check(name, got, op, goal):
        ok = got >= goal if op == ">=" else got <= goal if op == "<=" else got < goal
        print("%-50s %9.2f  target %s %-6s %s" % (name, got, op, goal, "met" if ok else "MISSED"))

    def ratio(a, b):
        return a / b if b else 0

    for col, name in (("VIDEO", "video MB/s"), ("PAGEK", "kept-alive page r/s (ab -k)"),
                      ("PAGE11", "kept-alive page r/s (wrk)"),
                      ("PAGE", "page r/s, a connection each"),
                      ("SCRIPT", "script r/s, identity")):
        top, who = best(col)
        check(f"{name} / best peer ({who})", ratio(v("ours", col), top), ">=", 1.0)
    check("script r/s gzip / nginx gzip_static", ratio(v("ours", "SCRIPTGZ"),
                                                       v("nginx-gz", "SCRIPTGZ")), ">=", 1.5)
    check("script bytes on the wire / its .gz",
          ratio(v("ours", "BYTES"), number(runs[0].get(("-", "gz_size"))) or 0), "<=", 1.15)
    check("range first byte (ms)", value.get(("ours", "TTFB")) or 999, "<", 1.5)
    check("slow-reader p99 (ms)", value.get(("ours", "P99")) or 999, "<=", 5)
    check("fast-reader p99 (ms)", value.get(("ours", "FASTP99")) or 999, "<=", 5)
    mem = value.get(("ours", "mem"))
    check("memory growth, 8 video streams (MB)", 999 if mem is None else mem, "<=", 8)
    st, zl = value.get(("ours", "startup_ms")), value.get(("ours", "zlib_ms"))
    if st is not None and zl:
        check("start-up / one zlib crc32 pass", st / zl, "<=", 0.4)


if __name__ == "__main__":
    main()
