#!/usr/bin/env bash
# The plug-in exports exactly one symbol, `main`: read the export table of a Linux .so
# (nm -D) or a Windows .dll (objdump -p) and fail on anything else. For the DLL, also
# check that it imports only libraries every Windows system has.
set -euo pipefail
lib=$1
case "$lib" in
  *.so)
    exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort -u)
    ;;
  *.dll)
    dump=$(objdump -p "$lib")
    exports=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF;next} t{t=0}' | sort -u)
    imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/{print tolower($3)}' | sort -u)
    for dll in $imports; do
      case "$dll" in
        kernel32.dll|user32.dll|gdi32.dll|msvcrt.dll|advapi32.dll|api-ms-win-*) ;;
        *) echo "unexpected import: $dll"; exit 1 ;;
      esac
    done
    ;;
  *) echo "unknown library kind: $lib"; exit 2 ;;
esac
if [ "$exports" != "main" ]; then
  echo "exports of $lib are not exactly 'main':"
  printf '%s\n' "$exports"
  exit 1
fi
echo "$lib exports only main"
