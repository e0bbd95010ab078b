#!/bin/sh
# pelorin.sys is a kernel image: native subsystem, and nothing imported but from the kernel and
# the HAL (a user-mode DLL in its import table would stop it from loading).
set -eu
sys=$1
headers=$(i686-w64-mingw32-objdump -p "$sys")
echo "$headers" | grep -q 'Subsystem[[:space:]]*00000001' || { echo "not a native-subsystem image" >&2; exit 1; }
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
echo "imports: $dlls"
echo "$dlls" | grep -qx 'ntoskrnl.exe' || { echo "ntoskrnl.exe is not imported" >&2; exit 1; }
for dll in $dlls; do
  case $dll in
    ntoskrnl.exe|hal.dll) ;;
    *) echo "imports $dll" >&2; exit 1 ;;
  esac
done
echo "pelorin.sys imports only the kernel and the HAL"
