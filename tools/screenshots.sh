#!/bin/bash
# Pictures of both dialogs in English and German, for a person to look at:
#
#   bash tools/screenshots.sh [BUILD_DIR]
#
# writes BUILD_DIR/screenshots/{installer,uninstall}-{en,de}.png (BUILD_DIR is
# ./build by default). The dialogs open under Xvfb in a prefix of their own,
# in a Wine virtual desktop, which draws their title bars.
#
# Sourced (as by the dialogs scenario), it only offers its steps as functions:
#   use_virtual_desktop, german_locale DIR, in_language en|de COMMAND...,
#   open_dialog en|de [ARGUMENTS], shoot_dialog FILE, close_dialog.
set -u
_shots_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$_shots_tools/wineprefix.sh"

# Every program of the prefix opens its windows in one virtual desktop.
use_virtual_desktop() {
  wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Tapstart /f >/dev/null 2>&1
  wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Tapstart /d 720x440 /f >/dev/null 2>&1
}

# Builds the German locale into DIR, where glibc finds it through LOCPATH, so
# that Wine picks German resources even on a host without that locale.
german_locale() {
  SHOTS_LOCALE=$1
  mkdir -p "$SHOTS_LOCALE"
  [ -d "$SHOTS_LOCALE/de_DE.UTF-8" ] || localedef -i de_DE -f UTF-8 "$SHOTS_LOCALE/de_DE.UTF-8" >/dev/null 2>&1
  [ -d "$SHOTS_LOCALE/de_DE.UTF-8" ]
}

# Runs a command with the user-interface language: en is the default locale
# (no locale variables), de is de_DE.UTF-8.
in_language() {
  local lang=$1
  shift
  case "$lang" in
    de) env -u LC_ALL -u LC_MESSAGES LOCPATH="${SHOTS_LOCALE:?}" LANG=de_DE.UTF-8 "$@" ;;
    *) env -u LC_ALL -u LC_MESSAGES -u LANG "$@" ;;
  esac
}

uidriver() { wine_run "${BUILD_DIR:?}/uidriver.exe" "$@" 2>/dev/null; }

# The X window id of the window captioned TEXT (Wine names each window's X
# window after its caption), or nothing.
caption_window() {
  xwininfo -root -tree 2>/dev/null | grep -F " \"$1\": (" | awk '{print $1; exit}'
}

# Starts C:\Tapstart\setup.exe with ARGUMENTS in language en or de and waits
# for its dialog. Sets DIALOG_PID (the wine process), DIALOG_CAPTION and
# DIALOG_WINDOW (its X window); fails when no dialog came.
open_dialog() {
  local lang=$1 i
  shift
  in_language "$lang" "$_tools_dir/wine.sh" 'C:\Tapstart\setup.exe' "$@" >/dev/null 2>&1 &
  DIALOG_PID=$!
  DIALOG_CAPTION=$(uidriver find --exe setup.exe --timeout 30 | sed -n 's/^dialog .* caption="\(.*\)"$/\1/p' | head -1)
  DIALOG_WINDOW=
  for i in $(seq 1 50); do
    DIALOG_WINDOW=$(caption_window "$DIALOG_CAPTION")
    [ -n "$DIALOG_WINDOW" ] && break
    sleep 0.1
  done
  [ -n "$DIALOG_CAPTION" ] && [ -n "$DIALOG_WINDOW" ]
}

# The open dialog, title bar included, as a PNG.
shoot_dialog() {
  mkdir -p "$(dirname "$1")"
  sleep 1  # let it paint its pictures
  import -window "$DIALOG_WINDOW" "$1"
}

# Asks the dialog to close and waits for its program to end, so that the next
# one is not taken for a second instance.
close_dialog() {
  uidriver close --exe setup.exe >/dev/null
  wait "$DIALOG_PID" 2>/dev/null
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  BUILD_DIR=$(cd "${1:-$_shots_tools/../build}" && pwd)
  out="$BUILD_DIR/screenshots"
  prefix="$BUILD_DIR/e2e/screenshots/prefix"
  trap 'prefix_down "$prefix"; rm -rf "$prefix"' EXIT
  [ -f "$BUILD_DIR/uidriver.exe" ] && [ -d "$BUILD_DIR/dist" ] || { echo "build first: $BUILD_DIR"; exit 1; }
  prefix_up "$prefix" || exit 1
  cp -r "$BUILD_DIR/dist" "$prefix/drive_c/Tapstart"
  use_virtual_desktop
  german_locale "$BUILD_DIR/locale" || { echo "no German locale (is the locales package installed?)"; exit 1; }
  status=0
  for lang in en de; do
    for dialog in installer uninstall; do
      args=()
      [ "$dialog" = uninstall ] && args=(-u 'C:\Tapstart\')
      if open_dialog "$lang" "${args[@]}"; then
        shoot_dialog "$out/$dialog-$lang.png" && echo "$out/$dialog-$lang.png: \"$DIALOG_CAPTION\""
      else
        echo "the $dialog dialog ($lang) did not open"
        status=1
      fi
      close_dialog
    done
  done
  exit $status
fi
