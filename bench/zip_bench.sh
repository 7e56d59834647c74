#!/bin/sh
# ZIP reader timings against zlib's crc32 and Info-ZIP unzip. Needs build-zip (cx_zip and
# cx_utils built) and zip/unzip. Usage: bench/zip_bench.sh [build folder]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-zip}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
libs="$build/zip/libcx_zip.a $build/utils/libcx_utils.a"
g++ -std=c++20 -O2 -I"$root" "$root/bench/zip_bench.cpp" $libs -lz -lpthread -o "$work/zip_bench"
cd "$work"
head -c 200000000 /dev/urandom > big.bin
seq 1 3000000 | head -c 20000000 > mid.bin
zip -q -0 big.zip big.bin && zip -q big.zip mid.bin
mkdir many && (cd many && seq 1 10000 | xargs -n 500 touch) && (cd many && zip -q -r ../many.zip .)
./zip_bench big.zip many.zip
for entry in big.bin mid.bin; do
  start=$(date +%s.%N)
  unzip -p big.zip "$entry" > /dev/null
  echo "unzip -p $entry: $(echo "$(date +%s.%N) - $start" | bc) s"
done
