#!/bin/bash
# Runs ended by force, as deployment engines end a run past its time limit,
# and the run after each: a silent install ended at 0.5, 1.5, 3 and 5 s is
# finished by the next silent install (queue, driver, monitor, a running
# spooler); a silent uninstall whose processes are all ended at 1, 3 and 6 s
# is finished by the next one (the clean one's exit code, no queue, a running
# spooler). Only the processes this scenario started are ended, by their ids.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
EXITCODE=$(built exitcode.exe)
queue_line='queue "Vellumor VL-K20" port "USB001" driver "Vellumor VL-K20"'

run_code() {
  RUN_CODE=$(e2e_wine "$EXITCODE" "$@" | tr -d '\r' | sed -n 's/^exit \([0-9]*\)$/\1/p')
}
# The Linux ids of this prefix's processes whose command line matches $1.
prefix_pids() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$E2E_PREFIX" && echo "$pid"
  done
}
spooler_runs() { "$_tools_dir/wine.sh" sc query spooler 2>/dev/null | grep -q 'STATE *: *4 '; }
# Starts a program in the background and ends it by force after $1 seconds,
# with every copy of the uninstaller it started (Tapstart-*\unins000.exe in
# the temp folder).
end_after() {
  local seconds=$1 pid
  shift
  e2e_wine_bg "$@"
  local first=$E2E_PID
  sleep "$seconds"
  for pid in $first $(prefix_pids 'Tapstart-[0-9a-f]{8}.unins000\.exe'); do kill -9 "$pid" 2>/dev/null || true; done
  wait "$first" 2>/dev/null || true
}

# --- installs ended by force, each in a prefix of its own -----------------------
for seconds in 0.5 1.5 3 5; do
  e2e_begin
  attach "Vellumor VL-K20" 1
  end_after "$seconds" "$E2E_APP/setup.exe" /silence
  run_code "$E2E_APP/setup.exe" /silence
  spooler_list > "$E2E_DIR/after-$seconds.txt"
  check "[$seconds s] the next silent install exits 0 (got ${RUN_CODE:-none})" test "${RUN_CODE:-x}" = 0
  check "[$seconds s]   the queue is there" grep -qxF "$queue_line" "$E2E_DIR/after-$seconds.txt"
  check "[$seconds s]   the driver is there" grep -qF 'driver "Vellumor VL-K20" ' "$E2E_DIR/after-$seconds.txt"
  check "[$seconds s]   the monitor is there" grep -qF 'Vellumor Language Monitor V6' "$E2E_DIR/after-$seconds.txt"
  check "[$seconds s]   the spooler runs" spooler_runs
  prefix_down "$E2E_PREFIX"
done

# --- uninstalls ended by force, after an install each ---------------------------
e2e_begin
attach "Vellumor VL-K20" 1
for seconds in 1 3 6; do
  run_code "$E2E_APP/setup.exe" /silence
  end_after "$seconds" "$E2E_APP/unins000.exe" /silence
  run_code "$E2E_APP/unins000.exe" /silence
  spooler_list > "$E2E_DIR/uninstalled-$seconds.txt"
  check "[$seconds s] the next silent uninstall exits as a clean one does on Wine (87, got ${RUN_CODE:-none})" \
    test "${RUN_CODE:-x}" = 87
  check "[$seconds s]   no queue is left" bash -c "! grep -qF 'queue \"Vellumor VL-K20\"' '$E2E_DIR/uninstalled-$seconds.txt'"
  check "[$seconds s]   the spooler runs" spooler_runs
done
e2e_end
