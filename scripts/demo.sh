#!/usr/bin/env bash
# Builds the runner and the packer, packs examples/demo into build/demo/ and starts it:
# the browser opens on the start page (without one, the URL is printed). Ctrl+C stops
# the content server. Extra arguments become parameters of the start URL.
set -u
cd "$(dirname "$0")/.."
. scripts/deps.sh
cx_need_packages "${CX_NATIVE_PACKAGES[@]}" || exit 1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build -j "$(nproc)" --target contentexe contentexe-pack || exit 1
if [ ! -x build/bin/contentexe ] || [ ! -x build/bin/contentexe-pack ]; then
  echo "The runner (build/bin/contentexe) and the packer (build/bin/contentexe-pack) are not built yet." >&2
  exit 1
fi
mkdir -p build/demo
build/bin/contentexe-pack examples/demo -o build/demo/demo --force \
  --start welcome --caption "contentexe demo" || exit 1
echo "Packed examples/demo into build/demo/demo; starting it." >&2
exec build/demo/demo "$@"
