#!/bin/bash
# The command line as administrators type it, watched by its whole exit code:
# a quoted log path with blanks first, mistyped silent options ended at once
# with 1639, a folder typed with its backslash before the closing quote; the
# uninstaller started with a log opens its dialog; the log of a silent
# uninstall ends with the code its caller got; a spooler stopped by hand is
# started first and runs after the install.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin
EXITCODE=$(built exitcode.exe)

# The whole exit code of a line typed as it stands, in RUN_CODE.
typed() {
  RUN_CODE=$(EXITCODE_LINE="$1" e2e_wine "$EXITCODE" | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
  echo "  $1 -> ${RUN_CODE:-none}"
}
queue_line='queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"'
no_queue() { spooler_list > "$E2E_DIR/$1.txt"; ! grep -qxF "$queue_line" "$E2E_DIR/$1.txt"; }
mkdir -p "$E2E_PREFIX/drive_c/logs"

# --- a quoted log path with blanks, first ----------------------------------------
mkdir -p "$E2E_PREFIX/drive_c/My Logs"
typed 'C:\Tapstart\setup.exe /log="C:\My Logs\first.log" /silence /timeout=3'
check "a quoted /log= with blanks first: 1460 after the timeout" test "${RUN_CODE:-x}" = 1460
check "the log is written where it was named" grep -q 'Exit code: 1460' "$E2E_PREFIX/drive_c/My Logs/first.log"

# --- mistyped silent options, a printer attached -----------------------------------
attach "Vellumor VL-K20" 1
for line in 'C:\Tapstart\setup.exe /silence /timeout=abc' 'C:\Tapstart\setup.exe /silence -u'; do
  started=$(date +%s)
  typed "$line"
  check "'${line#*setup.exe }' exits 1639 (ERROR_INVALID_COMMAND_LINE)" test "${RUN_CODE:-x}" = 1639
  check "  within seconds" test $(( $(date +%s) - started )) -le 15
  check "  and makes no queue" no_queue "mistyped"
done

# --- a folder typed with its backslash before the closing quote --------------------
cp -r "$BUILD_DIR/dist" "$E2E_PREFIX/drive_c/Drivers-Setup"
mkdir -p "$E2E_PREFIX/drive_c/Drivers"
mv "$E2E_PREFIX/drive_c/Drivers-Setup" "$E2E_PREFIX/drive_c/Drivers/Setup"
typed 'C:\Tapstart\setup.exe -u "C:\Drivers\Setup\" /silence'
check "-u \"C:\\Drivers\\Setup\\\" /silence with nothing installed exits 0" test "${RUN_CODE:-x}" = 0
wait_for 30 test ! -e "$E2E_PREFIX/drive_c/Drivers/Setup" || true
check "  and /silence was read: the folder went without a dialog" test ! -e "$E2E_PREFIX/drive_c/Drivers/Setup"
check "  no uninstall dialog is left open" bash -c "! ui find --with 1001 2>/dev/null | grep -q '^dialog'"

# --- the uninstaller with a log opens its dialog -------------------------------------
e2e_wine_bg "$E2E_APP/unins000.exe" '/log=C:\logs\un.log'
opened=0
ui wait-visible 1001 1 --with 1001 --timeout 30 >/dev/null 2>&1 && opened=1
check "unins000.exe /log=C:\\logs\\un.log opens the uninstall dialog" test "$opened" = 1
[ "$opened" = 1 ] && e2e_close_uninstall || true
wait "$E2E_PID" 2>/dev/null || true

# --- the spooler stopped by hand, then a silent install -------------------------------
"$_tools_dir/wine.sh" net stop spooler >/dev/null 2>&1 || true
typed 'C:\Tapstart\setup.exe /silence'
check "with the spooler stopped first, a silent install exits 0" test "${RUN_CODE:-x}" = 0
spooler_list > "$E2E_DIR/after-stopped.txt"
check "  the queue is made" grep -qxF "$queue_line" "$E2E_DIR/after-stopped.txt"
check "  and the spooler runs afterwards" bash -c "'$_tools_dir/wine.sh' sc query spooler 2>/dev/null | grep -q 'STATE *: *4 '"

# --- the log of a silent uninstall ends with what its caller got ----------------------
typed 'C:\Tapstart\unins000.exe /silence /log=C:\logs\silent-un.log'
log="$E2E_PREFIX/drive_c/logs/silent-un.log"
check "unins000.exe /silence exits with Wine's driver deletion error (87)" test "${RUN_CODE:-x}" = 87
check "its log's last line is the code the caller got" \
  test "$(tail -n 1 "$log" | tr -d '\r' | sed 's/^.*\] //')" = "Exit code: 87"
check "its lines name the program and its copy" bash -c "grep -q ' program\] ' '$log' && grep -q ' uninstaller copy\] ' '$log'"
e2e_end
