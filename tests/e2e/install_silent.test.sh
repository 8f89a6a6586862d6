#!/bin/bash
# The silent install end to end: a virtual Vellumor VL-K20 on port 1 is
# installed by "setup.exe /silence", which exits with 0 and leaves the queue,
# the driver, the language monitor and its DLL behind; an install that fails
# makes the program exit with a non-zero code.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin

# A supported printer whose install fails: its package lacks the
# configuration DLL, so nothing can be registered for it, and the copy of
# that DLL a previous install left in the driver directory must stay. It
# comes first: once a printer of the family is installed, every later start
# hands over to the uninstaller.
e2e_wine "$USBPRINTER" add --description "Vellumor VL-K21" --port 2 --serial E2E0002
mv "$E2E_APP/amd64/vlm6drv6ui.dll" "$E2E_DIR/vlm6drv6ui.dll"
drivers="$E2E_PREFIX/drive_c/windows/system32/spool/drivers/x64"
mkdir -p "$drivers"
echo installed > "$drivers/vlm6drv6ui.dll"
run_start
e2e_wine "$E2E_APP/setup.exe" /silence
failed_rc=$E2E_RC
run_trace > "$E2E_DIR/silent-failed.trace"
check "setup.exe /silence exits with a non-zero code when the install fails" test "$failed_rc" -ne 0
check "a package without vlm6drv6ui.dll exits with 2" test "$failed_rc" -eq 2
check "the installed vlm6drv6ui.dll stays as it was" grep -qx installed "$drivers/vlm6drv6ui.dll"
check "the trace says the package file is missing" grep -q 'vlm6drv6ui.dll is missing; the installed copy stays' "$E2E_DIR/silent-failed.trace"
error=$(sed -n 's/^Install failed, name: Vellumor VL-K21, port: USB002, error:\([0-9]*\)$/\1/p' \
  "$E2E_DIR/silent-failed.trace")
check "the failure is traced with its error code" test -n "$error"
if [ -n "$error" ]; then
  [ "$error" -eq 0 ] && error=1603
  # The shell sees the low byte of the Windows exit code.
  check "the exit code is the traced error code ($error)" test "$failed_rc" -eq $((error & 255))
fi
spooler_list > "$E2E_DIR/spooler-failed.txt"
check "no queue for the failed printer" \
  bash -c "! grep -qF 'queue \"Vellumor VL-K21\"' '$E2E_DIR/spooler-failed.txt'"

# The package whole again, and a Vellumor VL-K20. The monitor DLL that the
# failed run staged is taken away, so that this run has to place it.
mv "$E2E_DIR/vlm6drv6ui.dll" "$E2E_APP/amd64/vlm6drv6ui.dll"
e2e_wine "$USBPRINTER" remove --port 2
rm -f "$E2E_PREFIX/drive_c/windows/system32/vlm6mon.dll"

e2e_wine "$USBPRINTER" add --description "Vellumor VL-K20" --port 1 --serial E2E0001
check "the virtual printer is attached" test "$E2E_RC" -eq 0

run_start
e2e_wine "$E2E_APP/setup.exe" /silence
silent_rc=$E2E_RC
run_trace > "$E2E_DIR/silent-ok.trace"
check "setup.exe /silence exits with 0 after installing" test "$silent_rc" -eq 0

spooler_list > "$E2E_DIR/spooler.txt"
check "a queue Vellumor VL-K20 on USB001 with driver Vellumor VL-K20" \
  grep -qxF 'queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"' "$E2E_DIR/spooler.txt"
check "the driver Vellumor VL-K20 is registered" \
  grep -qF 'driver "Vellumor VL-K20" ' "$E2E_DIR/spooler.txt"
check "the monitor Vellumor Language Monitor V6 is registered" \
  grep -qF 'monitor "Vellumor Language Monitor V6" dll "vlm6mon.dll"' "$E2E_DIR/spooler.txt"
check "vlm6mon.dll is in system32" test -f "$E2E_PREFIX/drive_c/windows/system32/vlm6mon.dll"
check "the trace tells the install in order" in_order "$E2E_DIR/silent-ok.trace" \
  "Found model Vellumor VL-K20, Vellumor VL-K20" \
  "Installing printer model: Vellumor VL-K20, name: Vellumor VL-K20, port: USB001" \
  "DoUploadDriverPackage, , code:2147500033 (0x80004001)." \
  "Remove file:*vlm6drv6.dll*" \
  "CopyFile file:*vlm6drv6.dll*" \
  "CopyFile file:*vlm6drv6.dat*"

e2e_end
