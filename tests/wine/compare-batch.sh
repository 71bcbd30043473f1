#!/usr/bin/env bash
# Checks that the Windows DLL and the Linux build give byte-identical
# answers: the same JSON Lines requests (tests/wine/batch_requests.py) go to
# the Linux `kestrune batch` and to kestrune_batch_driver.exe under Wine,
# whose outputs, and the files that each side writes, must be equal byte for
# byte. A second round decrypts the first round's ciphertexts; a third
# converts text in every supported ANSI code page.
#
#     compare-batch.sh 64|32 LINUX_KESTRUNE DRIVER_EXE WORK_DIR
#
# Run by ctest in the win64 and win32 builds (scripts/test-windows), with
# the Wine prefix of scripts/wine-env. WORK_DIR is emptied first and kept
# afterwards for inspection.
set -euo pipefail

if (($# != 4)); then
    echo "usage: compare-batch.sh 64|32 LINUX_KESTRUNE DRIVER_EXE WORK_DIR" >&2
    exit 2
fi
bits=$1 tool=$2 driver=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
generate=("python3" "$here/batch_requests.py")
start=$SECONDS

if [[ -z $tool || ! -x $tool ]]; then
    echo "compare-batch: FAILED: no Linux kestrune tool at '${tool}'." >&2
    echo "  Build it with: cmake --preset default && cmake --build --preset default --target kestrune" >&2
    echo "  (scripts/test-windows does), or configure with -DKESTRUNE_HOST_TOOL=PATH." >&2
    exit 1
fi
if [[ ! -f $driver ]]; then
    echo "compare-batch: FAILED: no driver at '$driver'" >&2
    exit 1
fi

rm -rf "$work"
mkdir -p "$work/in" "$work/linux" "$work/windows"
"${generate[@]}" inputs "$work/in"
"${generate[@]}" first "$work/in" "$work/linux" >"$work/first-linux.jsonl"
"${generate[@]}" first "$work/in" "$work/windows" --windows >"$work/first-windows.jsonl"

# run SIDE REQUESTS ANSWERS [--codepage N]: one batch run on one side; its
# exit status must be 0.
run() {
    local side=$1 requests=$2 answers=$3 status=0
    shift 3
    if [[ $side == linux ]]; then
        "$tool" batch "$@" <"$requests" >"$answers" 2>"$answers.err" || status=$?
    else
        "$root/scripts/wine-run" "$bits" "$driver" "$@" <"$requests" >"$answers" 2>"$answers.err" || status=$?
    fi
    if ((status != 0)); then
        echo "compare-batch: FAILED: the $side run on $(basename "$requests") exited with status $status" >&2
        cat "$answers.err" >&2
        exit 1
    fi
}

# The requests that get an answer: every line that is not blank.
answered() { grep -v '^[[:space:]]*$' "$1" || true; }

failed=0
# compare NAME LINUX_REQUESTS WINDOWS_REQUESTS: answers of both sides, byte for byte.
compare() {
    local name=$1 lreq=$2 wreq=$3
    local lout=$work/$name-linux.out wout=$work/$name-windows.out
    local expected
    expected=$(answered "$lreq" | wc -l)
    for out in "$lout" "$wout"; do
        local got
        got=$(wc -l <"$out")
        if ((got != expected)); then
            echo "compare-batch: FAILED: $(basename "$out") has $got answers for $expected requests" >&2
            failed=1
        fi
    done
    if cmp -s "$lout" "$wout"; then
        echo "$name: $expected answers identical"
        return
    fi
    failed=1
    echo "compare-batch: FAILED: $name: the answers differ (first 10 differences; request, Linux, Windows):" >&2
    paste -d '\n' <(answered "$wreq") "$lout" "$wout" |
        awk 'NR % 3 == 1 { request = $0 } NR % 3 == 2 { linux = $0 }
             NR % 3 == 0 && $0 != linux && shown < 10 {
                 printf "  request %d: %s\n    linux:   %s\n    windows: %s\n", NR / 3, request, linux, $0; ++shown }' >&2
}

run linux "$work/first-linux.jsonl" "$work/first-linux.out"
run windows "$work/first-windows.jsonl" "$work/first-windows.out"
compare first "$work/first-linux.jsonl" "$work/first-windows.jsonl"

# Decrypting what the first round encrypted: the same requests on both sides.
"${generate[@]}" second "$work/first-linux.out" >"$work/second.jsonl"
run linux "$work/second.jsonl" "$work/second-linux.out"
run windows "$work/second.jsonl" "$work/second-windows.out"
compare second "$work/second.jsonl" "$work/second.jsonl"

# The files each side wrote: same names, same bytes.
if diff -r -q "$work/linux" "$work/windows" >"$work/files.diff"; then
    echo "files: $(find "$work/linux" -type f | wc -l) written on each side, identical"
else
    failed=1
    echo "compare-batch: FAILED: the files written differ (first 10):" >&2
    head -n 10 "$work/files.diff" >&2
fi

# And what was encrypted decrypts to what it was.
roundtrips=0
for dec in "$work/linux"/*--*.dec; do
    source=${dec##*--}
    source=$work/in/${source%.dec}
    if ! cmp -s "$dec" "$source"; then
        echo "compare-batch: FAILED: $(basename "$dec") is not $(basename "$source")" >&2
        failed=1
    fi
    roundtrips=$((roundtrips + 1))
done
echo "round trips: $roundtrips files decrypted to their sources"

# Text in every ANSI code page: the Linux tool with --codepage, the DLL on a
# thread whose locale has that code page.
for page in 874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258; do
    "${generate[@]}" texts "$page" >"$work/cp$page.jsonl"
    run linux "$work/cp$page.jsonl" "$work/cp$page-linux.out" --codepage "$page"
    run windows "$work/cp$page.jsonl" "$work/cp$page-windows.out" --codepage "$page"
    compare "cp$page" "$work/cp$page.jsonl" "$work/cp$page.jsonl"
done

echo "compare-batch ($bits-bit): $((SECONDS - start)) s"
if ((failed)); then
    echo "compare-batch: FAILED (requests, answers and files are in $work)" >&2
    exit 1
fi
echo "compare-batch: the Linux tool and the $bits-bit DLL agree"
