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
if [ -n "${CX_WINE_XVFB:-}" ] && command -v xvfb-run >/dev/null 2>&1 && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a "$loader" "$exe" "$@"
fi
exec "$loader" "$exe" "$@"
