#!/bin/bash
# The amd64 folder of the package replaced by a (Unix) symbolic link to
# another folder that holds files named like the package's, a file the INF's
# [SourceDisksFiles] names, and one it does not (so that the package's files
# would go one by one, through the link); Wine reports the link as a reparse
# point.
# With nothing of the family installed (under Wine only an empty inventory
# goes on to delete the folder's files), "unins000.exe /silence" exits 0,
# leaves every file of that other folder and the link in place, and deletes
# the folder's own files beside the link; the trace says why it kept it.
set -eu
source "$(dirname "$0")/lib.sh"
e2e_begin
EXITCODE=$(built exitcode.exe)
# The shell moves deleted files to the desktop's trash: keep it in here.
export XDG_DATA_HOME="$E2E_DIR/xdg"
mkdir -p "$XDG_DATA_HOME"
other="$E2E_PREFIX/drive_c/Other"
mkdir -p "$other"
cp "$E2E_APP"/amd64/* "$other/"
echo "someone's data" > "$other/userdata.dat"
echo "someone's notes" > "$other/notes.txt"
awk '{ print } /^\[SourceDisksFiles\]/ { printf "userdata.dat=1\r\n" }' "$E2E_APP/vlm6v6.inf" > "$E2E_DIR/vlm6v6.inf"
cp "$E2E_DIR/vlm6v6.inf" "$E2E_APP/vlm6v6.inf"
rm -rf "$E2E_APP/amd64"
ln -s "$other" "$E2E_APP/amd64"
(cd "$other" && ls) > "$E2E_DIR/other-before.txt"

RUN_CODE=$(e2e_wine "$EXITCODE" "$E2E_APP/unins000.exe" /silence | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
check "unins000.exe /silence exits 0 (got ${RUN_CODE:-none})" test "${RUN_CODE:-x}" = 0
# The last copy deletes once the first process has ended.
own_gone() { test ! -e "$E2E_APP/vlm6v6.inf" -a ! -e "$E2E_APP/dat" -a ! -e "$E2E_APP/setup.exe"; }
wait_for 30 own_gone || true
check "the folder's own files beside the link are gone" own_gone
check "the link stays" test -L "$E2E_APP/amd64"
(cd "$other" && ls) > "$E2E_DIR/other-after.txt"
check "every file of the other folder stays" cmp -s "$E2E_DIR/other-before.txt" "$E2E_DIR/other-after.txt"
check "the named file is untouched" grep -qx "someone's data" "$other/userdata.dat"
e2e_collect_trace
check "the trace says why the link stays" grep -q 'Keeping C:\\\\Tapstart\\\\amd64: it is a link' "$E2E_DIR/trace.log"
e2e_end
