#!/usr/bin/env bash
# Builds and runs every test: the native Linux build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, a replay of the libFuzzer targets over
# their checked-in seeds (scripts/fuzz.sh --replay; exploring is scripts/fuzz.sh), and
# the Windows builds (x86_64 run under Wine; i686 run where the machine has 32-bit Wine).
#
#   scripts/test.sh                 everything
#   CX_STAGES="native asan" scripts/test.sh   only some stages
set -u
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh

stages=${CX_STAGES:-"native asan fuzz win64 win32"}
jobs=${CX_JOBS:-$(nproc 2>/dev/null || echo 2)}
passed=0
failed=0
failures=()

has_stage() { case " $stages " in *" $1 "*) return 0 ;; esac; return 1; }

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  echo "== $name: running tests"
  local log="$dir/ctest.log"
  (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
  local total fail
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
  fail=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  if [ -z "$total" ]; then
    failed=$((failed + 1))
    failures+=("$name: ctest did not finish")
    return
  fi
  passed=$((passed + total - fail))
  failed=$((failed + fail))
  if [ "$fail" -ne 0 ]; then
    # Names the failed tests again at the end, where a truncated log still shows them.
    failures+=("$name: $fail of $total failed:$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\)$/ \1/p' "$log" | tr -d '\n')")
  fi
}

build() {
  local name=$1 dir=$2
  shift 2
  echo "== $name: configuring and building in $dir"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"
    failed=$((failed + 1))
    failures+=("$name: configure failed")
    return 1
  fi
  if ! cmake --build "$dir" -j "$jobs" ${CX_BUILD_TARGETS:+--target $CX_BUILD_TARGETS}; then
    failed=$((failed + 1))
    failures+=("$name: build failed")
    return 1
  fi
}

# Everything is installed before anything is built or run: a Wine prefix made before
# 32-bit Wine exists cannot run 32-bit programs later.
cx_need_packages "${CX_NATIVE_PACKAGES[@]}" || exit 1
has_stage fuzz && { cx_need_packages "${CX_FUZZ_PACKAGES[@]}" || exit 1; }
if has_stage win64 || has_stage win32; then
  cx_need_packages "${CX_WINDOWS_PACKAGES[@]}" || exit 1
fi
wine32=0
if has_stage win32; then
  cx_try_wine32 && wine32=1
fi
mkdir -p build

if has_stage native; then
  build native build -DCMAKE_BUILD_TYPE=RelWithDebInfo && run_ctest native build
fi

if has_stage asan; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  build asan build-asan -DCMAKE_BUILD_TYPE=Debug -DCONTENTEXE_SANITIZE=ON && run_ctest asan build-asan
fi

if has_stage fuzz; then
  fuzz_log=$(mktemp)
  scripts/fuzz.sh --replay 2>&1 | tee "$fuzz_log"
  counts=$(sed -n 's/^fuzz: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$fuzz_log" | tail -1)
  if [ -z "$counts" ]; then
    failed=$((failed + 1))
    failures+=("fuzz: the replay did not finish")
  else
    passed=$((passed + ${counts% *}))
    failed=$((failed + ${counts#* }))
    while IFS= read -r line; do failures+=("${line#FAILED: }"); done < <(grep '^FAILED: ' "$fuzz_log")
  fi
  rm -f "$fuzz_log"
fi

# One throwaway Wine prefix per architecture, each made by its own loader once that
# loader exists, and started once (wineboot) before any test runs in it, so no test pays
# for the first start of a new prefix. Then a persistent wineserver and the prefix's
# services are started outside any test and kept until the stage ends: a server and
# services launched by a test would inherit that test's output pipes and keep ctest
# waiting long after the test has ended.
wine_prefixes=()
wineserver=/usr/lib/wine/wineserver
setup_wine() {
  local arch=$1 loader=$2
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d "/tmp/cx-wine-$arch.XXXXXX")
  wine_prefixes+=("$WINEPREFIX")
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export CX_WINE_XVFB=1
  echo "== wine: new $arch prefix $WINEPREFIX"
  # The loader that makes the prefix fixes its architecture (a server started first
  # would make any prefix a 64-bit one).
  if [ "$arch" = win32 ]; then
    WINEARCH=win32 timeout 300 "$loader" wineboot -i </dev/null >/dev/null 2>&1
  else
    timeout 300 "$loader" wineboot -i </dev/null >/dev/null 2>&1
  fi
  timeout 120 "$wineserver" -w
  "$wineserver" -p </dev/null >/dev/null 2>&1
  timeout 120 "$loader" wineboot </dev/null >/dev/null 2>&1
  # Python does not run inside Wine: the JSON round-trip corpus is made here.
  export CX_JSON_CORPUS=$WINEPREFIX/json-corpus
  python3 json/testdata/make_corpus.py "$CX_JSON_CORPUS" >/dev/null 2>&1 || unset CX_JSON_CORPUS
}
end_wine() {
  [ -n "${WINEPREFIX:-}" ] && "$wineserver" -k >/dev/null 2>&1
  unset WINEPREFIX
}

if has_stage win64; then
  if build win64 build-win64 -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake; then
    setup_wine win64 /usr/lib/wine/wine64
    run_ctest win64 build-win64
    end_wine
  fi
fi

if has_stage win32; then
  if build win32 build-win32 -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake; then
    if [ $wine32 -eq 1 ]; then
      setup_wine win32 /usr/lib/wine/wine
      run_ctest win32 build-win32
      end_wine
    else
      echo "== win32: built and linked; not run: this machine has no 32-bit Wine (package wine32) or cannot run 32-bit programs."
    fi
  fi
fi
for p in "${wine_prefixes[@]}"; do rm -rf "$p"; done

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
