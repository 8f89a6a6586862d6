#!/bin/bash
# A private Wine prefix with a virtual display, for tests and the demo.
#
#   tools/wineprefix.sh up PREFIX [UIDRIVER]
#                                     make a fresh prefix, start Xvfb and the spooler;
#                                     with the UI driver, check the fonts it draws with
#   tools/wineprefix.sh down PREFIX   end the prefix's wineserver and Xvfb
#
# Sourced, it offers the same as functions: prefix_up, prefix_down.
# The display number is kept in PREFIX.display, Xvfb's pid in PREFIX.xvfb.
set -u

_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_run() { "$_tools_dir/wine.sh" "$@"; }

start_xvfb() {
  local prefix=$1 n
  for n in $(seq 91 190); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 < /dev/null &
    local pid=$!
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      echo ":$n" > "$prefix.display"
      echo "$pid" > "$prefix.xvfb"
      return 0
    fi
  done
  echo "wineprefix.sh: no free display for Xvfb" >&2
  return 1
}

# Makes the prefix; a Wine that did not finish making it (now and then its
# spooler never starts) gets one more try from nothing, and says so.
prefix_up() {
  prefix_up_once "$1" && return 0
  echo "wineprefix.sh: making $1 once more" >&2
  prefix_up_once "$1"
}

prefix_up_once() {
  # Wine's server takes an absolute prefix only.
  local prefix
  prefix=$(realpath -m "$1")
  prefix_down "$prefix" 2>/dev/null
  rm -rf "$prefix"
  mkdir -p "$prefix"
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  start_xvfb "$prefix" || return 1
  DISPLAY=$(cat "$prefix.display"); export DISPLAY
  wine_run wineboot -i >/dev/null 2>&1
  wineserver -w
  # Wine as Debian ships it does not load the fonts of its own data folder:
  # without them caption buttons (Marlett) show letters and dialog text
  # (Tahoma, for "MS Shell Dlg") a stand-in face. In the prefix's Fonts folder
  # they load, before any program of ours runs.
  install_wine_fonts "$prefix"
  # From here on one server for the whole prefix, kept up between programs,
  # so that the spooler runs on between them. A server that some program
  # started exits soon after its last program, taking the spooler with it;
  # the persistent one must be the first.
  wineserver -p >/dev/null 2>&1 </dev/null
  wine_run reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # Every program of the prefix opens its windows on one Wine desktop as big
  # as the display, which draws frames and captions as Windows does (Xvfb has
  # no window manager).
  wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Tapstart /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Tapstart /d 1024x768 /f >/dev/null 2>&1
  start_spooler
}

install_wine_fonts() {
  local fonts="$1/drive_c/windows/Fonts" source
  mkdir -p "$fonts"
  for source in /usr/share/wine/fonts /usr/lib/wine/fonts /opt/wine/share/wine/fonts; do
    [ -d "$source" ] || continue
    cp -n "$source"/*.ttf "$fonts"/ 2>/dev/null || true
  done
}

# Prints the faces Marlett and MS Shell Dlg select in the prefix; fails when
# Marlett is not Marlett.
check_fonts() {
  wine_run "$1" fonts 2>/dev/null | tr -d '\r'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "wineprefix.sh: Marlett does not load in $WINEPREFIX" >&2; return 1; }
}

# Starts the spooler and waits until the service manager reports it running.
start_spooler() {
  local i
  for i in $(seq 1 20); do
    wine_run net start spooler >/dev/null 2>&1
    wine_run sc query spooler 2>/dev/null | grep -q 'STATE *: *4 ' && return 0
    sleep 0.5
  done
  echo "wineprefix.sh: the spooler does not run in $WINEPREFIX:" \
    "$(wine_run sc query spooler 2>&1 | tr -d '\r' | grep -m1 -E 'STATE|FAILED|fail' || echo 'no answer')" >&2
  return 1
}

prefix_down() {
  local prefix
  prefix=$(realpath -m "$1")
  if [ -d "$prefix" ]; then WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1; fi
  if [ -f "$prefix.xvfb" ]; then
    kill "$(cat "$prefix.xvfb")" >/dev/null 2>&1
    rm -f "$prefix.xvfb"
  fi
  rm -f "$prefix.display"
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    up) prefix_up "$2" && { [ -z "${3:-}" ] || check_fonts "$3"; } ;;
    down) prefix_down "$2" ;;
    *) echo "usage: $0 up|down PREFIX" >&2; exit 2 ;;
  esac
fi
