#!/usr/bin/env bash
# Builds the release files into dist/ from the committed tree (HEAD), reproducibly:
#
#   scripts/release.sh [VERSION]            build dist/ (VERSION: CMakeLists.txt's by default)
#   scripts/release.sh --verify [VERSION]   build twice, side by side in two different
#                                           folders (/tmp and build-release-b.*), compare
#                                           every file byte for byte, then --check the result
#   scripts/release.sh --check              try dist/ as a user would: the Windows zip alone
#                                           in a fresh Wine prefix, the tarball on Linux
#
# dist/ then holds:
#   contentexe-VERSION-windows.zip        contentexe-pack.exe (x86_64), the runners
#                                         contentexe-x64.exe and contentexe-x86.exe,
#                                         README.txt, licenses/
#   contentexe-VERSION-linux-x86_64.tar.gz  contentexe-VERSION-linux-x86_64/: contentexe-pack,
#                                         contentexe, README.txt, licenses/
#   SHA256SUMS
#
# Only what is committed is built (git archive HEAD into a folder of its own), with
# Release flags, no compiler cache, and nothing that depends on the folder or the clock:
# source paths are mapped (-ffile-prefix-map), programs are stripped, PE time stamps are
# left out (--no-insert-timestamp), SOURCE_DATE_EPOCH is the commit's time, and archive
# entries are sorted with that time, fixed modes and owners. The test command does not
# run this: a release build takes minutes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=build
case ${1:-} in
  --verify) mode=verify; shift ;;
  --check) mode=check; shift ;;
  -h | --help) sed -n '2,25p' "$0"; exit 0 ;;
esac
version=${1:-$(sed -nE 's/^project\(contentexe VERSION ([^ )]+).*/\1/p' "$root/CMakeLists.txt")}
if ! [[ $version =~ ^[0-9]+(\.[0-9]+){0,3}([-+][0-9A-Za-z.-]+)?$ ]]; then
  echo "release: '$version' is not a version (use numbers like 1.2.0, optionally -rc1)" >&2
  exit 2
fi
dist=$root/dist
jobs=${CX_RELEASE_JOBS:-2}

source "$root/scripts/deps.sh"

# Licence texts of what the programs link in, from the Debian packages they are built
# with: zlib in every program, stb where the packer uses it, and on Windows the
# mingw-w64 runtime (its C start-up code and winpthreads) that -static puts in each .exe.
# libstdc++ and libgcc come under the GCC Runtime Library Exception, which asks for none.
licences() { # windows|linux src out
  local kind=$1 src=$2 out=$3
  mkdir -p "$out"
  if [ "$kind" = windows ]; then
    cp /usr/share/doc/libz-mingw-w64/copyright "$out/zlib.txt"
    cp /usr/share/doc/mingw-w64-common/copyright "$out/mingw-w64-runtime.txt"
  else
    cp /usr/share/doc/zlib1g/copyright "$out/zlib.txt"
  fi
  if grep -rqs --include='*.cpp' --include='*.h' '#include <stb' "$src"; then
    cp /usr/share/doc/libstb-dev/copyright "$out/stb.txt"
  fi
}

readme() { # windows|linux out
  if [ "$1" = windows ]; then
    sed -e "s/@VERSION@/$version/g" -e "s/@COMMIT@/$commit/g" -e 's/$/\r/' \
      "$root/scripts/release-README-windows.txt" >"$2"
  else
    sed -e "s/@VERSION@/$version/g" -e "s/@COMMIT@/$commit/g" \
      "$root/scripts/release-README-linux.txt" >"$2"
  fi
}

