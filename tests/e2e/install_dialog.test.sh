#!/bin/bash
# The installer dialog end to end in English, driven and read by the UI
# driver: an install that fails, the search with no printer, a second start
# while the dialog is open, and a printer plugged in while the dialog searches.
# Pictures of each state go to build/screenshots/.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin

# Unsupported printers are passed over without a word; a few of them also
# make each search take long enough to watch its first moment.
for port in 11 12 13 14 15 16; do attach "Other Maker P$port" "$port"; done

# An install that fails comes first: once a printer of the family is
# installed, every later start hands over to the uninstaller. The package
# lacks its data file, so nothing can be registered for the printer.
attach "Vellumor VL-K21" 2
mv "$E2E_APP/dat/vlm6drv6.dat" "$E2E_DIR/vlm6drv6.dat"
run_start
start_dialog en_US.UTF-8
cancel=$(on_dialog text 2)
failed=$(program_string 104 0x0009)
check "[failed] string 104 on the status line" \
  on_dialog wait-text 1006 "$(plain_start "$failed")" --timeout 240
error=$(run_trace | sed -n 's/^Install failed, name: Vellumor VL-K21, port: USB002, error:\([0-9]*\)$/\1/p')
check "[failed] traced with its error code" test -n "$error"
check "[failed] the status line shows that error code" same "$(on_dialog text 1006)" "${failed/\%d/$error}"
check "[failed] button 2 keeps its caption" same "$(on_dialog text 2)" "$cancel"
# The position is posted to the bar, the text sent: the bar may come a moment later.
check "[failed] the progress bar stands at 100" on_dialog wait-pos 1003 100 --timeout 5
shot installer-failed-en
close_dialog failed
mv "$E2E_DIR/vlm6drv6.dat" "$E2E_APP/dat/vlm6drv6.dat"
detach 2

searching_then_no_printer en en_US.UTF-8 0x0009

run_start
e2e_wine "$E2E_APP/setup.exe"
check "a second start exits with 0 at once" test "$E2E_RC" -eq 0
check "a second start shows nothing" test "$(on_dialog find | grep -c '^dialog')" -eq 1
check "a second start writes no trace" test -z "$(run_trace_of_new_threads)"

attach "Vellumor VL-K20" 1
installed en 0x0009 "Vellumor VL-K20:USB001"
close_dialog en
e2e_end
