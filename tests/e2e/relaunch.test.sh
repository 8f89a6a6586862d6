#!/bin/bash
# A program file named unins000.exe hands the uninstall to a copy of itself in
# a new folder of the temporary folder, started with "-u" and the folder;
# every road ends with exit code 0.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin

temp_dir="$E2E_PREFIX/drive_c/users/$(id -un)/Temp"
[ -d "$temp_dir" ] || temp_dir=$(find "$E2E_PREFIX/drive_c/users" -maxdepth 3 -type d -iname temp | head -1)
copies() { ls "$temp_dir" 2>/dev/null | grep '^Tapstart-[0-9a-f]\{8\}$' || true; }
before=$(copies | wc -l)

E2E_WINEDEBUG=-all,warn+seh,trace+process e2e_wine "$E2E_APP/unins000.exe"
check "unins000.exe exits with 0" test "$E2E_RC" -eq 0

copy=$(cd "$temp_dir" && ls -td Tapstart-* 2>/dev/null | head -1 || true)
check "a copy Tapstart-*\\unins000.exe was made" test -n "$copy" -a -f "$temp_dir/$copy/unins000.exe"
if [ -n "$copy" ]; then
  check "the copy is byte-identical to unins000.exe" cmp -s "$temp_dir/$copy/unins000.exe" "$E2E_APP/unins000.exe"
fi
check "exactly one new copy" test "$(copies | wc -l)" -eq $((before + 1))

# The copy was started with -u and the folder, its trailing backslash last and
# no closing quote (Wine's process channel shows the command line).
expected="cmdline L\"\\\"C:\\\\users\\\\$(id -un)\\\\Temp\\\\$copy\\\\unins000.exe\\\" -u \\\"C:\\\\Tapstart\\\\\""
check "the copy was started as: \"<copy>\" -u \"C:\\Tapstart\\" grep -qF "CreateProcessInternalW app (null) $expected" "$E2E_DIR/wine.log"
copy_gone() { ! e2e_running "$copy.unins000\\.exe"; }
# The copy shows the uninstall dialog; Close ends it.
e2e_close_uninstall || true
wait_for 20 copy_gone || true
check "the copy has ended" copy_gone

# The other roads end with 0 too.
e2e_wine "$E2E_APP/setup.exe" -u ""
check "-u with an empty folder exits with 0" test "$E2E_RC" -eq 0
e2e_wine_bg "$E2E_APP/setup.exe" -u 'C:\nowhere\'
e2e_close_uninstall || true
set +e
wait "$E2E_PID"
E2E_RC=$?
set -e
check "-u exits with 0" test "$E2E_RC" -eq 0
e2e_end
