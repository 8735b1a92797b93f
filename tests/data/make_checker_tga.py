#!/usr/bin/env python3
"""Writes the 16x16 checker picture the map examples use: 4x4-pixel cells,
white and a dark red, as an uncompressed 24-bit top-left Targa (blue, green,
red bytes). Run once: python3 tests/data/make_checker_tga.py examples/maps/checker.tga"""
import struct
import sys

SIZE, CELL = 16, 4
WHITE, RED = (255, 255, 255), (32, 32, 192)  # blue, green, red

header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, 24, 0x20)
pixels = bytearray()
for row in range(SIZE):
    for column in range(SIZE):
        pixels += bytes(WHITE if (row // CELL + column // CELL) % 2 == 0 else RED)
with open(sys.argv[1], "wb") as f:
    f.write(header + pixels)
