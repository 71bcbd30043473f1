#!/usr/bin/env python3
"""Checks, without running it, that the server's DLL carries the type library
of its own bitness: the compiled type library is a 32-bit one for the 32-bit
build and a 64-bit one for the 64-bit build (whichever Wine stdole2.tlb it
imported), it names stdole2.tlb as its import, and the DLL holds it byte
for byte as its resource.

    tests/wine/check-typelib.py 64|32 TLB DLL
"""
import struct
import sys

SYSKIND = {"32": 1, "64": 3}  # SYS_WIN32, SYS_WIN64


def main() -> int:
    if len(sys.argv) != 4 or sys.argv[1] not in SYSKIND:
        print("usage: check-typelib.py 64|32 TLB DLL", file=sys.stderr)
        return 2
    bits, tlb_path, dll_path = sys.argv[1:]
    with open(tlb_path, "rb") as f:
        tlb = f.read()
    with open(dll_path, "rb") as f:
        dll = f.read()
    failures = []
    if tlb[:4] != b"MSFT" or len(tlb) < 24:
        failures.append(f"{tlb_path} is not a type library")
    else:
        syskind = struct.unpack_from("<i", tlb, 20)[0] & 0xF
        if syskind != SYSKIND[bits]:
            failures.append(f"{tlb_path} is for system kind {syskind}, not {SYSKIND[bits]} ({bits}-bit)")
    if b"stdole2.tlb" not in tlb:
        failures.append(f"{tlb_path} does not import stdole2.tlb")
    if tlb not in dll:
        failures.append(f"{dll_path} does not carry {tlb_path}")
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"{dll_path} carries its {bits}-bit type library ({len(tlb)} bytes)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
