#!/bin/bash
# The install engine with Wine's own spooler and the test driver package at
# C:\Tapstart: a queue for Vellumor VL-K20 on USB001 is made by direct
# registration (Wine has no driver store), its files land where Windows loads
# them from, and a second install leaves it alone.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin

e2e_wine "$BUILD_DIR/integration_tests.exe" --gtest_filter='InstallEngineOnWine.*'
check "the engine's checks against the real spooler pass" test "$E2E_RC" -eq 0

drivers="$E2E_PREFIX/drive_c/windows/system32/spool/drivers/x64"
for f in vlm6drv6.dll vlm6drv6ui.dll vlm6drv6.dat vlm6mon.dll; do
  check "$f is staged in the printer-driver directory" test -f "$drivers/$f"
done
check "vlm6mon.dll is in system32, the package's own file" \
  cmp -s "$E2E_PREFIX/drive_c/windows/system32/vlm6mon.dll" "$E2E_APP/amd64/vlm6mon.dll"

e2e_wine "$SPOOLERLIST" > "$E2E_DIR/spooler.txt"
check "the spooler lists the queue on USB001" \
  grep -qF 'queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"' "$E2E_DIR/spooler.txt"
check "the spooler lists the monitor" \
  grep -qF 'monitor "Vellumor Language Monitor V6" dll "vlm6mon.dll"' "$E2E_DIR/spooler.txt"
check "the trace shows the upload Wine refuses" \
  grep -qF 'DoUploadDriverPackage, , code:2147500033 (0x80004001).' "$E2E_DIR/trace.log"
e2e_end
