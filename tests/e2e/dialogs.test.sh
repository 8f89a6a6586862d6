#!/bin/bash
# Both dialogs open from the built program in the user's interface language:
# English with the default locale, German with de_DE.UTF-8. Their tree view and
# progress bars are created, and a picture of each lands in build/screenshots/.
# The German string table also serves LoadText whole.
set -eu
source "$(dirname "$0")/lib.sh"
source "$SOURCE_DIR/tools/screenshots.sh"
e2e_begin
use_virtual_desktop
german_locale "$BUILD_DIR/locale" || { echo "FAIL: no German locale"; exit 1; }

state_has() { grep -qF -- "$1" "$E2E_DIR/state.txt"; }

# dialog LANG NAME CAPTION [setup.exe arguments]: opens it, checks its caption
# and the X window named after it, keeps its controls in state.txt and its
# picture, and closes it again.
dialog() {
  local lang=$1 name=$2 caption=$3
  shift 3
  if ! open_dialog "$lang" "$@"; then
    check "the $name dialog ($lang) opens" false
    close_dialog
    return
  fi
  check "the $name dialog ($lang) is captioned \"$caption\"" test "$DIALOG_CAPTION" = "$caption"
  check "an X window is named \"$caption\"" test -n "$(caption_window "$caption")"
  uidriver state --exe setup.exe > "$E2E_DIR/state.txt" || true
  shoot_dialog "$BUILD_DIR/screenshots/$name-$lang.png"
  check "picture $name-$lang.png taken" test -s "$BUILD_DIR/screenshots/$name-$lang.png"
  close_dialog
}

dialog en installer "Tapstart installer"
check "installer: the progress bar was created" state_has "control 1003 msctls_progress32"
check "installer: both pictures were created" state_has 'control 1007 Static visible=1 enabled=1 text="#113"'
check "installer: Cancel reads Cancel" state_has 'control 2 Button visible=1 enabled=1 text="Cancel"'

dialog en uninstall "Uninstall printer driver" -u "$E2E_APP_WIN"
check "uninstall: the tree view was created" state_has "control 1001 SysTreeView32"
check "uninstall: the progress bar was created" state_has "control 1003 msctls_progress32"

# The instruction shown while no printer is found loads whole in German.
in_language de "$_tools_dir/wine.sh" "$BUILD_DIR/integration_tests.exe" \
  --gtest_filter='GermanStrings.*' > "$E2E_DIR/strings.log" 2>&1 && strings_rc=0 || strings_rc=$?
check "German texts load whole through LoadText (strings.log)" test "$strings_rc" -eq 0

dialog de installer "Tapstart-Installationsprogramm"
check "installer (de): Cancel reads Abbrechen" state_has 'text="Abbrechen"'

dialog de uninstall "Druckertreiber deinstallieren" -u "$E2E_APP_WIN"
check "uninstall (de): the buttons read Entfernen and Schließen" \
  eval 'state_has "text=\"Entfernen\"" && state_has "text=\"Schließen\""'
e2e_end
