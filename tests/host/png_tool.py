#!/usr/bin/env python3
"""A second PNG reader and writer, independent of the host's, on Python's zlib.

  png_tool.py decode FILE     prints "WIDTH HEIGHT DEPTH CHANNELS" and then
                              every sample, one line per row
  png_tool.py encode FILE     reads the same text on standard input and writes
                              a PNG (colour type from CHANNELS: 1 grey, 3 RGB,
                              4 RGBA; rows filtered in turn with types 0 to 4)
"""
import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 4: 2, 6: 4}
COLOUR_TYPE = {1: 0, 3: 2, 2: 4, 4: 6}


def chunks(data):
    pos = 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xffffffff != crc:
            raise ValueError("bad CRC in " + kind.decode())
        yield kind, body
        pos += 12 + length


def predictor(ftype, line, prev, i, bpp):
    """What filter type ftype predicts for byte i of a row, from the bytes before it and the row above."""
    a = line[i - bpp] if i >= bpp else 0
    b = prev[i]
    c = prev[i - bpp] if i >= bpp else 0
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    paeth = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
    return [0, a, b, (a + b) // 2, paeth][ftype]


def decode(path):
    data = open(path, "rb").read()
    if data[:8] != SIGNATURE:
        raise ValueError("not a PNG file")
    idat = b""
    for kind, body in chunks(data):
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    if interlace or colour not in CHANNELS or depth not in (8, 16):
        raise ValueError("only plain 8- and 16-bit PNG here")
    channels = CHANNELS[colour]
    bpp = channels * depth // 8
    stride = width * bpp
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(stride)
    for y in range(height):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            line[i] = (line[i] + predictor(ftype, line, prev, i, bpp)) & 0xff
        rows.append(line)
        prev = line
    print(width, height, depth, channels)
    for line in rows:
        if depth == 16:
            values = [line[i] << 8 | line[i + 1] for i in range(0, len(line), 2)]
        else:
            values = list(line)
        print(" ".join(map(str, values)))


def encode(path):
    lines = sys.stdin.read().split("\n")
    width, height, depth, channels = map(int, lines[0].split())
    bpp = channels * depth // 8
    raw, prev = bytearray(), bytearray(width * bpp)
    for y in range(height):
        values = list(map(int, lines[1 + y].split()))
        line = bytearray()
        for v in values:
            line += struct.pack(">H", v) if depth == 16 else bytes([v])
        ftype = y % 5
        out = bytes((line[i] - predictor(ftype, line, prev, i, bpp)) & 0xff for i in range(len(line)))
        raw += bytes([ftype]) + out
        prev = line

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff)

    header = struct.pack(">IIBBBBB", width, height, depth, COLOUR_TYPE[channels], 0, 0, 0)
    open(path, "wb").write(SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 6)) +
                           chunk(b"IEND", b""))


if __name__ == "__main__":
    {"decode": decode, "encode": encode}[sys.argv[1]](sys.argv[2])
