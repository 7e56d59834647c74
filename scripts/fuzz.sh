#!/usr/bin/env bash
# The libFuzzer targets, built with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# in build-fuzz/.
#
#   scripts/fuzz.sh                  explore: every target for 600 s (CX_FUZZ_SECONDS)
#   scripts/fuzz.sh zip_reader ...   explore only these targets
#   scripts/fuzz.sh --replay         what the test command runs: each target over its
#                                    checked-in seeds, then a fixed-seed run of a fixed
#                                    number of inputs, so a fault fails every run or none
#
# Exploration grows a corpus in build-fuzz/corpus/<target> (kept between runs, never
# checked in). An input that finds a fault is written to build-fuzz/<target>-crash-*;
# once fixed, copy it into fuzz/seeds/<target>/ so every later replay runs it.
# Exit status: 0 when every target ran clean. The last line counts targets.
set -u
cd "$(dirname "$0")/.."
. scripts/deps.sh

mode=explore
targets=()
for a in "$@"; do
  case $a in
    --replay) mode=replay ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) targets+=("$a") ;;
  esac
done
seconds=${CX_FUZZ_SECONDS:-600}
replay_runs=${CX_FUZZ_RUNS:-100000}
jobs=${CX_JOBS:-$(nproc 2>/dev/null || echo 2)}

cx_need_packages "${CX_NATIVE_PACKAGES[@]}" "${CX_FUZZ_PACKAGES[@]}" || exit 1

all=$(sed -n 's/.*cx_add_fuzzer(\([A-Za-z0-9_]*\).*/\1/p' fuzz/*.cmake | tr '\n' ' ')
[ ${#targets[@]} -eq 0 ] && read -r -a targets <<<"$all"
build_targets=$(printf 'fuzz_%s ' "${targets[@]}")

echo "== fuzz: configuring and building in build-fuzz"
mkdir -p build-fuzz
if ! cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONTENTEXE_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >build-fuzz/configure.log 2>&1; then
  cat build-fuzz/configure.log
  echo "0 passed, 1 failed"
  exit 1
fi
# shellcheck disable=SC2086
cmake --build build-fuzz -j "$jobs" --target $build_targets || { echo "0 passed, 1 failed"; exit 1; }

# What a failed run found, in a line: the sanitizer's summary and the input that triggered
# it (base64 when short), so it can be replayed from a log alone.
fault_line() {
  local log=$1 artifact
  grep -m1 -E '^SUMMARY: |ERROR: libFuzzer|^==[0-9]+==ERROR' "$log" | cut -c1-200
  artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  [ -z "$artifact" ] && artifact=$(sed -n 's/^Running: \(.*\)$/\1/p' "$log" | tail -1)
  if [ -n "$artifact" ] && [ -f "$artifact" ]; then
    if [ "$(stat -c %s "$artifact")" -le 2048 ]; then
      echo "input $artifact (base64): $(base64 -w0 "$artifact")"
    else
      echo "input: $artifact"
    fi
  fi
}

passed=0
failed=0
faults=()
for t in "${targets[@]}"; do
  bin=build-fuzz/bin/fuzz_$t
  seeds=fuzz/seeds/$t
  log=build-fuzz/fuzz_$t.log
  common=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="build-fuzz/$t-")
  if [ "$mode" = replay ]; then
    # A fresh copy of the seeds each time: libFuzzer adds what it finds to its first
    # corpus folder, and a corpus left from an earlier run would change the inputs.
    corpus=build-fuzz/replay/$t
    rm -rf "$corpus"
    mkdir -p "$corpus"
    [ -d "$seeds" ] && cp "$seeds"/* "$corpus"/ 2>/dev/null
    echo "== fuzz: $t, $(ls "$corpus" | wc -l) seeds, then $replay_runs inputs from seed 1"
    ok=1
    if [ -d "$seeds" ] && [ -n "$(ls "$seeds")" ]; then
      "$bin" "${common[@]}" "$seeds"/* >"$log" 2>&1 || ok=0
    fi
    if [ $ok -eq 1 ]; then
      "$bin" "${common[@]}" -seed=1 -runs="$replay_runs" -print_final_stats=1 "$corpus" >>"$log" 2>&1 || ok=0
    fi
  else
    corpus=build-fuzz/corpus/$t
    mkdir -p "$corpus"
    echo "== fuzz: $t for ${seconds}s"
    ok=1
    dirs=("$corpus")
    [ -d "$seeds" ] && dirs+=("$seeds")
    "$bin" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "${dirs[@]}" \
      >"$log" 2>&1 || ok=0
  fi
  if [ $ok -eq 1 ]; then
    passed=$((passed + 1))
    grep -E '^(Done|stat::number_of_executed_units)' "$log" | tr '\n' ' '
    echo
  else
    tail -30 "$log"
    failed=$((failed + 1))
    faults+=("fuzz: fuzz_$t found a fault ($log): $(fault_line "$log" | tr '\n' ' ')")
  fi
done

for f in "${faults[@]}"; do echo "FAILED: $f"; done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
