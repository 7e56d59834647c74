#!/usr/bin/env bash
# Mutation check of the test suite: plants the faults listed in scripts/mutants.txt into the
# product code one at a time and checks that the tests named for each one fail.
#
#   scripts/mutate.sh [--tree DIR] [--build DIR] [--only ID,...] [--list] [--strict]
#
#   --tree DIR    source tree to mutate (default: the repository this script sits in)
#   --build DIR   build folder (default: DIR/build-mutate); configured once, native, with
#                 cmake -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   --only IDS    only these mutants (comma-separated ids)
#   --list        show the mutants and whether their text is found; build nothing
#   --strict      exit 1 when any mutant is not killed
#   CX_JOBS=N     build jobs (default 2)
#
# The list is read from beside this script, so a list can be run against an older tree.
# The unmutated tree is built and the named tests must pass first. Then, per mutant: the
# 'from' text must occur exactly once (else "stale"), it is replaced, the tests' targets
# are rebuilt (a failed build is "invalid"), and `ctest -R <tests> --timeout 300` runs:
# a failure is "killed", a pass "SURVIVED". The file is restored byte for byte before the
# next mutant, and on any exit or interruption. Stale, invalid and surviving mutants count
# as not killed. The last line is "killed K of N". Logs: BUILD/mutate-logs/.
# Exit status: 0, or 1 with --strict and a mutant not killed, or 2 when the check itself
# could not run (bad arguments, unmutated build or tests failing, a file not restored).
set -u

here=$(cd "$(dirname "$0")" && pwd)
list_file=$here/mutants.txt
tree=$(cd "$here/.." && pwd)
build=
only=
list=0
strict=0
jobs=${CX_JOBS:-2}

die() { echo "mutate: $*" >&2; exit 2; }

while [ $# -gt 0 ]; do
  case $1 in
    --tree) [ $# -ge 2 ] || die "--tree needs a folder"; tree=$(cd "$2" && pwd) || die "no tree $2"; shift 2 ;;
    --build) [ $# -ge 2 ] || die "--build needs a folder"; build=$2; shift 2 ;;
    --only) [ $# -ge 2 ] || die "--only needs ids"; only=,$2,; shift 2 ;;
    --list) list=1; shift ;;
    --strict) strict=1; shift ;;
    -h|--help) sed -n '2,/^set -u/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument $1 (see --help)" ;;
  esac
done
build=${build:-$tree/build-mutate}
[ -f "$list_file" ] || die "no list $list_file"
command -v python3 >/dev/null || die "python3 is needed"

# --- the list: blocks of "key: value" lines ---
ids=() files=() froms=() tos=() testsre=() whys=()
id= file= from= to= tests= why= has_to=0
flush() {
  [ -n "$id$file$from" ] || return 0
  [ -n "$id" ] && [ -n "$file" ] && [ -n "$from" ] && [ -n "$tests" ] && [ "$has_to" = 1 ] ||
    die "incomplete entry '${id:-?}' in $list_file (id, file, from, to, tests needed)"
  if [ -z "$only" ] || [[ $only == *",$id,"* ]]; then
    ids+=("$id") files+=("$file") froms+=("$from") tos+=("$to") testsre+=("$tests") whys+=("$why")
  fi
  id= file= from= to= tests= why= has_to=0
}
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    '#'*) continue ;;
    '') flush; continue ;;
  esac
  key=${line%%:*}
  value=${line#*:}
  value=${value# }
  case $key in
    id) id=$value ;; file) file=$value ;; from) from=$value ;;
    to) to=$value; has_to=1 ;; tests) tests=$value ;; why) why=$value ;;
    *) die "unknown key '$key' in $list_file" ;;
  esac
