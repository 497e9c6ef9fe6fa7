#!/usr/bin/env bash
# The DLL and the programs need nothing beside them but Windows itself (and the programs the DLL),
# and the DLL exports the COM_ZOR4_ functions and the COMPort class, nothing else of ours.
# Usage: imports_test.sh OBJDUMP COM-ZOR4.dll PROGRAM.exe...
set -euo pipefail
objdump=$1
dll=$2
shift 2

failed=0
for file in "$dll" "$@"; do
  imports=$("$objdump" -p "$file" | awk '/DLL Name:/ {print $3}')
  # The mingw runtime DLLs (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) are named lib*.dll.
  foreign=$(echo "$imports" | grep -i -v -E '^(kernel32|msvcrt|ws2_32|user32|advapi32|ucrtbase|com-zor4)\.dll$|^api-ms-win-' || true)
  if [ -n "$foreign" ]; then
    echo "$(basename "$file") needs DLLs that Windows does not have: $foreign"
    failed=1
  fi
done

exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF {print $NF}')
echo "$exports" | grep -q '^COM_ZOR4_Version$' || { echo "COM_ZOR4_Version not exported"; failed=1; }
echo "$exports" | grep -q '^_ZN7COMPort4OpenEh$' || { echo "COMPort::Open(unsigned char) not exported"; failed=1; }
unexpected=$(echo "$exports" | grep -v -e '^COM_ZOR4_' -e '^_ZN7COMPort' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected exports:"; echo "$unexpected"
  failed=1
fi
[ $failed -eq 0 ] && echo "imports and exports: $(echo "$exports" | grep -c .) exports, all COM_ZOR4_ or COMPort; $(($# + 1)) files need only Windows' DLLs"
exit $failed
