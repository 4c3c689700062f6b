#!/usr/bin/env bash
# The plugin DLL must export load_vyn_pft alone, undecorated, and import from system libraries
# only (no C++ runtime, no threading library, no compiler runtime). Reads the PE tables with the
# cross toolchain's objdump.
# Usage: check_dll.sh DLL OBJDUMP
set -euo pipefail
dll=$1
objdump=$2
tables=$($objdump -p "$dll")
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && /^[[:space:]]*\[/ { print $NF; next }
               on { on = 0 }' <<<"$tables")
if [ "$exports" != "load_vyn_pft" ]; then
  echo "unexpected exports:"; echo "$exports"; exit 1
fi
imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$tables" | sort -u)
allowed='^(kernel32|user32|advapi32|ntdll|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
unexpected=$(grep -Ev "$allowed" <<<"$imports" || true)
if [ -n "$unexpected" ]; then
  echo "imports from libraries that are not the system's:"; echo "$unexpected"; exit 1
fi
echo "only load_vyn_pft is exported; imports: $(tr '\n' ' ' <<<"$imports")"
