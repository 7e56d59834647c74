#!/usr/bin/env python3
"""Writes a JSON round-trip corpus for json_tests into the folder given.

For every case it writes NAME.json (the document, in some layout and encoding) and
NAME.expected (UTF-8): the canonical compact text the C++ writer must give for the parsed
document, with members sorted by UTF-16 code units. Python's json module is the
independent reader; the canonical rendering follows the library's writing rules:
integers in decimal, doubles with "%f", strings escaped only where the writer escapes.
Cases come from seeded random documents and from the JSON files Debian ships under
/usr/share that Python reads strictly."""
import json
import os
import random
import sys

INT64 = (-(2**63), 2**63 - 1)


def esc(s):
    out = []
    for ch in s:
        o = ord(ch)
        if ch == '\b': out.append('\\b')
        elif ch == '\t': out.append('\\t')
        elif ch == '\n': out.append('\\n')
        elif ch == '\f': out.append('\\f')
        elif ch == '\r': out.append('\\r')
        elif ch == '"': out.append('\\"')
        elif ch == '\\': out.append('\\\\')
        elif o < 32: out.append('\\u00%02X' % o)
        else: out.append(ch)
    return '"' + ''.join(out) + '"'


def canon(v):
    if v is None: return 'null'
    if v is True: return 'true'
    if v is False: return 'false'
    if isinstance(v, int):
        return str(v) if INT64[0] <= v <= INT64[1] else '%f' % float(v)
    if isinstance(v, float): return '%f' % v
    if isinstance(v, str): return esc(v)
    if isinstance(v, list): return '[' + ','.join(canon(x) for x in v) + ']'
    keys = sorted(v, key=lambda k: k.encode('utf-16-be'))
    return '{' + ','.join(esc(k) + ':' + canon(v[k]) for k in keys) + '}'


def depth(v):
    if isinstance(v, list): return 1 + max([depth(x) for x in v] or [0])
    if isinstance(v, dict): return 1 + max([depth(x) for x in v.values()] or [0])
    return 0


def no_dupes(pairs):
    d = {}
    for k, val in pairs:
        if k in d: raise ValueError('duplicate key')
        d[k] = val
    return d


def reject(_):
    raise ValueError('non-finite number')


def rand_text(rng):
    pools = ['abc xyz', '\u00e9\u00fc\u00df', '\u20ac\u4e2d\u6587', '\U0001F600\U00010348',
             '"\\/\'', '\x00\x01\x1f\b\t\n\f\r\x7f']
    return ''.join(rng.choice(rng.choice(pools)) for _ in range(rng.randrange(0, 12)))


def rand_value(rng, level):
    kind = rng.randrange(10 if level < 6 else 7)
    if kind == 0: return None
    if kind == 1: return rng.random() < 0.5
    if kind == 2: return rng.randrange(-2**63, 2**63)
    if kind == 3: return rng.choice([0, -1, 7, 2**31, -2**53])
    if kind == 4: return rng.choice([rng.uniform(-1e6, 1e6), rng.uniform(-1, 1) * 10 ** rng.randrange(-5, 300), 0.5, -0.0])
    if kind in (5, 6): return rand_text(rng)
    if kind in (7, 8):
        return {rand_text(rng) + str(i): rand_value(rng, level + 1) for i in range(rng.randrange(0, 6))}
    return [rand_value(rng, level + 1) for _ in range(rng.randrange(0, 6))]


ENCODINGS = ['utf-8', 'utf-8-sig', 'utf-16-le-bom', 'utf-16-be-bom']


def encode(text, how):
    if how == 'utf-16-le-bom': return b'\xff\xfe' + text.encode('utf-16-le')
    if how == 'utf-16-be-bom': return b'\xfe\xff' + text.encode('utf-16-be')
    return text.encode(how)


def emit(out, name, raw, value):
    with open(os.path.join(out, name + '.json'), 'wb') as f: f.write(raw)
    with open(os.path.join(out, name + '.expected'), 'wb') as f: f.write(canon(value).encode('utf-8'))


def main():
    out = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 150
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20240229)
    for i in range(60):
        value = {'root': rand_value(rng, 1)} if i % 2 else [rand_value(rng, 1) for _ in range(4)]
        text = json.dumps(value, ensure_ascii=bool(i % 3 == 0), indent=(2 if i % 4 == 1 else None))
        emit(out, 'gen%02d' % i, encode(text, ENCODINGS[i % 4]), value)
    found = 0
    for root, _, files in sorted(os.walk('/usr/share')):
        for f in sorted(files):
            if not f.endswith('.json') or found >= limit: continue
            path = os.path.join(root, f)
            try:
                if os.path.getsize(path) > 4 << 20: continue
                raw = open(path, 'rb').read()
                value = json.loads(raw.decode('utf-8'), object_pairs_hook=no_dupes, parse_constant=reject)
                if not isinstance(value, (dict, list)) or depth(value) >= 99: continue
                canon(value).encode('utf-8')  # lone surrogates cannot be compared
            except Exception:
                continue
            found += 1
            emit(out, 'share%03d' % found, raw, value)
    print(found)


main()
