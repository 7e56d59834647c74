#!/usr/bin/env bash
# Packs the Windows locator_probe.exe, code-signs it afterwards with osslsigncode and a
# throwaway certificate, and runs the copies under Wine: the probe must still find its
# archive before the certificate table, and must refuse layouts the locator does not
# accept (padding longer than 7 bytes or not zero, a table that does not end the file,
# a damaged footer).
#
# Usage: signed_probe_test.sh path/to/locator_probe.exe
# Exit 0: all checks passed; 1: a check failed; 77: a host tool is missing (skipped).
set -u

probe=${1:?usage: signed_probe_test.sh locator_probe.exe}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../scripts/wine-run.sh

skip() {
  echo "SKIP: $*"
  exit 77
}
for tool in osslsigncode openssl python3; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
have_wine=
for c in /usr/lib/wine/wine64 wine64 /usr/lib/wine/wine wine; do
  if command -v "$c" >/dev/null 2>&1; then have_wine=1; break; fi
done
[ -n "$have_wine" ] || skip "wine is not installed"
[ -f "$probe" ] || { echo "FAIL: no probe program at $probe"; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/cx-signed-probe.XXXXXX")
own_prefix=
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$tmp/wineprefix
  own_prefix=1
fi
cleanup() {
  # A prefix made here has its own wineserver: stop that one only, then drop the folder.
  if [ -n "$own_prefix" ] && command -v wineserver >/dev/null 2>&1; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Byte surgery on program files, kept in one Python helper so every layout is computed
# from the file itself rather than from assumptions about the linker's output.
#   pack PROBE OUT          -> appends a 3-entry ZIP and the footer; prints
#                              "start size crc" (the archive's offset, length, CRC-32)
#   relayout SIGNED PACKLEN PAD OUT [TAIL]
#                           -> keeps the first PACKLEN bytes, then PAD (hex bytes), then the
#                              certificate table, pointing the security directory at it;
#                              TAIL (hex) is appended after the table
#   poke IN OFFSET HEX OUT  -> overwrites bytes at OFFSET (negative: from the end)
#   table SIGNED            -> prints "offset size" of the security directory
helper() {
  python3 - "$@" <<'PYTHON'
import io, struct, sys, zipfile, zlib

def security_entry(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    count_at = pe + 24 + (92 if magic == 0x10B else 108)
    return count_at + 4 + 4 * 8

cmd = sys.argv[1]
if cmd == "pack":
    image = open(sys.argv[2], "rb").read()
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr("index.html", "<html><body>signed</body></html>", zipfile.ZIP_DEFLATED)
        z.writestr("media/data.bin", bytes(range(256)) * 300, zipfile.ZIP_STORED)
        z.writestr("style/site.css", "body { color: #123; }\n" * 50, zipfile.ZIP_DEFLATED)
    archive = buf.getvalue()
    # A comment lengthens the archive so the packed file does not end on an 8-byte
    # boundary: the signing tool then has to pad before the certificate table.
    comment_len = 0
    while (len(image) + len(archive) + comment_len + 16) % 8 != 3:
        comment_len += 1
    if comment_len:
        archive = archive[:-2] + struct.pack("<H", comment_len) + b"c" * comment_len
    footer = b"KVLEXEFTR\0\0\0" + struct.pack("<I", len(archive))
    open(sys.argv[3], "wb").write(image + archive + footer)
    print(len(image), len(archive), "%08x" % zlib.crc32(archive))
elif cmd == "relayout":
    data = open(sys.argv[2], "rb").read()
    pack_len = int(sys.argv[3])
    pad = bytes.fromhex(sys.argv[4])
    tail = bytes.fromhex(sys.argv[6]) if len(sys.argv) > 6 else b""
    entry = security_entry(data)
    offset, size = struct.unpack_from("<II", data, entry)
    assert offset + size == len(data), "certificate table does not end the signed file"
    assert all(b == 0 for b in data[pack_len:offset]), "signing changed the packed bytes"
    out = bytearray(data[:pack_len] + pad + data[offset:] + tail)
    struct.pack_into("<I", out, entry, pack_len + len(pad))
    open(sys.argv[5], "wb").write(out)
elif cmd == "poke":
    data = bytearray(open(sys.argv[2], "rb").read())
    at = int(sys.argv[3])
    if at < 0:
        at += len(data)
    patch = bytes.fromhex(sys.argv[4])
    data[at:at + len(patch)] = patch
    open(sys.argv[5], "wb").write(data)
elif cmd == "table":
    data = open(sys.argv[2], "rb").read()
    print(*struct.unpack_from("<II", data, security_entry(data)))
PYTHON
}

# Runs a copy under Wine; sets probe_out (key=value lines, CR stripped) and probe_rc.
run_probe() {
  "$wine_run" "$1" >"$tmp/stdout.txt" 2>"$tmp/stderr.txt"
  probe_rc=$?
  probe_out=$(tr -d '\r' <"$tmp/stdout.txt")
}
value() { printf '%s\n' "$probe_out" | sed -n "s/^$1=//p" | head -n 1; }

# Expects the probe to open the archive at start/size/crc with 3 entries.
expect_found() {
  local what=$1 file=$2
  run_probe "$file"
  local got
  got="rc=$probe_rc found=$(value found) start=$(value start) size=$(value size)"
  got="$got crc=$(value crc) open=$(value open) entries=$(value entries) closed=$(value closed)"
  local want="rc=0 found=1 start=$start size=$size crc=$crc open=0 entries=3 closed=1"
  if [ "$got" = "$want" ]; then
    echo "ok: $what"
  else
    fail "$what: got [$got], want [$want]"
    sed 's/^/  wine: /' "$tmp/stderr.txt" | tail -n 5
  fi
}

# Expects the probe to report no archive, release cleanly and exit 1.
expect_refused() {
  local what=$1 file=$2
  run_probe "$file"
  local got
  got="rc=$probe_rc found=$(value found) closed=$(value closed)"
  if [ "$got" = "rc=1 found=0 closed=1" ]; then
    echo "ok: $what"
  else
    fail "$what: got [$got], want [rc=1 found=0 closed=1]"
    sed 's/^/  wine: /' "$tmp/stderr.txt" | tail -n 5
  fi
}

# Throwaway signing certificate.
if ! openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=cx-signed-probe \
  -keyout "$tmp/key.pem" -out "$tmp/cert.pem" >"$tmp/openssl.txt" 2>&1; then
  cat "$tmp/openssl.txt"
  echo "FAIL: openssl could not make a certificate"
  exit 1
fi

cp "$probe" "$tmp/plain.exe"
read -r start size crc < <(helper pack "$probe" "$tmp/packed.exe") || true
if [ -z "${crc:-}" ]; then
  echo "FAIL: could not pack the probe"
  exit 1
fi
pack_len=$(stat -c %s "$tmp/packed.exe")
if ! osslsigncode sign -certs "$tmp/cert.pem" -key "$tmp/key.pem" -n cx-signed-probe \
  -in "$tmp/packed.exe" -out "$tmp/signed.exe" >"$tmp/sign.txt" 2>&1; then
  cat "$tmp/sign.txt"
  echo "FAIL: osslsigncode could not sign the packed probe"
  exit 1
fi

# The signature must really sit after the footer, behind alignment padding, or the signed
# case below would only repeat the unsigned one.
read -r table_offset table_size < <(helper table "$tmp/signed.exe")
signed_len=$(stat -c %s "$tmp/signed.exe")
pad_len=$((table_offset - pack_len))
if [ $((table_offset + table_size)) -ne "$signed_len" ] || [ "$pad_len" -lt 1 ] ||
  [ "$pad_len" -gt 7 ] || [ $((table_offset % 8)) -ne 0 ]; then
  fail "unexpected signed layout: packed $pack_len, table at $table_offset size $table_size, file $signed_len"
fi
echo "signed: archive at $start ($size bytes), $pad_len padding bytes, table at $table_offset"

echo "first Wine start in $WINEPREFIX may take a while"
expect_refused "probe without an archive" "$tmp/plain.exe"
expect_found "packed, unsigned" "$tmp/packed.exe"
expect_found "packed, then signed by osslsigncode" "$tmp/signed.exe"

# Padding the locator accepts: none, and the most an 8-byte alignment can need.
helper relayout "$tmp/signed.exe" "$pack_len" "" "$tmp/pad0.exe"
expect_found "certificate table right after the footer" "$tmp/pad0.exe"
helper relayout "$tmp/signed.exe" "$pack_len" 00000000000000 "$tmp/pad7.exe"
expect_found "7 zero bytes before the certificate table" "$tmp/pad7.exe"

# Layouts it refuses.
helper relayout "$tmp/signed.exe" "$pack_len" 0000000000000000 "$tmp/pad8.exe"
expect_refused "8 zero bytes before the certificate table" "$tmp/pad8.exe"
helper relayout "$tmp/signed.exe" "$pack_len" 000001 "$tmp/padx.exe"
expect_refused "padding that is not zero bytes" "$tmp/padx.exe"
helper relayout "$tmp/signed.exe" "$pack_len" "" "$tmp/tail.exe" 00
expect_refused "a byte after the certificate table" "$tmp/tail.exe"
helper poke "$tmp/signed.exe" $((pack_len - 16)) 4b564c45584546545a "$tmp/magic.exe"
expect_refused "signed copy with a damaged footer magic" "$tmp/magic.exe"
helper poke "$tmp/signed.exe" $((pack_len - 4)) 00000000 "$tmp/zero.exe"
expect_refused "signed copy whose footer length is 0" "$tmp/zero.exe"
too_long=$(printf '%08x' $((start + size + 1)))
le=${too_long:6:2}${too_long:4:2}${too_long:2:2}${too_long:0:2}
helper poke "$tmp/signed.exe" $((pack_len - 4)) "$le" "$tmp/long.exe"
expect_refused "signed copy whose archive is longer than the file" "$tmp/long.exe"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all signed-probe checks passed"
