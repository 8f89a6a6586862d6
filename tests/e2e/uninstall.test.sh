#!/bin/bash
# The uninstaller under Wine with nothing of the driver installed: "-u <folder>"
# shows "Nothing need to be removed there"; "Remove" stops the spooler for the
# monitor file, deletes the folder (it holds our files), says so and closes.
# A folder without our files stays. The copy that unins000.exe starts asks for
# its own and its folder's deletion at the next start. Pictures of the tree go to
# build/screenshots/.
set -eu
source "$(dirname "$0")/lib.sh"
source "$SOURCE_DIR/tools/screenshots.sh"
e2e_begin
# The shell moves deleted folders to the desktop's trash: keep it in here.
export XDG_DATA_HOME="$E2E_DIR/xdg"
mkdir -p "$XDG_DATA_HOME"
ended() { ! kill -0 "$E2E_PID" 2>/dev/null; }

# A second copy of the program, outside the folder that is to go.
cp -r "$BUILD_DIR/dist" "$E2E_PREFIX/drive_c/Prog"
system32="$E2E_PREFIX/drive_c/windows/system32"
cp "$E2E_APP/amd64/vlm6mon.dll" "$system32/vlm6mon.dll" 2>/dev/null || echo x > "$system32/vlm6mon.dll"

# --- nothing installed: the folder with our files goes ------------------------
e2e_wine_bg 'C:\Prog\setup.exe' -u 'C:\Tapstart\'
ui wait-tree 1001 "Nothing need" --with 1001 --timeout 20 > "$E2E_DIR/tree-empty.txt" || true
cat "$E2E_DIR/tree-empty.txt"
check "the tree shows only \"Nothing need to be removed there\"" \
  test "$(grep -c '^[0-9]' "$E2E_DIR/tree-empty.txt")" = 1 -a "$(grep -c '^0 - "Nothing need to be removed there"$' "$E2E_DIR/tree-empty.txt")" = 1
shot uninstall-nothing-installed
e2e_press 1 --with 1001 || true
# The shell may ask before it moves the folder to the trash.
ui answer 6 --caption "Confirm folder deletion" --with 6 --timeout 15 > "$E2E_DIR/confirm.txt" || true
ui msgbox --timeout 30 > "$E2E_DIR/msg115.txt" || true
cat "$E2E_DIR/msg115.txt"
check "message 115 is shown" grep -q 'text="The driver is uninstalled."' "$E2E_DIR/msg115.txt"
shot uninstall-done
ui answer 1 >/dev/null || true
wait_for 20 ended || true
check "the dialog closed and the program ended" ended
check "the folder is gone" test ! -e "$E2E_APP"
check "the monitor file is gone from system32" test ! -e "$system32/vlm6mon.dll"
check "the spooler runs again" bash -c "'$_tools_dir/wine.sh' sc query spooler 2>/dev/null | tr -d '\r' | grep -q RUNNING"

# --- a folder without our files stays, another product's uninstaller too -------
mkdir -p "$E2E_PREFIX/drive_c/Keep"
echo letter > "$E2E_PREFIX/drive_c/Keep/letter.txt"
echo "another product" > "$E2E_PREFIX/drive_c/Keep/unins000.exe"
e2e_wine_bg 'C:\Prog\setup.exe' -u 'C:\Keep\'
ui wait-tree 1001 "Nothing need" --with 1001 --timeout 20 >/dev/null || true
e2e_press 1 --with 1001 || true
ui msgbox --timeout 30 > "$E2E_DIR/msg115-keep.txt" || true
check "message 115 is shown for the other folder too" grep -q 'The driver is uninstalled' "$E2E_DIR/msg115-keep.txt"
ui answer 1 >/dev/null || true
wait_for 20 ended || true
check "that program ended too" ended
check "the folder without our files stays" test -f "$E2E_PREFIX/drive_c/Keep/letter.txt"
check "another product's unins000.exe stays" grep -qx "another product" "$E2E_PREFIX/drive_c/Keep/unins000.exe"
e2e_collect_trace
check "the trace says why it stays" grep -q 'holds none of our files; it stays' "$E2E_DIR/trace.log"

# --- the package beside a user's file: only the package goes -------------------
cp -r "$BUILD_DIR/dist" "$E2E_PREFIX/drive_c/Mixed"
echo letter > "$E2E_PREFIX/drive_c/Mixed/letter.txt"
e2e_wine_bg 'C:\Prog\setup.exe' -u 'C:\Mixed\'
ui wait-tree 1001 "Nothing need" --with 1001 --timeout 20 >/dev/null || true
e2e_press 1 --with 1001 || true
# The shell asks before it moves the entries to the trash.
for i in 1 2 3; do ui answer 6 --with 6 --timeout 5 >/dev/null 2>&1 || break; done
ui msgbox --timeout 30 > "$E2E_DIR/msg115-mixed.txt" || true
ui answer 1 >/dev/null || true
wait_for 20 ended || true
check "the user's file beside the package stays" test -f "$E2E_PREFIX/drive_c/Mixed/letter.txt"
check "the package's files are gone" eval 'test ! -e "$E2E_PREFIX/drive_c/Mixed/vlm6v6.inf" -a ! -e "$E2E_PREFIX/drive_c/Mixed/amd64" -a ! -e "$E2E_PREFIX/drive_c/Mixed/unins000.exe"'
e2e_collect_trace
check "the trace names what was kept" grep -q 'Keeping C:.*Mixed.*letter.txt: it is not ours' "$E2E_DIR/trace.log"

# --- the copy and its folder are deleted at the next start ---------------------
e2e_wine_bg 'C:\Prog\unins000.exe'
ui wait-tree 1001 "Nothing need" --with 1001 --timeout 20 >/dev/null || true
e2e_close_uninstall || true
wait_for 20 eval "! e2e_running 'Tapstart-[0-9a-f]{8}.unins000\.exe'" || true
e2e_collect_trace
copy=$(sed -n 's/^Deleting .*\\\\\(Tapstart-[0-9a-f]*\)\\\\unins000\.exe and its folder at the next start: 1$/\1/p' "$E2E_DIR/trace.log" | head -1)
check "the copy asked Windows to delete it and its folder at the next start" test -n "$copy"
pending=$("$_tools_dir/wine.sh" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true)
temp_dir=$(find "$E2E_PREFIX/drive_c/users" -maxdepth 2 -type d -iname temp | head -1)
# Wine carries out such deletions whenever its server starts anew.
check "the deletion of $copy is pending, or done" \
  eval 'echo "$pending" | grep -qi "$copy" || { test -d "$temp_dir" && test ! -e "$temp_dir/$copy"; }'

# --- a package that devices keep using, in German: the HRESULT as 0x%x --------
# (Wine's driver-store deletion ends the process, so this runs on the fake.)
german_locale "$BUILD_DIR/locale" || echo "no German locale"
in_language de "$_tools_dir/wine.sh" "$BUILD_DIR/unit_tests.exe" \
  --gtest_filter=Removal.PackageInUseByDevicesIsTriedFiveTimes > "$E2E_DIR/german.log" 2>&1 && german_rc=0 || german_rc=$?
grep 'package status' "$E2E_DIR/german.log" || true
check "in German the package's text shows 0x800f023d" \
  eval 'test "$german_rc" -eq 0 && grep -q "package status: Fehlgeschlagen. Fehler: 0x800f023d" "$E2E_DIR/german.log"'
e2e_end
