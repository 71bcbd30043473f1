#!/usr/bin/env bash
# Checks that a DLL exports exactly the four entry points of an in-process
# server, undecorated:
#     tests/wine/check-exports.sh OBJDUMP DLL
set -euo pipefail
objdump=${1:?usage: check-exports.sh OBJDUMP DLL} dll=${2:?usage: check-exports.sh OBJDUMP DLL}

# The names of the export table, one per line, sorted.
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
expected=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
if [[ $exports != "$expected" ]]; then
    echo "FAIL: $dll exports:"
    printf '%s\n' "$exports"
    echo "expected:"
    printf '%s\n' "$expected"
    exit 1
fi
echo "$dll: the four entry points, undecorated"
