#!/bin/bash
# The installer dialog end to end with a German user interface (LANG): the
# German texts, the no-printer instruction whole, and two supported printers
# installed in one pass. Pictures of each state go to build/screenshots/.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin

for port in 11 12 13 14 15 16; do attach "Other Maker P$port" "$port"; done
searching_then_no_printer de de_DE.UTF-8 0x0007
check "[de] the Cancel button speaks German" same "$(on_dialog text 2)" '"Abbrechen"'
close_dialog de-search

attach "Vellumor VL-K20" 1
attach "Vellumor VL-K29" 3
run_start
start_dialog de_DE.UTF-8
on_dialog wait-text 2 "$(plain_start "$(program_string 118 0x0007)")" --timeout 300 >/dev/null || true
# The printers in the order the pass took them.
mapfile -t order < <(run_trace | sed -n 's/^Installing printer model: \(.*\), name: .*, port: \(USB[0-9]*\)$/\1:\2/p')
check "[de] both printers were taken in one pass" test "${#order[@]}" -eq 2
installed de 0x0007 "${order[@]}"
close_dialog de
e2e_end
