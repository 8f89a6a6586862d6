#!/bin/bash
# What support and fleets get, under Wine: a log file with its opening lines,
# the trace and the exit code (at a given path, or in the temporary folder),
# 1622 and nothing installed when the log cannot be written, a bounded silent
# search (1460), staging that fails as Wine's driver store does and changes
# nothing, and Windows protected print mode: 3014 silently, the new text in
# the dialog (pictures in English and German).
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin
EXITCODE=$(built exitcode.exe)
run_code() {
  RUN_CODE=$(e2e_wine "$EXITCODE" "$@" | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
  echo "  $* -> ${RUN_CODE:-none}"
}
spooler() { e2e_wine "$SPOOLERLIST" > "$E2E_DIR/$1.txt"; }
no_queue() { ! grep -q '^queue "Vellumor' "$E2E_DIR/$1.txt"; }

# --- a bounded search, with a log in a folder that exists -----------------------
mkdir -p "$E2E_PREFIX/drive_c/logs"
log="$E2E_PREFIX/drive_c/logs/setup.log"
started=$(date +%s)
run_code "$E2E_APP/setup.exe" /silence /timeout=5 '/log=C:\logs\setup.log'
took=$(( $(date +%s) - started ))
check "/silence /timeout=5 without a printer exits 1460" test "${RUN_CODE:-x}" = 1460
check "it returned within a few seconds ($took s)" test "$took" -le 20
check "the log opens with the program's version" grep -q '^[0-9-]* [0-9:.]* \[[0-9]* program\] Tapstart installer ' "$log"
for line in 'Command line: ' 'Windows: ' 'Native architecture: 9 (Windows x64)' 'Account: ' 'Silent run: yes'; do
  check "the log names: $line" grep -q " $line" "$log"
done
check "the log holds the search's trace" grep -q ' No supported printer within 5 s; the search ends.' "$log"
check "the log ends with the exit code" test "$(tail -n 1 "$log" | tr -d '\r' | sed 's/^[0-9-]* [0-9:.]* \[[0-9]* [a-z ]*\] //')" = "Exit code: 1460"

# --- /log alone, and a log that cannot be written -------------------------------
temp_dir=$(find "$E2E_PREFIX/drive_c/users" -maxdepth 3 -type d -iname temp | head -1)
run_code "$E2E_APP/setup.exe" /silence /timeout=1 /log
check "/log alone leaves a Tapstart*.log in the temporary folder" bash -c "ls '$temp_dir'/Tapstart*.log >/dev/null"
e2e_usbprinter add --description "Vellumor VL-K20" --port 1 --serial SUP0001 >/dev/null
run_code "$E2E_APP/setup.exe" /silence '/log=C:\nowhere\setup.log'
check "a missing log folder gives 1622" test "${RUN_CODE:-x}" = 1622
spooler no-log
check "and installs nothing" no_queue no-log

# --- staging: Wine has no driver store -----------------------------------------
run_code "$E2E_APP/setup.exe" /stage
check "/stage returns the upload's failure (E_NOTIMPL)" test "${RUN_CODE:-x}" = 2147500033
spooler staged
check "and changes nothing" no_queue staged

# --- Windows protected print mode ------------------------------------------------
"$_tools_dir/wine.sh" reg add 'HKLM\Software\Policies\Microsoft\Windows NT\Printers\WPP' \
  /v WindowsProtectedPrintGroupPolicyState /t REG_DWORD /d 1 /f >/dev/null 2>&1
run_start
run_code "$E2E_APP/setup.exe" /silence
check "with the policy on, a silent run exits 3014" test "${RUN_CODE:-x}" = 3014
spooler protected
check "and the spooler lists nothing new" no_queue protected
check "the trace says why" bash -c "grep -q 'Windows protected print mode is on' '$E2E_DIR/wine.log'"
for lang in en de; do
  langid=0x0009; locale=en_US.UTF-8
  [ "$lang" = de ] && { langid=0x0007; locale=de_DE.UTF-8; }
  text=$(program_string 120 "$langid")
  start_dialog "$locale"
  check "[$lang] the dialog shows the protected print text" on_dialog wait-text 1006 "$(plain_start "$text")" --timeout 30
  check "[$lang] the whole text in the status line" same "$(on_dialog text 1006)" "$text"
  shot "installer-protected-print-$lang"
  close_dialog "$lang"
done
e2e_end
