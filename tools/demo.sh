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
shot() { import -window root "$shots/$1.png" && echo "   picture: $shots/$1.png"; }

echo "== Making a fresh Wine prefix in $prefix"
prefix_up "$prefix" || { echo "demo: no Wine prefix could be made"; exit 1; }
cp -r build/dist "$prefix/drive_c/Tapstart"

echo "== Attaching a virtual USB printer \"Vellumor VL-K20\" on port 1"
win "$usbprinter" add --description "Vellumor VL-K20" --port 1 --serial DEMO0001

echo "== Running C:\\Tapstart\\setup.exe (the installer dialog)"
win 'C:\Tapstart\setup.exe' &
program=$!
ui wait-visible 1005 --timeout 60 >/dev/null && shot installer-installing || true
done_text=$(win "$uidriver" string 'C:\Tapstart\setup.exe' 118 | tr -d '"')
if ui wait-text 2 "$done_text" --timeout 180 >/dev/null; then
  shot installer-installed
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
