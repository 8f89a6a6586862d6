#!/bin/bash
# Set-up, build, and the tool's main job on a virtual Windows: a fresh Wine
# prefix, the distributable folder copied to C:\Tapstart, and setup.exe run
# silently. Prints what it did and where its files are.
set -eu
cd "$(dirname "$0")/.."
tools/setup-host.sh
cmake --preset default >/dev/null
cmake --build --preset default
source tools/wineprefix.sh

demo="$PWD/build/demo"
prefix="$demo/prefix"
trap 'prefix_down "$prefix"' EXIT
mkdir -p "$demo"
echo "== Making a fresh Wine prefix in $prefix"
prefix_up "$prefix"
rm -rf "$prefix/drive_c/Tapstart"
cp -r build/dist "$prefix/drive_c/Tapstart"

echo "== Running C:\\Tapstart\\setup.exe /silence"
set +e
WINEDEBUG=-all,warn+seh tools/wine.sh 'C:\Tapstart\setup.exe' /silence 2> "$demo/wine.log"
rc=$?
set -e
echo "exit code: $rc"
echo "== Trace"
sed -n 's/^[0-9a-f]*:warn:seh:OutputDebugStringA "\(.*\)"$/\1/p' "$demo/wine.log" | grep -v '^\\n$' || true
echo "== Files: $demo (Wine log: $demo/wine.log)"
