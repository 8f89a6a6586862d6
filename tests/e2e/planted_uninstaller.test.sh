#!/bin/bash
# A file named unins000.exe planted beside setup.exe, which leaves a marker
# beside itself when it runs: with the family installed, setup.exe started
# by hand hands the uninstall to a copy of its own module, whose uninstall
# dialog opens; the planted file never runs.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin

# --- the family installed, by the program itself --------------------------------
e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial OWN0001 >/dev/null
e2e_wine "$E2E_APP/setup.exe" /silence
check "the silent install exits with 0" test "$E2E_RC" -eq 0

# --- someone replaces unins000.exe beside setup.exe -----------------------------
cp "$BUILD_DIR/planted/rundll32.exe" "$E2E_APP/unins000.exe"
marker="$E2E_APP/unins000.exe.loaded"
e2e_wine "$E2E_APP/setup.exe"
check "setup.exe ends at once with 0" test "$E2E_RC" -eq 0
ui wait-tree 1001 'Printer:Vellumor VL-K20' --with 1001 --timeout 30 > "$E2E_DIR/tree.txt" || true
cat "$E2E_DIR/tree.txt"
check "the uninstall dialog opens, with the installed printer" grep -q 'Printer:Vellumor VL-K20' "$E2E_DIR/tree.txt"
e2e_collect_trace
check "it is the copy's, started from a folder of its own in the temporary folder" \
  grep -q 'Tapstart-[0-9a-f]*\\\\unins000.exe and its folder at the next start: 1' "$E2E_DIR/trace.log"
check "the planted unins000.exe did not run" test ! -e "$marker"
e2e_close_uninstall || true
check "nor when the dialog is closed" test ! -e "$marker"
e2e_end
