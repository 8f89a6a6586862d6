#!/bin/bash
# Files planted beside the program, where anyone may leave one in a Downloads
# folder, are never loaded or started by it: a newdev.dll and a winspool.drv
# (Wine told to search DLLs as Windows does, the program's folder first for
# DLLs outside the known-DLL list) and a rundll32.exe. Each leaves a marker
# beside itself when it runs. The installer dialog with its Wizard button, a
# silent install with a printer attached and the silent uninstall run here.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin
EXITCODE=$(built exitcode.exe)
cp "$BUILD_DIR"/planted/{newdev.dll,winspool.drv,rundll32.exe} "$E2E_APP/"
export WINEDLLOVERRIDES="mscoree,mshtml=;newdev,winspool.drv=n,b"
planted_ran() { ls "$E2E_APP"/*.loaded 2>/dev/null; }
nothing_planted_ran() { ! planted_ran >/dev/null; }

# --- the installer dialog, and its Wizard button ------------------------------
start_dialog en_US.UTF-8
check "the installer dialog opens" on_dialog wait-text 1006 "$(plain_start "$(program_string 101 0x409)")" --timeout 30
check "the dialog loaded neither planted DLL" nothing_planted_ran
run_start
on_dialog click 3 >/dev/null
sleep 3
run_trace > "$E2E_DIR/wizard.trace"
check "Wizard starts rundll32.exe from the system directory" \
  grep -qiF 'Starting wizard: \"C:\\windows\\system32\\rundll32.exe\" printui.dll' "$E2E_DIR/wizard.trace"
check "the planted rundll32.exe did not run" test ! -e "$E2E_APP/rundll32.exe.loaded"
on_dialog click 2 >/dev/null
on_dialog wait-gone --timeout 20 >/dev/null || true
wait "$DIALOG_PID" 2>/dev/null || true
pkill -f 'rundll32.exe' 2>/dev/null || true

# --- a silent install with a printer attached ----------------------------------
attach "Vellumor VL-K20" 1
RUN_CODE=$(e2e_wine "$EXITCODE" "$E2E_APP/setup.exe" /silence | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
check "setup.exe /silence exits 0" test "${RUN_CODE:-x}" = 0
spooler_list > "$E2E_DIR/spooler.txt"
check "the queue is made" grep -qxF 'queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"' "$E2E_DIR/spooler.txt"
check "the silent install loaded neither planted DLL" nothing_planted_ran

# --- the silent uninstall ------------------------------------------------------
e2e_wine "$EXITCODE" "$E2E_APP/unins000.exe" /silence >/dev/null
check "unins000.exe /silence loaded neither planted DLL" nothing_planted_ran
planted_ran || true
e2e_end
