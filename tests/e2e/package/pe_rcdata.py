#!/usr/bin/env python3
"""pe_rcdata.py PE NAME OUT: writes the RCDATA resource NAME of a PE file (32- or 64-bit) to OUT."""
import struct
import sys

pe, name, out = sys.argv[1:4]
data = open(pe, "rb").read()
nt = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size = struct.unpack_from("<H12xH", data, nt + 6)
optional = nt + 24
directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
table = [struct.unpack_from("<4I", data, optional + optional_size + 40 * i + 8) for i in range(sections)]


def at(rva):  # file offset of an address
    return next(rva - va + raw for size, va, raw_size, raw in table if va <= rva < va + max(size, raw_size))


root = at(struct.unpack_from("<I", data, directories + 2 * 8)[0])


def find(directory, key):  # key None: the first entry
    named, numbered = struct.unpack_from("<HH", data, root + directory + 12)
    for entry, target in struct.iter_unpack("<II", data[root + directory + 16:][:8 * (named + numbered)]):
        if entry & 0x80000000:
            text = root + (entry & 0x7FFFFFFF)
            entry = data[text + 2:text + 2 + 2 * struct.unpack_from("<H", data, text)[0]].decode("utf-16-le")
        if key in (None, entry):
            return target & 0x7FFFFFFF
    sys.exit(f"{pe}: no resource {key}")


rva, size = struct.unpack_from("<II", data, root + find(find(find(0, 10), name), None))  # 10: RT_RCDATA
open(out, "wb").write(data[at(rva):at(rva) + size])
