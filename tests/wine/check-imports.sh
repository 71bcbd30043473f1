#!/usr/bin/env bash
# Checks that programs which link the in-process server's entry points
# import each of them from the server's DLL, and DllGetClassObject at least:
#     tests/wine/check-imports.sh OBJDUMP DLL-NAME PROGRAM...
# On 32-bit Windows a stdcall name can bind to a system library that
# exports the same name (OLEAUT32's DllGetClassObject is the proxy/stub
# class object), and the program then never reaches our DLL at all.
set -euo pipefail
usage="usage: check-imports.sh OBJDUMP DLL-NAME PROGRAM..."
objdump=${1:?$usage} dll=${2:?$usage}
shift 2
(($#)) || { echo "$usage" >&2; exit 2; }

status=0
for program in "$@"; do
    # "DLL name" per imported entry point, from the import table.
    imports=$("$objdump" -p "$program" | awk '
        /^[[:space:]]*DLL Name:/ { dll = $3 }
        /^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+Dll(GetClassObject|CanUnloadNow|RegisterServer|UnregisterServer)$/ { print dll, $3 }')
    wrong=$(awk -v want="$dll" 'tolower($1) != tolower(want)' <<<"$imports")
    if [[ -n $wrong ]]; then
        echo "FAIL: $program imports entry points from another library:"
        echo "$wrong"
        status=1
    elif ! grep -qi "^$dll DllGetClassObject$" <<<"$imports"; then
        echo "FAIL: $program does not import DllGetClassObject from $dll"
        status=1
    else
        echo "$program: $(awk '{print $2}' <<<"$imports" | sort | paste -sd' ') from $dll"
    fi
done
exit $status
