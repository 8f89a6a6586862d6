#!/bin/bash
# Helpers of the install scenarios, sourced after lib.sh: the fixture and
# driver programs, the trace of one run, and order checks.

built() {  # the path of a program the build made
  local found
  found=$(find "$BUILD_DIR" -maxdepth 3 -name "$1" -print -quit)
  if [ -z "$found" ]; then echo "FAIL: $1 was not built" >&2; exit 1; fi
  echo "$found"
}
USBPRINTER=$(built usbprinter.exe)
UIDRIVER=$(built uidriver.exe)
SPOOLERLIST=$(built spoolerlist.exe)

# The trace of the runs since run_start, one line each.
run_start() { RUN_START=$(wc -l < "$E2E_DIR/wine.log" 2>/dev/null || echo 0); }
run_trace() {
  tail -n +$((RUN_START + 1)) "$E2E_DIR/wine.log" |
    sed -n 's/^[0-9a-f]*:warn:seh:OutputDebugStringA "\(.*\)"$/\1/p' | grep -v '^\\n$' || true
}

# in_order FILE PATTERN...: lines matching the patterns (shell patterns,
# whole lines) appear in FILE in this order.
in_order() {
  local file=$1 line
  shift
  while IFS= read -r line; do
    [ $# -eq 0 ] && break
    # shellcheck disable=SC2053
    [[ $line == $1 ]] && shift
  done < "$file"
  if [ $# -ne 0 ]; then echo "  not found in order: $1"; return 1; fi
}

spooler_list() { e2e_wine "$SPOOLERLIST"; return "$E2E_RC"; }
ui() { e2e_wine "$UIDRIVER" "$@"; return "$E2E_RC"; }
