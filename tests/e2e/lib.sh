#!/bin/bash
# Shared steps of the whole-program scenarios: a fresh Wine prefix and display
# for each scenario, always ended on the way out, and the program's trace read
# from Wine's debug channel.
set -u
: "${BUILD_DIR:?}" "${SOURCE_DIR:?}"
source "$SOURCE_DIR/tools/wineprefix.sh"

E2E_NAME=$(basename "$0" .test.sh)
E2E_DIR="$BUILD_DIR/e2e/$E2E_NAME"
E2E_PREFIX="$E2E_DIR/prefix"
E2E_FAILURES=0

# The prefix of a scenario that passed is removed (it takes hundreds of MB);
# a failed one's stays for a look, with its trace and Wine log.
e2e_cleanup() {
  local rc=$?
  prefix_down "$E2E_PREFIX"
  if [ "$rc" -eq 0 ] && [ -z "${E2E_KEEP:-}" ]; then rm -rf "$E2E_PREFIX"; fi
}
trap e2e_cleanup EXIT

# Makes the prefix, and a copy of the distributable folder at C:\Tapstart.
e2e_begin() {
  rm -rf "$E2E_DIR"
  mkdir -p "$E2E_DIR"
  prefix_up "$E2E_PREFIX" || { echo "FAIL: no Wine prefix"; exit 1; }
  E2E_APP="$E2E_PREFIX/drive_c/Tapstart"
  cp -r "$BUILD_DIR/dist" "$E2E_APP"
  E2E_APP_WIN='C:\Tapstart\'
}

# Runs a Windows program in the prefix; its trace lands in $E2E_DIR/trace.log.
# Sets E2E_RC to the exit code.
e2e_wine() {
  set +e
  WINEDEBUG=${E2E_WINEDEBUG:--all,warn+seh} "$_tools_dir/wine.sh" "$@" 2>>"$E2E_DIR/wine.log"
  E2E_RC=$?
  set -e
  e2e_collect_trace
}

# Starts a Windows program in the background; E2E_PID is its wine process.
e2e_wine_bg() {
  WINEDEBUG=-all,warn+seh "$_tools_dir/wine.sh" "$@" 2>>"$E2E_DIR/wine.log" &
  E2E_PID=$!
}

# --- the trace: the programs' debug output, read from Wine's debug channel --

# Decodes Wine's debug-channel lines on standard input into trace lines.
decode_trace() {
  sed -n 's/^[0-9a-f]*:warn:seh:OutputDebugStringA "\(.*\)"$/\1/p' | grep -v '^\\n$' || true
}

# The whole trace of the scenario so far, into $E2E_DIR/trace.log.
e2e_collect_trace() { decode_trace < "$E2E_DIR/wine.log" > "$E2E_DIR/trace.log" 2>/dev/null || true; }

# The trace since run_start.
run_start() { RUN_START=$(wc -l < "$E2E_DIR/wine.log" 2>/dev/null || echo 0); }
run_trace() { tail -n +$((RUN_START + 1)) "$E2E_DIR/wine.log" | decode_trace; }
# The same without the lines of threads that traced before the mark too: a
# dialog that is still searching beside the program started since.
run_trace_of_new_threads() {
  local earlier
  earlier=$(head -n "$RUN_START" "$E2E_DIR/wine.log" | sed -n 's/^\([0-9a-f]*\):warn:seh:.*/\1/p' | sort -u)
  tail -n +$((RUN_START + 1)) "$E2E_DIR/wine.log" |
    grep -v -F -f <(printf '%s:warn:seh:\n' $earlier | sed '/^:warn/d') | decode_trace
}

check() {  # check "what" command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; E2E_FAILURES=$((E2E_FAILURES + 1)); fi
}

# Waits up to $1 seconds for a command to succeed.
wait_for() {
  local limit=$1 i
  shift
  for i in $(seq 1 $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

e2e_end() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    # The end of the trace, for a run whose files nobody can open afterwards.
    e2e_collect_trace
    echo "last lines of the trace:"
    tail -n 40 "$E2E_DIR/trace.log" 2>/dev/null | sed 's/^/  | /'
    echo "$E2E_FAILURES check(s) failed; trace and Wine log in $E2E_DIR"
    exit 1
  fi
  echo "all checks passed"
}

# --- the programs the build made --------------------------------------------

built() {  # the path of a program the build made
  local found
  found=$(find "$BUILD_DIR" -maxdepth 3 -name "$1" -print -quit)
  if [ -z "$found" ]; then echo "FAIL: $1 was not built" >&2; exit 1; fi
  echo "$found"
}
USBPRINTER=$(built usbprinter.exe)
UIDRIVER=$(built uidriver.exe)
SPOOLERLIST=$(built spoolerlist.exe)

# Attaches and detaches virtual USB printers (tools/fixtures/usbprinter), e.g.
#   e2e_usbprinter add --description "Vellumor VL-K20" --port 1
# prints what it did and sets E2E_RC.
e2e_usbprinter() { e2e_wine "$USBPRINTER" "$@"; }

# Closes the uninstall dialog (the one with tree view 1001) as soon as its
# worker lets Close through; false when it stays open.
e2e_close_uninstall() {
  local i
  for i in $(seq 1 40); do
    ui close --with 1001 --timeout 5 >/dev/null 2>&1
    ui wait-gone --with 1001 --timeout 1 >/dev/null 2>&1 && return 0
  done
  return 1
}

# The UI driver (tools/fixtures/uidriver): its lines, carriage returns
# dropped, and its exit code, also in E2E_RC.
ui() {
  local out rc=0
  out=$(WINEDEBUG=-all "$_tools_dir/wine.sh" "$UIDRIVER" "$@" 2>>"$E2E_DIR/wine.log") || rc=$?
  [ -z "$out" ] || printf '%s\n' "${out//$'\r'/}"
  E2E_RC=$rc
  return "$rc"
}

# Presses a button once it can be pressed (a worker may still hold it).
e2e_press() {
  local i
  for i in $(seq 1 20); do
    ui click "$@" --timeout 2 >/dev/null && return 0
    sleep 0.5
  done
  return 1
}

# A picture of the whole Wine desktop into build/screenshots/NAME.png, once
# every dialog on it has painted what it shows.
SHOTS="$BUILD_DIR/screenshots"
shot() {
  mkdir -p "$SHOTS"
  ui paint --timeout 2 >/dev/null 2>&1 || true
  DISPLAY=$(cat "$E2E_PREFIX.display") import -window root "$SHOTS/$1.png" 2>/dev/null || true
}

# Whether a live (not defunct) process of this scenario's prefix has a
# command line matching the extended regular expression.
e2e_running() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    [ "$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1)" = Z ] && continue
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$E2E_PREFIX" && return 0
  done
  return 1
}
