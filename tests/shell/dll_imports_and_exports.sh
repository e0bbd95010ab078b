#!/bin/sh
# Vexlor.dll must load with system DLLs alone and export exactly its entry points, by plain name.
#   dll_imports_and_exports.sh OBJDUMP DLL
set -eu
objdump=$1 dll=$2
headers=$("$objdump" -p "$dll")
status=0

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
for name in $imports; do
  case $name in
    advapi32.dll | comctl32.dll | gdi32.dll | kernel32.dll | msvcrt.dll | ole32.dll | \
      oleaut32.dll | shell32.dll | user32.dll) ;;
    *) echo "FAIL: imports from $name, which is not a system DLL" >&2; status=1 ;;
  esac
done
[ -n "$imports" ] || { echo "FAIL: no import table found" >&2; status=1; }

# Export names follow the ordinal table: lines like "	[   0] DllCanUnloadNow".
exports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z_@0-9]*\)$/\1/p' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllMain DllRegisterServer DllUnregisterServer UpdateFileExtension "
if [ "$exports" != "$expected" ]; then
  echo "FAIL: exports are '$exports', expected '$expected'" >&2
  status=1
fi
[ $status -eq 0 ] && echo "imports: $(echo $imports); exports: $exports"
exit $status
