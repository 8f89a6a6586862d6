#!/bin/bash
# setup.exe is a self-contained 64-bit Windows GUI program: it imports system
# DLLs only, never a runtime DLL of the compiler.
set -eu
exe="$BUILD_DIR/setup.exe"
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
fail=0
grep -q "^Magic.*020b.*PE32+" <<<"$dump" || { echo "not a 64-bit PE32+ image"; fail=1; }
grep -q "^Subsystem.*00000002" <<<"$dump" || { echo "not a GUI program"; fail=1; }
allowed='^(kernel32|user32|gdi32|comctl32|advapi32|shell32|winspool\.drv|setupapi|cfgmgr32|newdev|msvcrt|ole32|comdlg32)(\.dll)?$'
while read -r dll; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  if ! grep -Eq "$allowed" <<<"$lower"; then echo "imports $dll, which is not a system DLL"; fail=1; fi
  case "$lower" in libstdc++*|libgcc*|libwinpthread*) echo "imports the runtime DLL $dll"; fail=1 ;; esac
done < <(sed -n 's/.*DLL Name: //p' <<<"$dump")
size=$(stat -c %s "$exe")
echo "setup.exe: $size bytes; imports: $(sed -n 's/.*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
exit $fail
