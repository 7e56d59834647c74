#!/usr/bin/env bash
# Builds and runs every test: the native Linux build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the libFuzzer targets for a short
# bounded time, and the Windows builds (x86_64 run under Wine; i686 run where the
# machine has 32-bit Wine).
#
#   scripts/test.sh                 everything
#   CX_STAGES="native asan" scripts/test.sh   only some stages
#   CX_FUZZ_SECONDS=20              seconds per fuzz target (default 15)
set -u
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh

stages=${CX_STAGES:-"native asan fuzz win64 win32"}
jobs=${CX_JOBS:-$(nproc 2>/dev/null || echo 2)}
fuzz_seconds=${CX_FUZZ_SECONDS:-15}
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

# What a failed fuzz run found, in a line: the sanitizer's summary and the input that
# triggered it (base64, when short), so it can be replayed from the log alone.
fuzz_fault() {
  local log=$1 artifact
  grep -m1 -E '^SUMMARY: |ERROR: libFuzzer' "$log" | cut -c1-200
  artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  if [ -n "$artifact" ] && [ -f "$artifact" ]; then
    if [ "$(stat -c %s "$artifact")" -le 2048 ]; then
      echo "input (base64): $(base64 -w0 "$artifact")"
    else
      echo "input: $artifact"
    fi
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

cx_need_packages "${CX_NATIVE_PACKAGES[@]}" || exit 1
has_stage fuzz && { cx_need_packages "${CX_FUZZ_PACKAGES[@]}" || exit 1; }
if has_stage win64 || has_stage win32; then
  cx_need_packages "${CX_WINDOWS_PACKAGES[@]}" || exit 1
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
  # Only the fuzz targets: the programs and tests are built by the other stages.
  fuzz_targets=$(sed -n 's/.*cx_add_fuzzer(\([A-Za-z0-9_]*\).*/fuzz_\1/p' fuzz/*.cmake | tr '\n' ' ')
  if CX_BUILD_TARGETS=$fuzz_targets build fuzz build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONTENTEXE_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++; then
    for f in build-fuzz/bin/fuzz_*; do
      [ -x "$f" ] || continue
      t=$(basename "$f")
      corpus="build-fuzz/corpus/$t"
      mkdir -p "$corpus"
      seeds=()
      [ -d "fuzz/seeds/${t#fuzz_}" ] && seeds=("fuzz/seeds/${t#fuzz_}")
      echo "== fuzz: $t for ${fuzz_seconds}s"
      if "$f" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
          -artifact_prefix="build-fuzz/$t-" "$corpus" "${seeds[@]}" >"build-fuzz/$t.log" 2>&1; then
        passed=$((passed + 1))
        grep -E '^(Done|stat::number_of_executed_units)' "build-fuzz/$t.log" | head -2
      else
        tail -40 "build-fuzz/$t.log"
        failed=$((failed + 1))
        failures+=("fuzz: $t found a fault (build-fuzz/$t.log): $(fuzz_fault "build-fuzz/$t.log" | tr '\n' ' ')")
      fi
    done
  fi
fi

wine_prefix=
setup_wine() {
  [ -n "$wine_prefix" ] && return 0
  wine_prefix=$(mktemp -d /tmp/cx-wine.XXXXXX)
  export WINEPREFIX=$wine_prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export CX_WINE_XVFB=1
  echo "== wine: new prefix $WINEPREFIX"
  timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  # Python does not run inside Wine: the JSON round-trip corpus is made here.
  export CX_JSON_CORPUS=$wine_prefix/json-corpus
  python3 json/testdata/make_corpus.py "$CX_JSON_CORPUS" >/dev/null 2>&1 || unset CX_JSON_CORPUS
}

if has_stage win64; then
  if build win64 build-win64 -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake; then
    setup_wine
    run_ctest win64 build-win64
  fi
fi

if has_stage win32; then
  if build win32 build-win32 -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake; then
    cx_try_wine32
    if [ -x /usr/lib/wine/wine ]; then
      setup_wine
      run_ctest win32 build-win32
    else
      echo "== win32: built and linked; not run: this machine has no 32-bit Wine (package wine32)."
    fi
  fi
fi

if [ -n "$wine_prefix" ]; then
  WINEPREFIX=$wine_prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$wine_prefix"
fi

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
