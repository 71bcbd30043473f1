#!/usr/bin/env bash
# Checks that the DLL holds the vector paths the Linux build takes, in
# both bitnesses: AVX2 (ymm registers, several ciphers and SHA-384/512),
# AVX-512 (zmm registers, Serpent) and the byte-sliced paths' look-ups
# (VBMI byte permutes, word permutes for MISTY1, GFNI for Twofish's MDS
# matrix, each on zmm registers). Reads the code only, so it also checks
# the 32-bit DLL where 32-bit programs cannot run:
#     tests/wine/check-paths.sh OBJDUMP DLL
set -euo pipefail
objdump=${1:?usage: check-paths.sh OBJDUMP DLL} dll=${2:?usage: check-paths.sh OBJDUMP DLL}
code=$("$objdump" -d --no-show-raw-insn "$dll")
# Fails unless an instruction matches $1; $2 names what is looked for.
require() {
    local count
    count=$(grep -cE "$1" <<<"$code" || true)
    if [[ $count -eq 0 ]]; then
        echo "FAIL: $dll has no $2"
        exit 1
    fi
    echo "$dll: $count $2"
}
for register in ymm zmm; do require "%$register" "instructions on $register registers"; done
for instruction in vpermb vpermt2b vpermt2w vgf2p8affineqb; do
    require "\b$instruction\b.*%zmm" "$instruction instructions on zmm registers"
done