done < "$list_file"
flush
n=${#ids[@]}
[ "$n" -gt 0 ] || die "no mutants selected"

# How often FROM occurs in a file (python: literal bytes, no regex).
occurrences() {
  FROM=$2 python3 -c 'import os,sys; print(open(sys.argv[1],"rb").read().count(os.environb[b"FROM"]))' "$1" 2>/dev/null || echo 0
}
# Replaces the one occurrence of FROM by TO in a file.
replace() {
  FROM=$2 TO=$3 python3 -c '
import os, sys
p = sys.argv[1]; data = open(p, "rb").read(); f = os.environb[b"FROM"]
if data.count(f) != 1: sys.exit(1)
open(p, "wb").write(data.replace(f, os.environb[b"TO"], 1))' "$1"
}

if [ "$list" = 1 ]; then
  for ((i = 0; i < n; i++)); do
    path=$tree/${files[i]}
    count=0; [ -f "$path" ] && count=$(occurrences "$path" "${froms[i]}")
    state=ok; [ "$count" = 1 ] || state="stale($count)"
    printf '%-36s %-10s %-24s %s\n' "${ids[i]}" "$state" "${testsre[i]}" "${whys[i]}"
  done
  exit 0
fi

# --- restore on every exit ---
# cp (not cp -p): the restored file gets a fresh time stamp, so the next build recompiles it.
work=$(mktemp -d) || die "no temporary folder"
current=
keep=0
restore() {
  if [ -n "$current" ]; then
    if ! { cp "$work/original" "$current" && cmp -s "$work/original" "$current"; }; then
      echo "mutate: could not restore $current; its original is kept as $work/original" >&2
      keep=1
    fi
    current=
  fi
}
trap 'restore; [ "$keep" = 1 ] || rm -rf "$work"' EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM HUP

logs=$build/mutate-logs
mkdir -p "$build" "$logs" || die "cannot create $build"

# Test names (= their targets) that a ctest regex selects.
tests_of() { (cd "$build" && ctest -N -R "$1") | sed -n 's/^ *Test *#[0-9]*: *//p'; }

echo "mutate: tree $tree, build $build, $n mutants"
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$logs/configure.log" 2>&1 ||
  die "configure failed, see $logs/configure.log"
ninja -C "$build" -j"$jobs" >"$logs/build.log" 2>&1 || die "the unmutated tree does not build, see $logs/build.log"

all=$(printf '%s\n' "${testsre[@]}" | sort -u | paste -sd'|')
(cd "$build" && ctest -R "$all" --timeout 300 --output-on-failure) >"$logs/baseline.log" 2>&1
if [ $? -ne 0 ]; then
  failing=$(sed -n '/tests FAILED/,$ s/^[[:space:]]*[0-9]* - \([^ ]*\).*/\1/p' "$logs/baseline.log" | paste -sd' ')
  die "unmutated tests fail: ${failing:-see $logs/baseline.log}; refusing to go on"
fi
echo "mutate: unmutated tests pass: $(tests_of "$all" | paste -sd' ')"

killed=0
missed=()
start_all=$SECONDS
for ((i = 0; i < n; i++)); do
  mid=${ids[i]}
  path=$tree/${files[i]}
  t0=$SECONDS
  if [ ! -f "$path" ] || [ "$(occurrences "$path" "${froms[i]}")" != 1 ]; then
    result=stale
  else
    cp "$path" "$work/original" || die "cannot copy $path"
    current=$path
    replace "$path" "${froms[i]}" "${tos[i]}" || die "cannot write $path"
    targets=$(tests_of "${testsre[i]}")
    if [ -z "$targets" ]; then
      result=no-tests
    elif ! ninja -C "$build" -j"$jobs" $targets >"$logs/$mid.build.log" 2>&1; then
      result=invalid
    else
      count=$(echo "$targets" | wc -l)
      (cd "$build" && timeout -k 10 $((300 * count + 60)) \
        ctest -R "${testsre[i]}" --timeout 300 --output-on-failure) >"$logs/$mid.test.log" 2>&1
      if [ $? -ne 0 ]; then result=killed; else result=SURVIVED; fi
    fi
    restore
    [ "$keep" = 0 ] || die "$path was not restored"
  fi
  [ "$result" = killed ] && killed=$((killed + 1)) || missed+=("$mid ($result): ${whys[i]}")
  printf '%-36s %-9s %4ds\n' "$mid" "$result" $((SECONDS - t0))
done

echo "mutate: $((SECONDS - start_all))s for $n mutants"
for m in "${missed[@]+"${missed[@]}"}"; do echo "not killed: $m"; done
echo "killed $killed of $n"
[ "$strict" = 1 ] && [ "$killed" -ne "$n" ] && exit 1
exit 0
