#!/bin/bash
# setup.exe is a self-contained 64-bit Windows GUI program: it imports only
# DLLs that Windows always takes from the system directory (its known DLLs),
# never one that a file beside the program could stand in for, and no runtime
# DLL of the compiler.
set -eu
exe="$BUILD_DIR/setup.exe"
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
fail=0
grep -q "^Magic.*020b.*PE32+" <<<"$dump" || { echo "not a 64-bit PE32+ image"; fail=1; }
grep -q "^Subsystem.*00000002" <<<"$dump" || { echo "not a GUI program"; fail=1; }
allowed='^(kernel32|user32|gdi32|advapi32|shell32|setupapi|ole32|oleaut32|shlwapi|msvcrt|comdlg32|imm32|rpcrt4|sechost|combase|shcore|ws2_32|psapi|normaliz|nsi|wldap32|clbcatq|coml2|difxapi|gdiplus|imagehlp|msctf)\.dll$'
while read -r dll; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  if ! grep -Eq "$allowed" <<<"$lower"; then echo "imports $dll, which Windows may look for beside the program"; fail=1; fi
  case "$lower" in libstdc++*|libgcc*|libwinpthread*) echo "imports the runtime DLL $dll"; fail=1 ;; esac
done < <(sed -n 's/.*DLL Name: //p' <<<"$dump")
size=$(stat -c %s "$exe")
echo "setup.exe: $size bytes; imports: $(sed -n 's/.*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
exit $fail
