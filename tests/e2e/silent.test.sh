#!/bin/bash
# Silent runs as a deployment tool sees them, watched from outside: no window
# at any time, and the whole exit code (read by a fixture that starts the
# program, since the Wine shell sees only its low byte). The uninstall of
# nothing exits 0 and its folder goes shortly after; a second silent
# instance exits 1618; "/quiet" installs like "/silence", and a driver DLL
# held open gives 3010 and a replacement at the next start; with the family
# installed a silent start exits 0 without a window (Wine keeps no driver
# version, so there it upgrades in place); "unins000.exe /silence" returns
# once the queue is gone, with the driver deletion's error that Wine gives.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin
EXITCODE=$(built exitcode.exe)
HOLDFILE=$(built holdfile.exe)
export XDG_DATA_HOME="$E2E_DIR/xdg"
mkdir -p "$XDG_DATA_HOME"

# The whole exit code of a program run in the prefix, in RUN_CODE.
run_code() {
  RUN_CODE=$(e2e_wine "$EXITCODE" "$@" | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
  echo "  $* -> ${RUN_CODE:-none}"
}
# Records every dialog of the programs in the prefix, every half second,
# until stopped: a silent run must never show one.
watch_windows() {
  ( while :; do ui find --exe setup.exe 2>/dev/null; ui find --exe unins000.exe 2>/dev/null
               ui find --with 65535 2>/dev/null; sleep 0.5; done ) > "$E2E_DIR/windows-$1.txt" 2>&1 &
  WATCHER=$!
}
stop_watching() { kill "$WATCHER" 2>/dev/null || true; wait "$WATCHER" 2>/dev/null || true; }
no_window() { ! grep -q '^dialog' "$E2E_DIR/windows-$1.txt"; }
spooler() { e2e_wine "$SPOOLERLIST" > "$E2E_DIR/$1.txt"; }
queue_line='queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"'

# --- an uninstall with nothing installed -------------------------------------
cp -r "$BUILD_DIR/dist" "$E2E_PREFIX/drive_c/Empty"
watch_windows empty
run_code 'C:\Empty\unins000.exe' /silence
check "unins000.exe /silence with nothing installed exits 0" test "${RUN_CODE:-x}" = 0
wait_for 30 test ! -e "$E2E_PREFIX/drive_c/Empty" || true
stop_watching
check "its folder is gone shortly after" test ! -e "$E2E_PREFIX/drive_c/Empty"
check "no window showed" no_window empty

# --- a second silent instance --------------------------------------------------
e2e_wine_bg "$E2E_APP/setup.exe" /silence   # no printer: it searches on
first=$E2E_PID
sleep 3
run_code "$E2E_APP/setup.exe" /silence
check "a second silent instance exits 1618" test "${RUN_CODE:-x}" = 1618
kill "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true

# --- /quiet, with a driver DLL held open ---------------------------------------
drivers="$E2E_PREFIX/drive_c/windows/system32/spool/drivers/x64"
mkdir -p "$drivers"
cp "$E2E_APP/amd64/vlm6drv6.dll" "$drivers/vlm6drv6.dll"
"$_tools_dir/wine.sh" "$HOLDFILE" 'C:\windows\system32\spool\drivers\x64\vlm6drv6.dll' 120 \
  > "$E2E_DIR/hold.txt" 2>>"$E2E_DIR/wine.log" &
holder=$!
wait_for 20 grep -q held "$E2E_DIR/hold.txt" || true
e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial SIL0001 >/dev/null
watch_windows quiet
run_code "$E2E_APP/setup.exe" /quiet
stop_watching
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
check "setup.exe /quiet with a driver DLL held open exits 3010" test "${RUN_CODE:-x}" = 3010
spooler quiet
check "/quiet installed the queue as /silence does" grep -qxF "$queue_line" "$E2E_DIR/quiet.txt"
pending=$("$_tools_dir/wine.sh" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
  /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true)
check "the held DLL's replacement waits for the next start" eval 'echo "$pending" | grep -qi "vlm6drv6.dll"'
check "no window showed during the install" no_window quiet

# --- the family installed: a silent start opens nothing ----------------------------
watch_windows installed
run_code "$E2E_APP/setup.exe" /silence
sleep 2
stop_watching
check "a silent start with the family installed exits 0" test "${RUN_CODE:-x}" = 0
check "it started no uninstaller" bash -c "! grep -q '^dialog' '$E2E_DIR/windows-installed.txt'"

# --- the silent uninstall after the install --------------------------------------
watch_windows uninstall
run_code "$E2E_APP/unins000.exe" /silence
stop_watching
spooler uninstalled
check "unins000.exe /silence returns once the queue is gone" bash -c "! grep -qF 'queue \"Vellumor VL-K20\"' '$E2E_DIR/uninstalled.txt'"
check "it exits with the driver deletion's error that Wine gives (87)" test "${RUN_CODE:-x}" = 87
check "after the failure the folder stays" test -f "$E2E_APP/vlm6v6.inf"
check "no window showed during the uninstall" no_window uninstall
e2e_end
