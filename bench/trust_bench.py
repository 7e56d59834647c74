#!/usr/bin/env python3
"""What local clients can make a running content do, measured on the real runner over
loopback. Not part of the tests.

    bench/trust_bench.py [BUILD_DIR] [SCENARIO ...]   (default: build; every scenario)

Scenarios (each starts its own runner; the descriptor limit is 256 where it says so):
  stalled     224 readers fetch a 64 MiB entry with a 4 KiB receive buffer and stop
              reading (limit 256); then the time to answer a page, 3 tries.
  websockets  300 WebSockets open and stay silent (limit 256); how many upgrades were
              answered, then the time to answer a page, 3 tries.
  bodies      100 connections announce 16 MiB bodies and send all but one byte; the
              runner's RssAnon before and after.
  headers     200 connections send 1 MiB of a header block that never ends; RssAnon.
Every wait is bounded; the runner is killed at the end of each scenario.
"""
import os
import resource
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def rss_anon(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('RssAnon:'):
                return int(line.split()[1]) * 1024
    return 0


class Runner:
    def __init__(self, build, work, nofile=None):
        site = os.path.join(work, 'site')
        os.makedirs(os.path.join(site, 'media'), exist_ok=True)
        with open(os.path.join(site, 'index.html'), 'w') as f:
            f.write('<!doctype html><title>start</title><p>hello</p>')
        with open(os.path.join(site, 'media', 'big.webm'), 'wb') as f:
            f.write(os.urandom(64 << 20))
        self.program = os.path.join(work, 'content')
        subprocess.run([os.path.join(build, 'bin', 'contentexe-pack'), site, '-o', self.program,
                        '--force'], check=True, stderr=subprocess.DEVNULL)
        opened = os.path.join(work, 'opened')
        browser = os.path.join(work, 'browser.sh')
        with open(browser, 'w') as f:
            f.write('#!/bin/sh\necho "$1" > %s\n' % opened)
        os.chmod(browser, 0o755)
        for d in ('runtime', 'config'):
            os.makedirs(os.path.join(work, d), mode=0o700, exist_ok=True)
        env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(work, 'runtime'),
                   XDG_CONFIG_HOME=os.path.join(work, 'config'), BROWSER=browser + ' %s')

        def limit():
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))
        self.proc = subprocess.Popen([self.program], env=env, preexec_fn=limit,
                                     stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while time.time() < deadline and not (os.path.exists(opened) and os.path.getsize(opened)):
            time.sleep(0.05)
        url = open(opened).read().strip()  # http://localhost:PORT/PREFIX/index.html
        rest = url.split('//', 1)[1]
        self.port = int(rest.split('/', 1)[0].split(':')[1])
        self.prefix = '/' + rest.split('/')[1] + '/'

    def page_time(self, timeout=10.0):
        """Seconds until the start page is answered in full, or None."""
        start = time.time()
        try:
            s = socket.create_connection(('127.0.0.1', self.port), timeout=timeout)
            s.sendall(('GET %sindex.html HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n'
                       % self.prefix).encode())
            data = b''
            while b'<p>hello</p>' not in data:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
            s.close()
            return time.time() - start if b'<p>hello</p>' in data else None
        except OSError:
            return None

    def stop(self):
        self.proc.kill()
        self.proc.wait(10)


def report_pages(runner, label):
    times = [runner.page_time() for _ in range(3)]
    shown = ['%.3f s' % t if t is not None else 'no answer in 10 s' for t in times]
    print('%s: page answered in %s' % (label, ', '.join(shown)), flush=True)


def stalled(runner):
    socks = []
    for _ in range(224):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.settimeout(2)
        try:
            s.connect(('127.0.0.1', runner.port))
            s.sendall(('GET %smedia/big.webm HTTP/1.1\r\nHost: localhost\r\n\r\n'
                       % runner.prefix).encode())
            s.recv(4096)
        except OSError:
            pass
        socks.append(s)
    time.sleep(6)  # no progress for longer than the server's 5 s
    report_pages(runner, '224 stalled readers, RLIMIT_NOFILE 256')
    for s in socks:
        s.close()


def websockets(runner):
    socks, upgraded = [], 0
    for i in range(300):
        s = socket.socket()
        s.settimeout(2)
        try:
            s.connect(('127.0.0.1', runner.port))
            s.sendall(('GET /ws HTTP/1.1\r\nHost: localhost:%d\r\nUpgrade: websocket\r\n'
                       'Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n'
                       'Sec-WebSocket-Version: 13\r\n\r\n' % runner.port).encode())
            if s.recv(4096).startswith(b'HTTP/1.1 101'):
                upgraded += 1
        except OSError:
            pass
        socks.append(s)
    print('300 silent WebSockets, RLIMIT_NOFILE 256: %d upgrades answered' % upgraded)
    time.sleep(6)
    report_pages(runner, '300 silent WebSockets, RLIMIT_NOFILE 256')
    for s in socks:
        s.close()


def bodies(runner):
    before = rss_anon(runner.proc.pid)
    size = 16 << 20
    block = b'x' * (1 << 20)
    socks = []
    for _ in range(100):
        s = socket.create_connection(('127.0.0.1', runner.port), timeout=10)
        s.sendall(('POST %sform HTTP/1.1\r\nHost: localhost\r\nContent-Length: %d\r\n\r\n'
                   % (runner.prefix, size)).encode())
        try:
            for _ in range(15):
                s.sendall(block)
            s.sendall(block[:-1])
        except OSError:
            pass
        socks.append(s)
    time.sleep(2)
    after = rss_anon(runner.proc.pid)
    print('100 connections announcing 16 MiB bodies: RssAnon %.1f MiB -> %.1f MiB (+%.1f MiB)'
          % (before / 2**20, after / 2**20, (after - before) / 2**20), flush=True)
    for s in socks:
        s.close()


def headers(runner):
    before = rss_anon(runner.proc.pid)
    socks = []
    for _ in range(200):
        s = socket.create_connection(('127.0.0.1', runner.port), timeout=10)
        try:
            s.sendall(b'GET / HTTP/1.1\r\nHost: localhost\r\nX-Long: ' + b'z' * ((1 << 20) - 64))
        except OSError:
            pass
        socks.append(s)
    time.sleep(2)
    after = rss_anon(runner.proc.pid)
    print('200 unfinished 1 MiB header blocks: RssAnon %.1f MiB -> %.1f MiB (+%.1f MiB)'
          % (before / 2**20, after / 2**20, (after - before) / 2**20), flush=True)
    for s in socks:
        s.close()


SCENARIOS = {'stalled': (stalled, 256), 'websockets': (websockets, 256),
             'bodies': (bodies, None), 'headers': (headers, None)}


def main():
    args = sys.argv[1:]
    build = os.path.join(ROOT, 'build')
    if args and args[0] not in SCENARIOS:
        build = os.path.abspath(args.pop(0))
    for name in args or list(SCENARIOS):
        scenario, nofile = SCENARIOS[name]
        with tempfile.TemporaryDirectory(prefix='cx-trust-bench.') as work:
            runner = Runner(build, work, nofile)
            try:
                scenario(runner)
            finally:
                runner.stop()


if __name__ == '__main__':
    main()
