#!/usr/bin/env bash
# Checks that the server's DLL needs no MinGW runtime DLL beside it: the C
# and C++ runtimes and the thread library (the file operations start a
# thread) are linked in, as neither Windows nor Wine ships them:
#     tests/wine/check-runtime.sh OBJDUMP DLL
set -euo pipefail
objdump=${1:?usage: check-runtime.sh OBJDUMP DLL} dll=${2:?usage: check-runtime.sh OBJDUMP DLL}
names=$("$objdump" -p "$dll" | awk '/^[[:space:]]*DLL Name:/ { print $3 }' | sort -u)
[[ -n $names ]] || { echo "FAIL: no import table read from $dll"; exit 1; }
runtime=$(grep -Ei '^(lib.*|.*pthread.*)\.dll$' <<<"$names" || true)
if [[ -n $runtime ]]; then
    echo "FAIL: $dll imports from MinGW runtime DLLs:"
    echo "$runtime"
    exit 1
fi
echo "$dll imports from: $(paste -sd' ' <<<"$names")"
