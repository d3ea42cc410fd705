#!/usr/bin/env python3
"""Writes the RCDATA resource NAME of a 32- or 64-bit PE file to OUT.
   pe_rcdata.py PE NAME OUT"""
import struct
import sys

pe, name, out = sys.argv[1:4]
data = open(pe, "rb").read()
nt = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size = struct.unpack_from("<H12xH", data, nt + 6)
optional = nt + 24
pe32plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
resources_rva = struct.unpack_from("<I", data, optional + (112 if pe32plus else 96) + 2 * 8)[0]


def offset(rva):
    for i in range(sections):
        vsize, va, raw_size, raw = struct.unpack_from("<4I", data, optional + optional_size + 40 * i + 8)
        if va <= rva < va + max(vsize, raw_size):
            return rva - va + raw
    sys.exit(f"{pe}: RVA {rva:#x} is in no section")


root = offset(resources_rva)


def find(directory, key):
    named, numbered = struct.unpack_from("<HH", data, root + directory + 12)
    for i in range(named + numbered):
        entry, target = struct.unpack_from("<II", data, root + directory + 16 + 8 * i)
        if entry & 0x80000000:
            text = root + (entry & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, text)[0]
            entry = data[text + 2:text + 2 + 2 * length].decode("utf-16-le")
        if key is None or entry == key:
            return target & 0x7FFFFFFF
    sys.exit(f"{pe}: no resource {key}")


RT_RCDATA = 10
leaf = find(find(find(0, RT_RCDATA), name), None)  # its first language
rva, size = struct.unpack_from("<II", data, root + leaf)
with open(out, "wb") as f:
    f.write(data[offset(rva):offset(rva) + size])
