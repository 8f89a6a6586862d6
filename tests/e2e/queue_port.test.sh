#!/bin/bash
# A printer's queue is the family's queue on its port. A VL-K20 without a
# serial number is installed on port 1, its queue gets a comment, and it is
# plugged into port 2: "setup.exe /silence" exits 0 and the one queue is on
# USB002 with its comment. A second VL-K20 then on port 1 gets a queue of its
# own, named as Windows names a second device's queue.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin
comment_line='comment "Vellumor VL-K20" "Front desk, second floor"'

e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial "" >/dev/null
e2e_wine "$E2E_APP/setup.exe" /silence
check "the first install exits 0" test "$E2E_RC" -eq 0
e2e_wine "$SPOOLERLIST" comment "Vellumor VL-K20" "Front desk, second floor" >/dev/null
check "a comment is set on the queue" test "$E2E_RC" -eq 0

# Into another socket: without a serial number it comes back on port 2.
e2e_usbprinter remove --port 1 >/dev/null
e2e_usbprinter add --description "Vellumor VL-K20" --port 2 --serial "" >/dev/null
run_start
e2e_wine "$E2E_APP/setup.exe" /silence
check "setup.exe /silence exits 0" test "$E2E_RC" -eq 0
run_trace > "$E2E_DIR/moved.trace"
spooler_list > "$E2E_DIR/moved.txt"
check "one queue" test "$(grep -c '^queue ' "$E2E_DIR/moved.txt")" -eq 1
check "on USB002" grep -qxF 'queue "Vellumor VL-K20" port "USB002" driver "Vellumor VL-K20"' "$E2E_DIR/moved.txt"
check "with its comment" grep -qxF "$comment_line" "$E2E_DIR/moved.txt"
check "the trace says the queue moved" grep -q \
  '^The printer Vellumor VL-K20 moved from USB001 to USB002: its queue Vellumor VL-K20 moved with it' \
  "$E2E_DIR/moved.trace"

# A second printer of the model, on port 1.
e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial "" >/dev/null
e2e_wine "$E2E_APP/setup.exe" /silence
check "with a second VL-K20 setup.exe /silence exits 0" test "$E2E_RC" -eq 0
spooler_list > "$E2E_DIR/two.txt"
check "two queues" test "$(grep -c '^queue ' "$E2E_DIR/two.txt")" -eq 2
check "the first stays on USB002" grep -qxF 'queue "Vellumor VL-K20" port "USB002" driver "Vellumor VL-K20"' \
  "$E2E_DIR/two.txt"
check "the second is its copy on USB001" grep -qxF \
  'queue "Vellumor VL-K20 (Copy 1)" port "USB001" driver "Vellumor VL-K20"' "$E2E_DIR/two.txt"
e2e_end
