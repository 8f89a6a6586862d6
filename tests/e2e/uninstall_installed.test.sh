#!/bin/bash
# The uninstaller under Wine after an install: starting setup.exe again hands
# over to unins000.exe, whose temporary copy shows the folder, the package-less
# driver list, the driver and its queue on USB001. "Remove" deletes the queue
# from Wine's spooler; Wine refuses the driver deletion (87), so after its ten
# tries the driver line ends "Failed. Error:87" and message 114 appears;
# "Close" ends the program. Pictures of the tree before and after the removal
# go to build/screenshots/.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin
spooler() { e2e_wine "$SPOOLERLIST" > "$E2E_DIR/$1.txt"; cat "$E2E_DIR/$1.txt"; }
queue_line='queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"'

# --- the install, by the program itself -------------------------------------
e2e_wine "$USBPRINTER" add --description "Vellumor VL-K20" --port 1 --serial UNIN0001
e2e_wine "$E2E_APP/setup.exe" /silence
check "the silent install exits with 0" test "$E2E_RC" -eq 0
spooler installed
check "the driver is installed with its queue on USB001" grep -qxF "$queue_line" "$E2E_DIR/installed.txt"

# --- setup.exe again: the uninstaller takes over ------------------------------
e2e_wine "$E2E_APP/setup.exe"
check "setup.exe ends at once with 0" test "$E2E_RC" -eq 0
ui wait-tree 1001 'Printer:Vellumor VL-K20' --with 1001 --timeout 30 > "$E2E_DIR/tree-before.txt" || true
cat "$E2E_DIR/tree-before.txt"
check "the dialog is the copy's (Tapstart-*\\unins000.exe in the temp folder)" \
  eval "test -s '$E2E_DIR/tree-before.txt' && grep -aq 'Tapstart-[0-9a-f]*.*unins000.exe and its folder at the next start: 1' '$E2E_DIR/wine.log'"
tree_has() { grep -qxF -- "$1" "$E2E_DIR/$2"; }
check "the first line is the driver folder" tree_has '0 - "The driver folder: C:\\Tapstart\\"' tree-before.txt
check "then the driver list, expanded" tree_has '0 + "Printer driver list:"' tree-before.txt
check "the driver line" grep -q '^1 + "Printer Driver:Vellumor VL-K20, .*, version:[0-9]*\.[0-9]*\.[0-9]*\.[0-9]*, "$' "$E2E_DIR/tree-before.txt"
check "the queue line" tree_has '2 - "Printer:Vellumor VL-K20 on the port: USB001. "' tree-before.txt
shot uninstall-tree-before-removal

# --- Remove: the queue goes, Wine keeps the driver ----------------------------
e2e_press 1 --with 1001 || true
ui msgbox --timeout 60 > "$E2E_DIR/msg114.txt" || true
cat "$E2E_DIR/msg114.txt"
check "message 114 appears" grep -q 'text="Uninstall driver failed.' "$E2E_DIR/msg114.txt"
ui tree 1001 --with 1001 > "$E2E_DIR/tree-after.txt" || true
cat "$E2E_DIR/tree-after.txt"
check "the queue line ends \"Removed.\"" tree_has '2 - "Printer:Vellumor VL-K20 on the port: USB001. Removed."' tree-after.txt
check "the driver line ends \"Failed. Error:87\"" grep -q '^1 + "Printer Driver:Vellumor VL-K20, .*, Failed. Error:87"$' "$E2E_DIR/tree-after.txt"
shot uninstall-failed-message
spooler after
check "the queue is gone from Wine's spooler" test "$(grep -cF "$queue_line" "$E2E_DIR/after.txt")" -eq 0
check "the driver stays" grep -qF 'driver "Vellumor VL-K20" ' "$E2E_DIR/after.txt"
check "the folder stays after a failed run" test -d "$E2E_APP"
e2e_collect_trace
check "the trace gives the driver's error after its tries" test "$(grep -c 'Removing printer driver Vellumor VL-K20 failed, error 87' "$E2E_DIR/trace.log")" -eq 1

# --- Close ends the program ---------------------------------------------------
ui answer 1 >/dev/null || true
ui wait-gone --with 65535 --timeout 10 >/dev/null || true
shot uninstall-tree-after-removal
# "Close" becomes pressable once the run has ended.
e2e_press 2 --with 1001 || echo "Close could not be pressed"
ui wait-gone --with 1001 --timeout 20 >/dev/null || true
copy_running() { e2e_running 'Tapstart-[0-9a-f]{8}.unins000\.exe'; }
wait_for 10 eval '! copy_running' || true
check "Close ended the program" eval '! copy_running'
e2e_end
