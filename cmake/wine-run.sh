#!/bin/bash
# Runs a Windows program under Wine in the build tree's private prefix and on its
# virtual display. CTest sets WINEPREFIX; the display number lies beside the prefix.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ -f "$WINEPREFIX.display" ]; then
  DISPLAY=$(cat "$WINEPREFIX.display"); export DISPLAY
fi
exec "$(dirname "$0")/../tools/wine.sh" "$@"
