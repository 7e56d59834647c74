#!/usr/bin/env bash
# Rebuilds branding_probe.exe, the small Windows program whose resources (made by
# windres and GNU ld: two icon groups, a version resource with RegistryBranch, a
# manifest and a named RCDATA entry, followed by .reloc, debug sections and a symbol
# table) the packer's resource tests rewrite. Needs the mingw-w64 toolchain.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp branding_probe.c branding_probe.rc "$work"
python3 - "$work/branding_probe.ico" <<'PY'
import struct, sys, zlib
def png(size):  # opaque blue, 8-bit RGBA
    raw = b''.join(b'\0' + bytes((0, 0, 255, 255)) * size for _ in range(size))
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
images = [png(16), png(32)]
out, at = struct.pack('<HHH', 0, 1, len(images)), 6 + 16 * len(images)
for size, image in zip((16, 32), images):
    out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), at)
    at += len(image)
open(sys.argv[1], 'wb').write(out + b''.join(images))
PY
cd "$work"
x86_64-w64-mingw32-windres branding_probe.rc -O coff -o branding_probe.res
x86_64-w64-mingw32-gcc -g1 -nostdlib -e start -Wl,--dynamicbase -o branding_probe.exe \
  branding_probe.c branding_probe.res
cp branding_probe.exe "$OLDPWD/"
