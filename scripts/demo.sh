#!/usr/bin/env bash
# Builds the runner and the packer, packs examples/demo into build/demo/ and starts it:
# the browser opens on the start page (without one, the URL is printed).
set -u
cd "$(dirname "$0")/.."
. scripts/deps.sh
cx_need_packages "${CX_NATIVE_PACKAGES[@]}" || exit 1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build -j "$(nproc)" || exit 1
if [ ! -x build/bin/contentexe ] || [ ! -x build/bin/contentexe-pack ]; then
  echo "The runner (build/bin/contentexe) and the packer (build/bin/contentexe-pack) are not built yet." >&2
  exit 1
fi
mkdir -p build/demo
build/bin/contentexe-pack examples/demo -o build/demo/demo --force || exit 1
exec build/demo/demo "$@"
