#!/usr/bin/env python3
"""Packs the device helper that the 32-bit binaries carry.

    pack_helper.py <program> <packed>

<packed> is the program's size (4 bytes, little-endian), its SHA-256 (32
bytes), then the program in LZNT1, which ntdll's RtlDecompressBuffer unpacks
on every Windows from 7 on. The binaries refuse an image that does not unpack
to exactly that size and digest. Wine's own LZNT1 compressor stores data
uncompressed, so the build has its own: greedy longest matches within each
4 KiB chunk.
"""
import hashlib
import os
import struct
import sys

CHUNK = 4096
MIN_MATCH = 3
TRIES = 64  # candidates looked at per position: enough for executables


def match_split(pos):
    """(offset bits, length bits) of a match token at `pos` in its chunk: the
    offset field grows as the chunk gets longer, so it reaches its start."""
    offset_bits = 4
    while (1 << offset_bits) < pos:
        offset_bits += 1
    return offset_bits, 16 - offset_bits


def compress_chunk(data):
    out = bytearray()
    seen = {}  # three bytes -> the positions they start at, latest last
    pos = 0

    def remember(at):
        if at + MIN_MATCH <= len(data):
            seen.setdefault(bytes(data[at:at + MIN_MATCH]), []).append(at)

    while pos < len(data):
        flags_at = len(out)
        out.append(0)
        for bit in range(8):
            if pos >= len(data):
                break
            _, length_bits = match_split(pos)
            longest = min((1 << length_bits) - 1 + MIN_MATCH, len(data) - pos)
            best, best_from = 0, 0
            for start in reversed(seen.get(bytes(data[pos:pos + MIN_MATCH]), [])[-TRIES:]):
                if data[start + best] != data[pos + best]:
                    continue
                n = 0
                # May run into the bytes being made: the decoder copies forwards.
                while n < longest and data[start + n] == data[pos + n]:
                    n += 1
                if n > best:
                    best, best_from = n, start
                    if n == longest:
                        break
            if best >= MIN_MATCH:
                out += struct.pack("<H", ((pos - best_from - 1) << length_bits) | (best - MIN_MATCH))
                out[flags_at] |= 1 << bit
                for at in range(pos, pos + best):
                    remember(at)
                pos += best
            else:
                out.append(data[pos])
                remember(pos)
                pos += 1
    return bytes(out)


def lznt1(data):
    out = bytearray()
    for start in range(0, len(data), CHUNK):
        chunk = data[start:start + CHUNK]
        body = compress_chunk(chunk)
        if len(body) < len(chunk):
            out += struct.pack("<H", 0xB000 | (len(body) - 1)) + body
        else:  # stored as it is: only the last chunk may be shorter than 4 KiB
            out += struct.pack("<H", 0x3000 | (len(chunk) - 1)) + chunk
    return bytes(out)


def main():
    program, packed = sys.argv[1], sys.argv[2]
    with open(program, "rb") as f:
        data = f.read()
    image = struct.pack("<I", len(data)) + hashlib.sha256(data).digest() + lznt1(data)
    with open(packed + ".part", "wb") as f:
        f.write(image)
    os.replace(packed + ".part", packed)


if __name__ == "__main__":
    main()
