#!/bin/bash
# Helpers of the install scenarios, sourced after lib.sh: order checks and
# the installer dialog's states.

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

# --- the installer dialog -----------------------------------------------------
PROGRAM='C:\Tapstart\setup.exe'
on_dialog() { ui "$@" --exe setup.exe; }
# A string of the program's own table in a language, quoted as the driver prints texts.
program_string() { ui string "$PROGRAM" "$1" "$2"; }
# The text between the quotes up to its first escape, for waiting on it.
plain_start() { local t=${1#\"}; t=${t%%\\*}; t=${t%\"}; printf '%s' "${t:0:24}"; }
# A quoted table text with its %ws filled in: printer name, then port.
filled() { local t=${1/\%ws/$2}; printf '%s' "${t/\%ws/$3}"; }
joined() { local a=${1%\"} b=${2#\"}; printf '%s%s' "$a" "$b"; }
same() { [ "$1" = "$2" ] || { echo "  shown:    $1"; echo "  expected: $2"; return 1; }; }
attach() { e2e_wine "$USBPRINTER" add --description "$1" --port "$2" --serial "E2E$2" >/dev/null; }
detach() { e2e_wine "$USBPRINTER" remove --port "$1" >/dev/null; }

# visibility_is "ID=V ...": whether each control is shown (1) or hidden (0) now.
visibility_is() {
  local state pair
  state=$(on_dialog state)
  for pair in $1; do
    grep -q "^control ${pair%=*} [^ ]* visible=${pair#*=} " <<< "$state" ||
      { echo "  control ${pair%=*} is not visible=${pair#*=}"; return 1; }
  done
}

# start_dialog LANG: the installer dialog in that language, in the background.
start_dialog() {
  LANG=$1 e2e_wine_bg "$E2E_APP/setup.exe"
  DIALOG_PID=$E2E_PID
}

# close_dialog TAG: ends the dialog with button 2; the program exits with 0.
close_dialog() {
  local rc
  on_dialog click 2 >/dev/null
  check "[$1] button 2 closes the dialog" on_dialog wait-gone --timeout 20
  wait "$DIALOG_PID" && rc=0 || rc=$?
  check "[$1] the program exits with 0" test "$rc" -eq 0
}

# hold_searching TAG LANG TEXT: starts the dialog and holds it still in its
# searching state: the searching text shown, the picture hidden, the progress
# bar shown. That state lasts as long as one scan, which on a machine without
# printers can be shorter than holding a program takes; a start whose moment
# passed is ended and the dialog started again, up to six times (a loaded
# machine misses it more often).
hold_searching() {
  local tag=$1 language=$2 searching=$3 attempt watcher held
  for attempt in 1 2 3 4 5 6; do
    # The watcher starts first, so that it sees the dialog's first moment.
    on_dialog hold 1006 "$(plain_start "$searching")" 1007=0 1003=1 --timeout 30 \
      > "$E2E_DIR/hold-$tag.txt" &
    watcher=$!
    sleep 1
    start_dialog "$language"
    wait "$watcher" && held=0 || held=$?
    cat "$E2E_DIR/hold-$tag.txt"
    [ "$held" -eq 0 ] && return 0
    echo "  start $attempt: the searching state passed before it could be held"
    on_dialog click 2 >/dev/null
    on_dialog wait-gone --timeout 20 >/dev/null
    wait "$DIALOG_PID" || true
  done
  return 1
}

# searching_then_no_printer TAG LANG LANGID: the dialog's first moment (held
# still to look at it) and the no-printer state that follows.
searching_then_no_printer() {
  local tag=$1 language=$2 langid=$3 searching no_device
  searching=$(program_string 119 "$langid")
  no_device=$(program_string 101 "$langid")
  check "[$tag] the status line shows the searching text, the picture hidden, the progress bar shown" \
    hold_searching "$tag" "$language" "$searching"
  check "[$tag] held: the searching text on the status line" \
    same "$(on_dialog text 1006)" "$searching"
  check "[$tag] held: the picture hidden and the progress bar shown" \
    visibility_is "1007=0 1003=1"
  shot "installer-searching-$tag"
  on_dialog release >/dev/null

  check "[$tag] then the no-printer text" \
    on_dialog wait-text 1006 "$(plain_start "$no_device")" --timeout 20
  check "[$tag] string 101 whole on the status line" same "$(on_dialog text 1006)" "$no_device"
  check "[$tag] Wizard button and picture shown, log and progress bar hidden" \
    visibility_is "3=1 1007=1 1005=0 1003=0"
  shot "installer-no-printer-$tag"
}

# installed TAG LANGID "NAME:PORT"...: the dialog after the printers named
# were installed in one pass, in that order.
installed() {
  local tag=$1 langid=$2 found installed_text done_text log="" line="" printer
  shift 2
  found=$(program_string 117 "$langid")
  installed_text=$(program_string 103 "$langid")
  done_text=$(program_string 118 "$langid")
  check "[$tag] the install finishes without any action: button 2 reads Done" \
    on_dialog wait-text 2 "$(plain_start "$done_text")" --timeout 240
  for printer in "$@"; do
    line=$(filled "$installed_text" "${printer%:*}" "${printer#*:}")
    log=$(joined "${log:-\"\"}" "$(joined "$(filled "$found" "${printer%:*}" "${printer#*:}")" "$line")")
  done
  check "[$tag] the log holds the found and the installed line of each printer" \
    same "$(on_dialog text 1005)" "$log"
  check "[$tag] the status line shows the last installed line" same "$(on_dialog text 1006)" "$line"
  check "[$tag] button 2 reads Done" same "$(on_dialog text 2)" "$done_text"
  # The position is posted to the bar, the texts sent: the bar may come a moment later.
  check "[$tag] the progress bar stands at 100" on_dialog wait-pos 1003 100 --timeout 5
  check "[$tag] log and progress bar shown, Wizard and picture hidden" \
    visibility_is "3=0 1007=0 1005=1 1003=1"
  shot "installer-installed-$tag"
}