# A zip of folder's files at its top, sorted, with the commit's time and fixed modes
# (programs 0755, texts 0644), deflated.
make_zip() { # folder out.zip
  python3 - "$1" "$2" "$SOURCE_DATE_EPOCH" <<'EOF'
import os, sys, time, zipfile
folder, out, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
names = sorted(os.path.relpath(os.path.join(d, f), folder).replace(os.sep, "/")
               for d, _, files in os.walk(folder) for f in files)
with zipfile.ZipFile(out, "w") as z:
    for name in names:
        info = zipfile.ZipInfo(name, stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3
        mode = 0o755 if name.endswith(".exe") else 0o644
        info.external_attr = (0o100000 | mode) << 16
        with open(os.path.join(folder, name), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
EOF
}

make_tar() { # parent folder-name out.tar.gz
  tar -C "$1" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --mode='u+rwX,go+rX,go-w' --format=gnu -cf - "$2" | gzip -n -9 >"$3"
}

# One configuration: build/NAME from src with the toolchain file (or none) given.
build_one() { # work name [toolchain]
  local work=$1 name=$2 toolchain=${3:-}
  local map="-ffile-prefix-map=$work=/contentexe"
  local link="-s"
  local args=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCONTENTEXE_TESTS=OFF
    -DCONTENTEXE_VERSION="$version" -DCONTENTEXE_COMMIT="$commit")
  if [ -n "$toolchain" ]; then
    args+=(-DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/$toolchain")
    link+=" -Wl,--no-insert-timestamp"
  else
    # Only the C library stays shared: zlib, libstdc++ and libgcc go into the programs.
    args+=(-DZLIB_USE_STATIC_LIBS=ON)
    link+=" -static-libstdc++ -static-libgcc"
  fi
  echo "== release: building $name"
  env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
    cmake -S "$work/src" -B "$work/$name" "${args[@]}" \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" \
    -DCMAKE_EXE_LINKER_FLAGS="$link" >"$work/$name.log"
  cmake --build "$work/$name" --target contentexe contentexe-pack -j "$jobs" >>"$work/$name.log" ||
    { tail -30 "$work/$name.log" >&2; echo "release: the $name build failed (log: $work/$name.log)" >&2; return 1; }
}

# The whole release from HEAD, built in work, written to out.
release() { # work out
  local work=$1 out=$2
  rm -rf "$work" && mkdir -p "$work/src" "$out"
  git -C "$root" archive --format=tar HEAD | tar -x -C "$work/src"
  build_one "$work" linux
  build_one "$work" win64 mingw-x86_64.cmake
  build_one "$work" win32 mingw-i686.cmake

  local win=$work/stage-windows lin=$work/stage-linux/contentexe-$version-linux-x86_64
  mkdir -p "$win" "$lin"
  cp "$work/win64/bin/contentexe-pack.exe" "$win/contentexe-pack.exe"
  cp "$work/win64/bin/contentexe.exe" "$win/contentexe-x64.exe"
  cp "$work/win32/bin/contentexe.exe" "$win/contentexe-x86.exe"
  readme windows "$win/README.txt"
  licences windows "$work/src" "$win/licenses"
  cp "$work/linux/bin/contentexe-pack" "$work/linux/bin/contentexe" "$lin/"
  readme linux "$lin/README.txt"
  licences linux "$work/src" "$lin/licenses"

  rm -f "$out"/contentexe-*.zip "$out"/contentexe-*.tar.gz "$out/SHA256SUMS"
  make_zip "$win" "$out/contentexe-$version-windows.zip"
  make_tar "$work/stage-linux" "contentexe-$version-linux-x86_64" \
    "$out/contentexe-$version-linux-x86_64.tar.gz"
  (cd "$out" && sha256sum contentexe-"$version"-* >SHA256SUMS)
}

# --- the check: the release as a user gets it -------------------------------------------

check_failed=0
ok() { echo "   ok: $*"; }
bad() { echo "   FAILED: $*" >&2; check_failed=1; }

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to 60 s for marker in the page at url.
serves() { # url marker
  local deadline=$((SECONDS + 60))
  while [ $SECONDS -lt $deadline ]; do
    curl -fsS --max-time 5 "$1" 2>/dev/null | grep -q "$2" && return 0
    sleep 1
  done
  return 1
}

# True when file is a PE program for machine (0x8664: x86_64, 0x14c: i386).
pe_machine_is() { # file machine
  python3 - "$1" "$2" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
offset = struct.unpack_from("<I", data, 60)[0]
sys.exit(data[offset:offset + 4] != b"PE\0\0" or
         struct.unpack_from("<H", data, offset + 4)[0] != int(sys.argv[2], 16))
EOF
}

check_linux() { # tmp
  local tmp=$1 port dir=$1/contentexe-$version-linux-x86_64
  echo "== check: the Linux tarball"
  tar -xzf "$dist/contentexe-$version-linux-x86_64.tar.gz" -C "$tmp"
  "$dir/contentexe-pack" --version | grep -q "^contentexe-pack $version (commit $commit" &&
    ok "contentexe-pack --version" || bad "contentexe-pack --version: $("$dir/contentexe-pack" --version)"
  "$dir/contentexe" --version | grep -q "^contentexe $version (commit $commit" &&
    ok "contentexe --version" || bad "contentexe --version: $("$dir/contentexe" --version)"
  mkdir -p "$tmp/site"
  echo '<!doctype html><title>t</title><p>linux release page</p>' >"$tmp/site/index.html"
  port=$(free_port)
  "$dir/contentexe-pack" "$tmp/site" -o "$tmp/site-linux" --port "$port" >"$tmp/pack.log" 2>&1 ||
    bad "packing: $(cat "$tmp/pack.log")"
  BROWSER=true XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp "$tmp/site-linux" \
    >"$tmp/run.log" 2>&1 &
  local pid=$!
  serves "http://127.0.0.1:$port/index.html" "linux release page" &&
    ok "the packed program serves its page" || bad "no page from the packed program ($(cat "$tmp/run.log"))"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
}

check_windows() { # tmp
  local tmp=$1 zip=$dist/contentexe-$version-windows.zip
  local wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine server=/usr/lib/wine/wineserver
  echo "== check: the Windows zip in a fresh Wine prefix"
  export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winebrowser.exe=d'
  # One X display for every Windows program of the check, so their windows can be found.
  local display=99 xvfb
  while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=:$display
  timeout 300 "$wine64" wineboot -i </dev/null >/dev/null 2>&1 || true
  local c=$WINEPREFIX/drive_c
  mkdir -p "$c/contentexe" "$c/site"
  (cd "$c/contentexe" && unzip -q "$zip")
  echo '<!doctype html><title>t</title><p>windows release page</p>' >"$c/site/index.html"
  local pack=(timeout 120 "$wine64" 'C:\contentexe\contentexe-pack.exe')
  "${pack[@]}" --version 2>/dev/null </dev/null | tr -d '\r' |
    grep -q "^contentexe-pack $version (commit $commit" &&
    ok "contentexe-pack.exe --version" || bad "contentexe-pack.exe --version"

  local arch port loader pid machine
  for arch in x64 x86; do
    port=$(free_port)
    loader=$wine64
    [ $arch = x86 ] && loader=$wine32
    if ! "${pack[@]}" 'C:\site' -o "C:\\site-$arch.exe" --port "$port" --arch $arch \
      </dev/null >"$tmp/pack-$arch.log" 2>&1; then
      bad "packing with --arch $arch: $(tr -d '\r' <"$tmp/pack-$arch.log")"
      continue
    fi
    ok "packed with --arch $arch"
    # The packed program carries the runner of the architecture asked for.
    machine=$([ $arch = x86 ] && echo 0x14c || echo 0x8664)
    pe_machine_is "$c/site-$arch.exe" "$machine" &&
      ok "site-$arch.exe is a $arch program (PE machine $machine)" ||
      bad "site-$arch.exe is not a $arch program"
    if [ $arch = x86 ] && ! cx_wine32_runs; then
      if [ -x "$loader" ]; then
        echo "   NOT RUN: the x86 program was built and packed, but this machine cannot start"
        echo "            32-bit programs (32-bit Wine is installed and fails to start: the kernel"
        echo "            runs no 32-bit code); run --check on a machine that can"
      else
        echo "   NOT RUN: the x86 program was built and packed, but 32-bit Wine (wine32:i386)"
        echo "            is not installed here; install it and run --check again"
      fi
      continue
    fi
    "$loader" "C:\\site-$arch.exe" </dev/null >"$tmp/run-$arch.log" 2>&1 &
    pid=$!
    serves "http://127.0.0.1:$port/index.html" "windows release page" &&
      ok "the $arch program serves its page" || bad "no page from the $arch program"
    "$server" -k 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  # Without --arch the runner is the 64-bit one.
  "${pack[@]}" 'C:\site' -o 'C:\site-default.exe' </dev/null >/dev/null 2>&1 &&
    pe_machine_is "$c/site-default.exe" 0x8664 &&
    ok "the default runner is contentexe-x64.exe" || bad "the default runner is not the 64-bit one"

  # A folder dropped on the packer: Explorer starts it with the folder as only argument
  # in a console of its own (start gives it one). It writes site.exe beside the folder
  # and waits with a message box titled "contentexe-pack" until that is closed.
  "$wine64" start /wait 'C:\contentexe\contentexe-pack.exe' 'C:\site' </dev/null >"$tmp/drop.log" 2>&1 &
  pid=$!
  local box="" deadline=$((SECONDS + 60))
  while [ $SECONDS -lt $deadline ] && [ -z "$box" ]; do
    sleep 1
    box=$(xwininfo -root -tree 2>/dev/null | grep '"contentexe-pack"' || true)
  done
  [ -f "$c/site.exe" ] && ok "the dropped folder became site.exe" || bad "no site.exe after the drop"
  [ -n "$box" ] && ok "the message box shows the result" || bad "no message box from the drop"
  "$server" -k 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null || true
  unset WINEPREFIX DISPLAY
}

check() {
  [ -f "$dist/SHA256SUMS" ] || { echo "release: no dist/SHA256SUMS; build first" >&2; exit 1; }
  echo "== check: dist/ against version $version, commit $commit (HEAD; a dist/ built from" \
    "another commit fails the --version steps: build again)"
  (cd "$dist" && sha256sum -c --quiet SHA256SUMS) && ok "SHA256SUMS match" || bad "SHA256SUMS"
  local tmp
  tmp=$(mktemp -d /tmp/cx-release-check.XXXXXX)
  check_linux "$tmp"
  check_windows "$tmp"
  rm -rf "$tmp"
  if [ $check_failed -ne 0 ]; then
    echo "release: the check FAILED" >&2
    exit 1
  fi
  echo "release: the check passed"
}

# -----------------------------------------------------------------------------------------

cx_need_packages "${CX_NATIVE_PACKAGES[@]}" "${CX_WINDOWS_PACKAGES[@]}" git
commit=$(git -C "$root" rev-parse --short=12 HEAD)
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct HEAD)
export TZ=UTC LC_ALL=C
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "release: note: uncommitted changes are not part of the release (it builds HEAD, $commit)"
fi

case $mode in
  build)
    release "$root/build-release" "$dist"
    echo "== release $version ($commit) in dist/:"
    (cd "$dist" && ls -l contentexe-"$version"-* && cat SHA256SUMS)
    ;;
  verify)
    a=$(mktemp -d /tmp/cx-release-a.XXXXXX)
    b=$(mktemp -d "$root/build-release-b.XXXXXX")
    # One after the other, so each build has the cores to itself and its time says so.
    for run in "$a" "$b"; do
      echo "== release build in $run"
      start=$SECONDS
      # In the background so that errexit holds inside (it is off on the left of ||).
      release "$run/work" "$run/dist" >"$run/release.log" 2>&1 &
      wait $! || { cat "$run/release.log" >&2
        echo "release: the build in $run failed; folders kept: $a $b" >&2; exit 1; }
      echo "== built in $((SECONDS - start)) s"
    done
    echo "== first build ($a):"
    cat "$a/dist/SHA256SUMS"
    echo "== second build ($b):"
    cat "$b/dist/SHA256SUMS"
    same=1
    for f in "$a/dist"/*; do
      cmp -s "$f" "$b/dist/$(basename "$f")" || { echo "DIFFERENT: $(basename "$f")" >&2; same=0; }
    done
    if [ $same -ne 1 ]; then
      echo "release: the two builds differ; their folders are kept: $a $b" >&2
      exit 1
    fi
    echo "release: the two builds are identical"
    mkdir -p "$dist"
    rm -f "$dist"/contentexe-*.zip "$dist"/contentexe-*.tar.gz "$dist/SHA256SUMS"
    cp "$a/dist"/* "$dist/"
    (cd "$dist" && ls -l contentexe-"$version"-*)
    rm -rf "$a" "$b"
    check
    ;;
  check)
    check
    ;;
esac
