#!/bin/bash
# A newer package brought onto a machine that has the family: after a silent
# install the printer is unplugged, a setting is made on its queue and the
# package beside the program is replaced by one with other bytes and a later
# DriverVer. "setup.exe /silence" then exits 0 within a minute without a
# window; the queue is the same one, with its setting, and the driver files
# the spooler uses and the monitor DLL in system32 are the new package's.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin
EXITCODE=$(built exitcode.exe)
queue_line='queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"'
comment_line='comment "Vellumor VL-K20" "Front desk, second floor"'

e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial UPG0001 >/dev/null
e2e_wine "$E2E_APP/setup.exe" /silence
check "the first install exits 0" test "$E2E_RC" -eq 0
e2e_wine "$SPOOLERLIST" comment "Vellumor VL-K20" "Front desk, second floor" >/dev/null
check "a comment is set on the queue" test "$E2E_RC" -eq 0
e2e_usbprinter remove --port 1 >/dev/null

# The next release: every file other bytes, the INF a later DriverVer.
for file in amd64/vlm6drv6.dll amd64/vlm6drv6ui.dll amd64/vlm6mon.dll dat/vlm6drv6.dat; do
  printf 'next release\n' >> "$E2E_APP/$file"
done
sed -i 's|^DriverVer=.*|DriverVer=09/30/2026,2026.9.30.1|' "$E2E_APP/vlm6v6.inf"

( while :; do ui find --exe setup.exe 2>/dev/null; ui find --with 65535 2>/dev/null; sleep 0.5; done ) \
  > "$E2E_DIR/windows.txt" 2>&1 &
watcher=$!
run_start
started=$(date +%s)
code=$(e2e_wine "$EXITCODE" "$E2E_APP/setup.exe" /silence | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
took=$(( $(date +%s) - started ))
kill "$watcher" 2>/dev/null || true
wait "$watcher" 2>/dev/null || true
run_trace > "$E2E_DIR/upgrade.trace"
echo "  the upgrade: exit ${code:-none} after $took s"
check "setup.exe /silence upgrades and exits 0" test "${code:-x}" = 0
check "within a minute" test "$took" -lt 60
check "no window showed" bash -c "! grep -q '^dialog' '$E2E_DIR/windows.txt'"
# Wine keeps no driver version (0), and its SetupAPI reads no DriverVer (a
# stub): the new one is read from the INF's text.
check "the trace names the old and the new version" grep -q \
  '^Upgraded from version 0.0.0.0 (DriverVer unknown) to 2026.9.30.1 (DriverVer 09/30/2026,2026.9.30.1)' \
  "$E2E_DIR/upgrade.trace"
check "without a driver store the folder's files are registered" grep -q \
  '^Printer driver Vellumor VL-K20 now uses this package' "$E2E_DIR/upgrade.trace"

spooler_list > "$E2E_DIR/spooler.txt"
check "the queue is still there" grep -qxF "$queue_line" "$E2E_DIR/spooler.txt"
check "with its comment" grep -qxF "$comment_line" "$E2E_DIR/spooler.txt"
in_use=$(sed -n 's/^driver "Vellumor VL-K20" environment "[^"]*" file "\([^"]*\)".*/\1/p' "$E2E_DIR/spooler.txt" | tr '\\' '/')
in_use=${in_use#C:/}
in_use=${in_use#c:/}
echo "  the spooler uses ${in_use:-nothing}"
drivers="$E2E_PREFIX/drive_c/windows/system32/spool/drivers/x64/3"
check "the spooler uses its driver from x64\\3" bash -c "[[ '$in_use' == */x64/3/vlm6drv6.dll ]]"
for file in vlm6drv6.dll vlm6drv6ui.dll; do
  check "x64\\3\\$file is the new one" cmp -s "$E2E_APP/amd64/$file" "$drivers/$file"
done
check "x64\\3\\vlm6drv6.dat is the new one" cmp -s "$E2E_APP/dat/vlm6drv6.dat" "$drivers/vlm6drv6.dat"
check "system32\\vlm6mon.dll is the new one" cmp -s "$E2E_APP/amd64/vlm6mon.dll" \
  "$E2E_PREFIX/drive_c/windows/system32/vlm6mon.dll"
e2e_end
