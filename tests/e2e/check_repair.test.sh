#!/bin/bash
# "/check" and "/repair" as a fleet's scripts run them. On a healthy install
# "setup.exe /check" exits 0 and writes its summary line to the standard
# output it was given; with system32\vlm6mon.dll deleted it exits 1 and names
# the file; "setup.exe /repair" exits 0 and the file is back with the
# package's bytes; "/check" then exits 0 again.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin
monitor="$E2E_PREFIX/drive_c/windows/system32/vlm6mon.dll"

e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial CHK0001 >/dev/null
e2e_wine "$E2E_APP/setup.exe" /silence
check "the install exits 0" test "$E2E_RC" -eq 0

run_start
e2e_wine "$E2E_APP/setup.exe" /check > "$E2E_DIR/healthy.out"
check "/check on a healthy install exits 0" test "$E2E_RC" -eq 0
run_trace > "$E2E_DIR/healthy.trace"
check "no line says Problem" bash -c "! grep -q '^Problem: ' '$E2E_DIR/healthy.trace'"
check "the driver store is not available on Wine, which is no problem" \
  grep -q '^OK: the driver store is not available here' "$E2E_DIR/healthy.trace"
check "the summary reaches the standard output" grep -qx $'No problems.\r' "$E2E_DIR/healthy.out"

rm -f "$monitor"
run_start
e2e_wine "$E2E_APP/setup.exe" /check > "$E2E_DIR/broken.out"
check "with the monitor DLL deleted /check exits 1" test "$E2E_RC" -eq 1
run_trace > "$E2E_DIR/broken.trace"
check "and names it" grep -qixF 'Problem: C:\\windows\\system32\\vlm6mon.dll is missing.' "$E2E_DIR/broken.trace"
check "the summary says it" grep -qx $'1 problem: the monitor DLL is missing\r' "$E2E_DIR/broken.out"

e2e_wine "$E2E_APP/setup.exe" /repair
check "/repair exits 0" test "$E2E_RC" -eq 0
check "the monitor DLL is back with the package's bytes" cmp -s "$E2E_APP/amd64/vlm6mon.dll" "$monitor"

run_start
e2e_wine "$E2E_APP/setup.exe" /check > "$E2E_DIR/repaired.out"
check "/check after the repair exits 0" test "$E2E_RC" -eq 0
check "the summary says so" grep -qx $'No problems.\r' "$E2E_DIR/repaired.out"
e2e_end
