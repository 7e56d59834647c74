#!/usr/bin/env python3
"""Seek benchmark: a range far into a large deflated entry of an archive named on the
command line, asked for right after start-up, beside a small page. Not part of the tests.

  bench/seek_bench.py [BUILD_DIR] [--runs N] [--delays 1,0] [--lag MS]

Writes with Python's zipfile an archive holding index.html and a 100 MB deflated text of
random words, starts BUILD_DIR/bin/contentexe on it once per run (with a browser command
that notes the start URL), waits DELAY seconds after the URL is handed out, then asks for
"Range: bytes=90000000-" and, from LAG ms later on a second connection, for index.html
again and again (every 2 ms) until the range's first body byte has come. Prints the time
to the range's first body byte and the small page's median, p99 and worst latency, per
run. Goal: first byte within 200 ms, small page p99 within 5 ms.
"""
import argparse, http.client, os, random, re, shutil, signal, subprocess, sys, tempfile
import threading, time, zipfile

ap = argparse.ArgumentParser()
ap.add_argument('build', nargs='?', default=os.path.join(os.path.dirname(__file__), '..', 'build'))
ap.add_argument('--runs', type=int, default=3)
ap.add_argument('--delays', default='1,0')
ap.add_argument('--lag', type=float, default=20)
args = ap.parse_args()
runner = os.path.join(args.build, 'bin', 'contentexe')
work = tempfile.mkdtemp(prefix='cx-seek-bench.')
archive = os.path.join(work, 'big.zip')
random.seed(7)
words = [''.join(random.choices('abcdefghijklmnopqrstuvwxyz', k=random.randint(2, 10)))
         for _ in range(5000)]
text = bytearray()
while len(text) < 100_000_000:
    text += (' '.join(random.choices(words, k=20000)) + '\n').encode()
data = bytes(text[:100_000_000])
with zipfile.ZipFile(archive, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('index.html', '<html><body>small page</body></html>')
    z.writestr('big.txt', data)


def once(delay):
    d = tempfile.mkdtemp(dir=work)
    urls, browser = d + '/urls', d + '/browser.sh'
    with open(browser, 'w') as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> %s\n' % urls)
    os.chmod(browser, 0o755)
    os.mkdir(d + '/runtime', 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=d + '/runtime', BROWSER=browser + ' %s', DISPLAY='')
    p = subprocess.Popen([runner, archive], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 30
        while not (os.path.exists(urls) and open(urls).read().endswith('\n')):
            if time.time() > deadline:
                sys.exit('the runner handed out no URL')
            time.sleep(0.001)
        m = re.match(r'http://localhost:(\d+)(/[0-9a-f]+/)', open(urls).read())
        port, prefix = int(m.group(1)), m.group(2)
        time.sleep(delay)
        res, go = {}, threading.Barrier(2)

        def ranged():
            c = http.client.HTTPConnection('127.0.0.1', port)
            c.connect()
            go.wait()
            t0 = time.perf_counter()
            c.request('GET', prefix + 'big.txt', headers={'Range': 'bytes=90000000-'})
            r = c.getresponse()
            first = r.read(1)
            res['range'] = (time.perf_counter() - t0) * 1000
            res['ok'] = r.status == 206 and first + r.read() == data[90000000:]

        def small():
            c = http.client.HTTPConnection('127.0.0.1', port)
            c.connect()
            go.wait()
            time.sleep(args.lag / 1000)
            times, until = [], time.time() + 10
            while not times or ('range' not in res and time.time() < until):
                t0 = time.perf_counter()
                c.request('GET', prefix + 'index.html')
                c.getresponse().read()
                times.append((time.perf_counter() - t0) * 1000)
                time.sleep(0.002)
            times.sort()
            res['small'] = (times[len(times) // 2], times[min(len(times) - 1, len(times) * 99 // 100)],
                            times[-1], len(times))

        threads = [threading.Thread(target=f) for f in (ranged, small)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return res
    finally:
        p.send_signal(signal.SIGTERM)
        p.wait(10)


try:
    print('load:', open('/proc/loadavg').read().strip())
    for delay in (float(x) for x in args.delays.split(',')):
        for _ in range(args.runs):
            r = once(delay)
            print('delay %.1f s: range first byte %6.1f ms, small page median %5.1f p99 %5.1f '
                  'worst %5.1f ms (%d asked), bytes %s'
                  % ((delay, r['range']) + r['small'] + ('right' if r['ok'] else 'WRONG',)))
finally:
    shutil.rmtree(work)
