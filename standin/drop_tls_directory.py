#!/usr/bin/env python3
"""Clears the TLS data directory of a linked 32-bit PE image, in place.

The mingw-w64 C runtime always links a TLS directory into a DLL. flash.ocx uses no static TLS;
the runtime's dynamic TLS set-up is run by its own DLL start-up code, not by the directory's
callbacks. The host's in-memory loader ignores TLS directories, so without one the module
behaves the same whether the system loader or the host's loader maps it.
"""
import struct
import sys

TLS_DIRECTORY = 9


def main(path):
    with open(path, "r+b") as f:
        image = bytearray(f.read())
        if image[:2] != b"MZ":
            sys.exit(f"{path}: no MZ header")
        nt = struct.unpack_from("<I", image, 0x3C)[0]
        if image[nt:nt + 4] != b"PE\0\0":
            sys.exit(f"{path}: no PE signature")
        optional = nt + 24
        if struct.unpack_from("<H", image, optional)[0] != 0x10B:
            sys.exit(f"{path}: not a PE32 image")
        count = struct.unpack_from("<I", image, optional + 92)[0]
        if count <= TLS_DIRECTORY:
            return
        entry = optional + 96 + 8 * TLS_DIRECTORY
        struct.pack_into("<II", image, entry, 0, 0)
        struct.pack_into("<I", image, optional + 64, 0)  # checksum: not kept for DLLs
        f.seek(0)
        f.write(image)


if __name__ == "__main__":
    main(sys.argv[1])
