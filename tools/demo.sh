#!/bin/bash
# Set-up, build, and the tool's main job on a virtual Windows: a fresh Wine
# prefix, the distributable folder copied to C:\Tapstart, a virtual USB
# printer "Vellumor VL-K20" attached on port 1, and the installer run on it.
# Prints what it did (the dialog's texts, the print queues, drivers and
# monitors now present, the trace) and where its screenshots are.
set -eu
cd "$(dirname "$0")/.."
tools/setup-host.sh
cmake --preset default >/dev/null
cmake --build --preset default
source tools/wineprefix.sh

demo="$PWD/build/demo"
prefix="$demo/prefix"
shots="$demo/screenshots"
trap 'prefix_down "$prefix"' EXIT
rm -rf "$demo"
mkdir -p "$shots"
log="$demo/wine.log"

built() { find build -maxdepth 3 -name "$1" -print -quit; }
usbprinter=$(built usbprinter.exe)
uidriver=$(built uidriver.exe)
spoolerlist=$(built spoolerlist.exe)
win() { WINEDEBUG=-all,warn+seh tools/wine.sh "$@" 2>>"$log"; }
ui() { win "$uidriver" "$@" --exe setup.exe; }
# A picture of the Wine desktop once the dialog has painted what it shows.
shot() {
  ui paint >/dev/null 2>&1 || true
  import -window root "$shots/$1.png" && echo "   picture: $shots/$1.png"
}
# The start of a string of the program's table up to its first argument, to
# wait for it on the dialog.
text_start() { win "$uidriver" string 'C:\Tapstart\setup.exe' "$1" | tr -d '"\r' | sed 's/%.*//' | cut -c1-20; }

echo "== Making a fresh Wine prefix in $prefix"
prefix_up "$prefix" || { echo "demo: no Wine prefix could be made"; exit 1; }
cp -r build/dist "$prefix/drive_c/Tapstart"

echo "== Attaching a virtual USB printer \"Vellumor VL-K20\" on port 1"
win "$usbprinter" add --description "Vellumor VL-K20" --port 1 --serial DEMO0001

echo "== Running C:\\Tapstart\\setup.exe (the installer dialog)"
# The found line stays up while the printer is installed: the program is held
# still there for its first picture (its dialog thread still paints), then
# let go. The watcher starts first, so that it sees that moment.
found_text=$(text_start 117)
ui hold 1006 "$found_text" 1005=1 --timeout 60 > "$demo/hold.txt" &
watcher=$!
sleep 1
win 'C:\Tapstart\setup.exe' &
program=$!
if wait "$watcher"; then
  shot 1-installer-found
  ui release >/dev/null
fi
done_text=$(win "$uidriver" string 'C:\Tapstart\setup.exe' 118 | tr -d '"\r')
if ui wait-text 2 "$done_text" --timeout 180 >/dev/null; then
  shot 2-installer-installed
  echo "   status line: $(ui text 1006)"
  echo "   log:         $(ui text 1005)"
  echo "   button 2:    $(ui text 2)"
  ui click 2 >/dev/null
else
  echo "   the install did not finish; the dialog shows:"
  ui state
  shot installer-unfinished
  ui close >/dev/null || true
fi
set +e
wait "$program"
echo "   exit code: $?"
set -e

echo "== Print queues, drivers and monitors now present"
win "$spoolerlist" | sed 's/^/   /'
if [ -f "$prefix/drive_c/windows/system32/vlm6mon.dll" ]; then
  echo "   C:\\windows\\system32\\vlm6mon.dll is in place"
fi

echo "== Trace (debug output of setup.exe)"
# Wine's channel escapes backslashes; the lines are shown as the program wrote them.
sed -n 's/^[0-9a-f]*:warn:seh:OutputDebugStringA "\(.*\)"$/\1/p' "$log" | grep -v '^\\n$' |
  sed 's/\\\\/\\/g; s/^/   /' || true
echo "== Files: screenshots in $shots, Wine log in $log"
