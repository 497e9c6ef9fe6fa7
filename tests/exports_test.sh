#!/usr/bin/env bash
# The shared library exports the COM_ZOR4_ functions and the COMPort class, and nothing else of ours.
set -euo pipefail
lib="$1"
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt)
echo "$symbols" | grep -q '^COM_ZOR4_Version$' || { echo "COM_ZOR4_Version not exported"; exit 1; }
echo "$symbols" | grep -q '^COMPort::Open(unsigned char)$' || { echo "COMPort::Open not exported"; exit 1; }
unexpected=$(echo "$symbols" | grep -v -e '^COM_ZOR4_' -e '^COMPort::' -e '^_init$' -e '^_fini$' \
             -e '^_edata$' -e '^_end$' -e '^__bss_start$' -e '^$' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected exports:"; echo "$unexpected"; exit 1
fi
readelf -d "$lib" | grep -q 'SONAME.*libCOM-ZOR4.so.1' || { echo "no SONAME"; exit 1; }
echo "exports: $(echo "$symbols" | grep -c .) symbols, all COM_ZOR4_ or COMPort"
