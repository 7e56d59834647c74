#!/usr/bin/env bash
# Runs a Windows test program under Wine: CTest's emulator for the mingw-w64 builds.
# Uses WINEPREFIX when the caller set one (the test script makes a throwaway prefix),
# and the 32- or 64-bit loader to match the program.
set -u
exe=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
loader=
if file -b "$exe" 2>/dev/null | grep -q 'x86-64'; then
  for c in /usr/lib/wine/wine64 wine64 wine; do
    if command -v "$c" >/dev/null 2>&1; then loader=$c; break; fi
  done
else
  for c in /usr/lib/wine/wine wine; do
    if command -v "$c" >/dev/null 2>&1; then loader=$c; break; fi
  done
fi
if [ -z "$loader" ]; then
  echo "wine-run: no Wine loader for $exe" >&2
  exit 127
fi
run=("$loader" "$exe" "$@")
if [ -n "${CX_WINE_XVFB:-}" ] && command -v xvfb-run >/dev/null 2>&1 && [ -z "${DISPLAY:-}" ]; then
  run=(xvfb-run -a "${run[@]}")
fi
# The program's output goes through a file, not CTest's pipe: a Windows process the test
# started (winebrowser handed a URL, say) inherits the output descriptors and may outlive
# the test, and CTest would wait on its pipe until the time-out.
out=$(mktemp "${TMPDIR:-/tmp}/cx-wine-out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/cx-wine-err.XXXXXX")
"${run[@]}" >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
