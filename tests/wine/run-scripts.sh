#!/usr/bin/env bash
# Registers brindel_Kestrune.dll under Wine and runs script suites against it
# with Wine's cscript, as a web server's scripts would meet it:
#
#     tests/wine/run-scripts.sh 64|32 DLL CONTEXT_DLL SCRIPT...
#
# in the prefix that KESTRUNE_WINEPREFIX_64 or _32 names (scripts/wine-env).
# DLL and CONTEXT_DLL (the test scripting context, KestruneTest.ScriptingContext)
# and the scripts are host paths. Steps:
#   1. regsvr32 DLL; every registry entry is read back with `reg query`;
#   2. each script runs with cscript and must exit 0 with its last line
#      "NAME: N checks, 0 failures" (cscript says nothing and exits 0 when a
#      script dies, so a missing line is a failure);
#   3. regsvr32 /u DLL; every key must be gone;
#   4. the same with a copy of DLL in a folder whose name has a space: the
#      class must then name the short (8.3) path, and the scripts run again.
# Prints every failed check (with the script's output) and exits 1 if any.
set -euo pipefail

usage="usage: run-scripts.sh 64|32 DLL CONTEXT_DLL SCRIPT..."
(($# >= 4)) || { echo "$usage" >&2; exit 2; }
bits=$1 dll=$2 context_dll=$3
shift 3
scripts=("$@")
[[ $bits == 64 || $bits == 32 ]] || { echo "$usage" >&2; exit 2; }
wine_run=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run

clsid='{37F87091-2C4D-449A-BA80-279FF9C13719}'
libid='{F02B7CFC-07AD-48C3-8777-A998B3EE8E0A}'
iid='{6AB2AB04-5A38-4B38-8F0A-9C4B60BC030E}'
progid='brindel_Kestrune.Kestrune'
context_clsid='{6B0C5E3A-94D1-4F27-B8A6-2E7D1C5F9A40}'
context_progid='KestruneTest.ScriptingContext'
root='HKEY_CLASSES_ROOT'
# Everything registration writes, by the key that holds it.
keys=("CLSID\\$clsid" "$progid" "TypeLib\\$libid" "Interface\\$iid")
context_keys=("CLSID\\$context_clsid" "$context_progid")

checks=0 failures=0
fail() {
    failures=$((failures + 1))
    echo "FAIL: $*"
}

# A Windows program in the prefix; its lines lose their CR.
wine() {
    local status=0
    "$wine_run" "$bits" "$@" </dev/null 2>&1 | tr -d '\r' || status=$?
    return $status
}

# Wine maps drive Z: to the host's root directory.
windows_path() {
    local path
    path=$(realpath "$1")
    printf 'Z:%s' "${path//\//\\}"
}

registered=()
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-scripts.XXXXXX")
cleanup() {
    # Leave the prefix as we found it, whatever failed.
    local path
    for path in "${registered[@]}"; do wine regsvr32 /s /u "$path" >/dev/null 2>&1 || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT

register() {
    checks=$((checks + 1))
    local output status=0
    output=$(wine regsvr32 /s "$1") || status=$?
    if ((status == 0)); then
        registered+=("$1")
        return 0
    fi
    fail "regsvr32 $1: exit status $status $output"
    return 1
}

unregister() {
    checks=$((checks + 1))
    local output status=0 path kept=()
    output=$(wine regsvr32 /s /u "$1") || status=$?
    ((status == 0)) || fail "regsvr32 /u $1: exit status $status $output"
    for path in "${registered[@]}"; do [[ $path == "$1" ]] || kept+=("$path"); done
    registered=("${kept[@]}")
}

# Values under a key and its subkeys, one line each: KEY<TAB>NAME<TAB>DATA.
dump=""
read_keys() {
    local key output
    dump=""
    for key in "$@"; do
        output=$(wine reg query "$root\\$key" /s) || { fail "reg query $key: $output"; continue; }
        dump+=$(awk '/^HKEY_/ { key = $0; next }
                     /^    / { line = substr($0, 5); name = line; sub(/    .*/, "", name)
                              data = substr(line, length(name) + 5); sub(/^[^ ]*    /, "", data)
                              print key "\t" name "\t" data }' <<<"$output")$'\n'
    done
}

expect() {
    local key=$root\\$1 name=$2 data=$3
    checks=$((checks + 1))
    grep -qxF "$key"$'\t'"$name"$'\t'"$data" <<<"$dump" && return 0
    fail "$key: $name should be [$data]; found:"
    grep -F "$key"$'\t' <<<"$dump" | sed 's/^/    /' || echo "    (no values)"
}

expect_gone() {
    local key output
    for key in "$@"; do
        checks=$((checks + 1))
        if output=$(wine reg query "$root\\$key"); then
            fail "$root\\$key is still there after unregistration:"
            sed 's/^/    /' <<<"$output"
        elif [[ $output != *"Unable to find"* ]]; then
            fail "reg query $key: $output"
        fi
    done
}

# server: what InprocServer32 must name; typelib: what the type library's entry names.
expect_registration() {
    local server=$1 typelib=$2 class=CLSID\\$clsid
    read_keys "${keys[@]}"
    expect "$class" '(Default)' 'Kestrune Object'
    expect "$class\\InprocServer32" '(Default)' "$server"
    expect "$class\\InprocServer32" 'ThreadingModel' 'Apartment'
    expect "$class\\ProgID" '(Default)' "$progid"
    expect "$class\\Version" '(Default)' '1.0'
    expect "$class\\TypeLib" '(Default)' "$libid"
    expect "$progid" '(Default)' 'Kestrune Object'
    expect "$progid\\Clsid" '(Default)' "$clsid"
    expect "TypeLib\\$libid\\1.0" '(Default)' 'brindel_Kestrune Library'
    expect "TypeLib\\$libid\\1.0\\409\\win$bits" '(Default)' "$typelib"
    expect "Interface\\$iid" '(Default)' 'IKestrune'
    expect "Interface\\$iid\\TypeLib" '(Default)' "$libid"
}

run_scripts() {
    local label=$1 script name output status last
    for script in "${scripts[@]}"; do
        name=$(basename "$script")
        checks=$((checks + 1))
        status=0
        output=$(wine cscript //nologo "$(windows_path "$script")") || status=$?
        last=$(grep -v '^[[:space:]]*$' <<<"$output" | tail -n 1 || true)
        if ((status != 0)) || ! [[ $last =~ ^"$name: "[1-9][0-9]*" checks, 0 failures"$ ]]; then
            fail "$name ($label): exit status $status, last line [$last]; its output:"
            sed 's/^/    /' <<<"$output"
        else
            echo "$last ($label)"
        fi
    done
}

start=$SECONDS
dll_path=$(windows_path "$dll")
context_path=$(windows_path "$context_dll")

# Nothing of ours may be registered yet, or "gone" below would prove nothing.
expect_gone "${keys[@]}" "${context_keys[@]}"
((failures == 0)) || { echo "run-scripts.sh: stopped: the prefix must answer and hold none of these keys" >&2; exit 1; }

register "$context_path" || exit 1

if register "$dll_path"; then
    expect_registration "$dll_path" "$dll_path"
    run_scripts "$dll_path"
    unregister "$dll_path"
fi
expect_gone "${keys[@]}"

# Hosts that split command lines at spaces need the short form of such a path.
mkdir "$tmp/Kestrune Test"
cp "$dll" "$tmp/Kestrune Test/"
copy_path=$(windows_path "$tmp/Kestrune Test/$(basename "$dll")")
if register "$copy_path"; then
    checks=$((checks + 1))
    short_path=$(wine winepath -s "$copy_path") || short_path=""
    if [[ -z $short_path || $short_path == *' '* ]]; then
        fail "no short form of $copy_path: [$short_path]"
    else
        expect_registration "$short_path" "$copy_path"
        run_scripts "$short_path"
    fi
    unregister "$copy_path"
fi
expect_gone "${keys[@]}"

unregister "$context_path"
expect_gone "${context_keys[@]}"

echo "run-scripts.sh ($bits-bit): $checks checks, $failures failures, $((SECONDS - start)) s"
((failures == 0))
