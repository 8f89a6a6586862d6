#!/bin/bash
# The installer dialog end to end, driven and read by the UI driver: the
# search with no printer, a printer plugged in while it searches, a second
# start while the dialog is open, two printers in one pass, the German texts,
# and a failed install. Pictures of each state go to build/screenshots/.
set -eu
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/install_lib.sh"
e2e_begin

SHOTS="$BUILD_DIR/screenshots"
mkdir -p "$SHOTS"
PROGRAM='C:\Tapstart\setup.exe'

shot() { DISPLAY=$(cat "$E2E_PREFIX.display") import -window root "$SHOTS/$1.png"; }
on_dialog() { ui "$@" --exe setup.exe; }
# A string of the program's own table in a language, quoted as the driver prints texts.
program_string() { ui string "$PROGRAM" "$1" "$2"; }
# The text between the quotes up to its first escape, for waiting on it.
plain_start() { local t=${1#\"}; t=${t%%\\*}; t=${t%\"}; printf '%s' "${t:0:24}"; }
# A quoted table text with its %ws filled in: printer name, then port.
filled() { local t=${1/\%ws/$2}; printf '%s' "${t/\%ws/$3}"; }
joined() { local a=${1%\"} b=${2#\"}; printf '%s%s' "$a" "$b"; }
# visibility_is "ID=V ...": whether each control is shown (1) or hidden (0) now.
visibility_is() {
  local state pair
  state=$(on_dialog state)
  for pair in $1; do
    grep -q "^control ${pair%=*} [^ ]* visible=${pair#*=} " <<< "$state" ||
      { echo "  control ${pair%=*} is not visible=${pair#*=}"; return 1; }
  done
}
same() { [ "$1" = "$2" ] || { echo "  shown:    $1"; echo "  expected: $2"; return 1; }; }
attach() { e2e_wine "$USBPRINTER" add --description "$1" --port "$2" --serial "E2E$2" >/dev/null; }
detach() { e2e_wine "$USBPRINTER" remove --port "$1" >/dev/null; }

# Unsupported printers are passed over without a word; a few of them also
# make each search take long enough to watch its first moment.
for port in 11 12 13 14 15 16; do attach "Other Maker P$port" "$port"; done

# start_dialog LANG: the installer dialog in that language, in the background.
start_dialog() {
  LANG=$1 e2e_wine_bg "$E2E_APP/setup.exe"
  DIALOG_PID=$E2E_PID
}

# One language: the search with no printer, then a printer plugged in.
searching_then_installed() {
  local tag=$1 language=$2 langid=$3
  local searching no_device found installed done_text
  searching=$(program_string 119 "$langid")
  no_device=$(program_string 101 "$langid")
  found=$(program_string 117 "$langid")
  installed=$(program_string 103 "$langid")
  done_text=$(program_string 118 "$langid")

  # The watcher starts first, so that it sees the dialog's first moment.
  on_dialog hold 1006 "$(plain_start "$searching")" --timeout 30 > "$E2E_DIR/hold-$tag.txt" &
  local watcher=$!
  sleep 1
  start_dialog "$language"
  wait "$watcher" && held=0 || held=$?
  cat "$E2E_DIR/hold-$tag.txt"
  check "[$tag] the status line shows the searching text first" test "$held" -eq 0
  check "[$tag] while searching the picture is hidden and the progress bar shown" \
    visibility_is "1007=0 1003=1"
  shot "installer-searching-$tag"
  on_dialog release >/dev/null

  check "[$tag] then the no-printer text" \
    on_dialog wait-text 1006 "$(plain_start "$no_device")" --timeout 20
  check "[$tag] string 101 whole on the status line" same "$(on_dialog text 1006)" "$no_device"
  check "[$tag] Wizard button and picture shown, log and progress bar hidden" \
    visibility_is "3=1 1007=1 1005=0 1003=0"
  shot "installer-no-printer-$tag"

  if [ "$tag" = en ]; then
    run_start
    e2e_wine "$E2E_APP/setup.exe"
    check "a second start exits with 0 at once" test "$E2E_RC" -eq 0
    check "a second start shows nothing" test "$(on_dialog find | grep -c '^dialog')" -eq 1
  fi

  attach "Vellumor VL-K20" 1
  check "[$tag] the printer plugged in while searching is installed without any action" \
    on_dialog wait-text 2 "$(plain_start "$done_text")" --timeout 180
  local found_line installed_line
  found_line=$(filled "$found" "Vellumor VL-K20" "USB001")
  installed_line=$(filled "$installed" "Vellumor VL-K20" "USB001")
  check "[$tag] the log holds the found and the installed line" \
    same "$(on_dialog text 1005)" "$(joined "$found_line" "$installed_line")"
  check "[$tag] the status line shows the installed line" same "$(on_dialog text 1006)" "$installed_line"
  check "[$tag] button 2 reads Done" same "$(on_dialog text 2)" "$done_text"
  check "[$tag] the progress bar stands at 100" same "$(on_dialog pos 1003)" 100
  check "[$tag] log and progress bar shown, Wizard and picture hidden" \
    visibility_is "3=0 1007=0 1005=1 1003=1"
  shot "installer-installed-$tag"

  on_dialog click 2 >/dev/null
  check "[$tag] Done closes the dialog" on_dialog wait-gone --timeout 20
  wait "$DIALOG_PID" && rc=0 || rc=$?
  check "[$tag] the program exits with 0" test "$rc" -eq 0
  detach 1
}

searching_then_installed en en_US.UTF-8 0x0009
searching_then_installed de de_DE.UTF-8 0x0007

# Two supported printers present at the start are both installed in one pass.
attach "Vellumor VL-K20" 1
attach "Vellumor VL-K29" 3
start_dialog en_US.UTF-8
done_text=$(program_string 118 0x0009)
check "two printers: the install finishes" on_dialog wait-text 2 "$(plain_start "$done_text")" --timeout 180
log=$(on_dialog text 1005)
for printer in "Vellumor VL-K20:USB001" "Vellumor VL-K29:USB003"; do
  name=${printer%:*} port=${printer#*:}
  for id in 117 103; do
    line=$(filled "$(program_string $id 0x0009)" "$name" "$port")
    line=${line#\"}
    check "two printers: the log holds string $id for $name" grep -qF -- "${line%\"}" <<< "$log"
  done
done
shot installer-two-printers-en
on_dialog click 2 >/dev/null
on_dialog wait-gone --timeout 20 >/dev/null || true
detach 1
detach 3

# An install that fails: the package lacks its data file, so nothing can be
# registered for a printer that has no queue yet.
attach "Vellumor VL-K21" 2
rm -f "$E2E_APP/dat/vlm6drv6.dat"
run_start
start_dialog en_US.UTF-8
cancel=$(on_dialog text 2)
failed=$(program_string 104 0x0009)
check "failed install: string 104 on the status line" \
  on_dialog wait-text 1006 "$(plain_start "$failed")" --timeout 180
error=$(run_trace | sed -n 's/^Install failed, name: Vellumor VL-K21, port: USB002, error:\([0-9]*\)$/\1/p')
check "failed install: traced with its error code" test -n "$error"
check "failed install: the status shows that error code" \
  same "$(on_dialog text 1006)" "${failed/\%d/$error}"
check "failed install: button 2 keeps its caption" same "$(on_dialog text 2)" "$cancel"
check "failed install: the progress bar stands at 100" same "$(on_dialog pos 1003)" 100
shot installer-failed-en
on_dialog close >/dev/null
on_dialog wait-gone --timeout 20 >/dev/null || true
e2e_end
