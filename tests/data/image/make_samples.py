#!/usr/bin/env python3
"""Writes the small sample pictures the image tests read, each built from
the published layout of its format. The pattern is the same everywhere:

  true colour  red = 40*x, green = 60*y, blue = 20*(x+y)   (mod 256)
  alpha        = 255 - 30*x                              (mod 256)
  palette      index = (x + 2*y) % colours, entry i = (10*i, 255 - 10*i, 7*i)
  grey         = 30*x + 50*y                              (mod 256)

Run it from this folder to regenerate them."""
import struct
import zlib

W, H = 5, 3            # odd width on purpose
WIDE = 19              # wide enough for packed PICT rows


def rgb(x, y):
    return (40 * x) % 256, (60 * y) % 256, (20 * (x + y)) % 256


def alpha(x):
    return (255 - 30 * x) % 256


def pal(i):
    return (10 * i) % 256, (255 - 10 * i) % 256, (7 * i) % 256


def index(x, y, colours):
    return (x + 2 * y) % colours


def grey(x, y):
    return (30 * x + 50 * y) % 256


def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)


# ---- Targa ----------------------------------------------------------------

def tga_header(kind, w, h, depth, descriptor, cmap=None):
    if cmap:
        first, length, bits = cmap
        return struct.pack('<BBBHHBHHHHBB', 0, 1, kind, first, length, bits, 0, 0, w, h, depth,
                           descriptor)
    return struct.pack('<BBBHHBHHHHBB', 0, 0, kind, 0, 0, 0, 0, 0, w, h, depth, descriptor)


def rle(pixels):
    """Targa packets: runs of equal pixels, raw packets otherwise."""
    out = b''
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + pixels[i]
            i += run
            continue
        raw = 1
        while i + raw < len(pixels) and raw < 128 and not (
                i + raw + 1 < len(pixels) and pixels[i + raw] == pixels[i + raw + 1]):
            raw += 1
        out += bytes([raw - 1]) + b''.join(pixels[i:i + raw])
        i += raw
    return out


def rows(top_down):
    return range(H) if top_down else range(H - 1, -1, -1)


def tga_true(depth, top_down, compressed):
    pixels = []
    for y in rows(top_down):
        for x in range(W):
            r, g, b = rgb(x, y)
            if depth == 24:
                pixels.append(bytes([b, g, r]))
            elif depth == 32:
                pixels.append(bytes([b, g, r, alpha(x)]))
            else:
                v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)
                pixels.append(struct.pack('<H', v))
    # A run: the last row repeats its first pixel across.
    kind = 10 if compressed else 2
    body = rle(pixels) if compressed else b''.join(pixels)
    return tga_header(kind, W, H, depth, 0x20 if top_down else 0) + body


write('rgb24_bottom.tga', tga_true(24, False, False))
write('rgba32_rle_top.tga', tga_true(32, True, True))
write('rgb16_top.tga', tga_true(16, True, False))

grey_pixels = [bytes([grey(x, y)]) for y in rows(True) for x in range(W)]
write('grey8_rle.tga', tga_header(11, W, H, 8, 0x20) + rle(grey_pixels))

cmap = b''.join(bytes([b, g, r]) for r, g, b in (pal(i) for i in range(16)))
mapped = bytes(index(x, y, 16) for y in rows(False) for x in range(W))
write('mapped8.tga', tga_header(1, W, H, 8, 0, (0, 16, 24)) + cmap + mapped)

# A run of 300 identical pixels written as packets 128, 128, 44.
same = [bytes([1, 2, 3])] * 300
write('run300.tga', tga_header(10, 300, 1, 24, 0x20) + rle(same))

# ---- PCX ------------------------------------------------------------------

def pcx_rle(line):
    out = b''
    i = 0
    while i < len(line):
        run = 1
        while i + run < len(line) and run < 63 and line[i + run] == line[i]:
            run += 1
        if run > 1 or line[i] >= 0xC0:
            out += bytes([0xC0 | run, line[i]])
        else:
            out += bytes([line[i]])
        i += run
    return out


def pcx_header(bits, planes, bytes_per_line, ega=b''):
    h = struct.pack('<BBBBHHHHHH', 10, 5, 1, bits, 0, 0, W - 1, H - 1, 72, 72)
    h += ega.ljust(48, b'\0')
    h += bytes([0, planes]) + struct.pack('<HH', bytes_per_line, 1)
    return h.ljust(128, b'\0')


bpl = W + (W % 2)   # even bytes per line
data = b''
for y in range(H):
    data += pcx_rle(bytes(index(x, y, 256) for x in range(W)).ljust(bpl, b'\0'))
vga = b''.join(bytes(pal(i)) for i in range(256))
write('palette8.pcx', pcx_header(8, 1, bpl) + data + b'\x0c' + vga)

data = b''
for y in range(H):
    line = b''
    for c in range(3):
        line += bytes(rgb(x, y)[c] for x in range(W)).ljust(bpl, b'\0')
    data += pcx_rle(line)
write('rgb24.pcx', pcx_header(8, 3, bpl) + data)

ega = b''.join(bytes(pal(i)) for i in range(16))
data = b''
for y in range(H):
    line = b''
    for p in range(4):
        bits = 0
        for x in range(W):
            bits |= ((index(x, y, 16) >> p) & 1) << (7 - x)
        line += bytes([bits, 0])
    data += pcx_rle(line)
write('planar16.pcx', pcx_header(1, 4, 2, ega) + data)

data = b''
for y in range(H):
    packed = bytearray(4)
    for x in range(W):
        v = index(x, y, 16)
        packed[x // 2] |= v << (0 if x % 2 else 4)
    data += pcx_rle(bytes(packed))
write('packed4.pcx', pcx_header(4, 1, 4, ega) + data)

data = b''
for y in range(H):
    bits = 0
    for x in range(W):
        bits |= (index(x, y, 2)) << (7 - x)
    data += pcx_rle(bytes([bits, 0]))
write('mono1.pcx', pcx_header(1, 1, 2) + data)

# ---- PICT -----------------------------------------------------------------

def packbits(row):
    out = b''
    i = 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run > 1:
            out += struct.pack('b', 1 - run) + row[i:i + 1]
            i += run
            continue
        raw = 1
        while i + raw < len(row) and raw < 128 and not (
                i + raw + 1 < len(row) and row[i + raw] == row[i + raw + 1]):
            raw += 1
        out += bytes([raw - 1]) + row[i:i + raw]
        i += raw
    return out


def pict(w, h, ops):
    body = struct.pack('>H4h', 0, 0, 0, h, w)  # size, frame
    body += struct.pack('>HH', 0x0011, 0x02FF)
    body += struct.pack('>H', 0x0C00) + b'\0' * 24
    body += struct.pack('>H', 0x001E)
    body += struct.pack('>HH4h', 0x0001, 10, 0, 0, h, w)
    body += ops
    if len(body) % 2:
        body += b'\0'
    body += struct.pack('>H', 0x00FF)
    return b'\0' * 512 + body


def pixmap(row_bytes, w, h, pack_type, pixel_size, components, component_size):
    return (struct.pack('>H4h', 0x8000 | row_bytes, 0, 0, h, w) +
            struct.pack('>HHIIIHHHHIII', 0, pack_type, 0, 0x00480000, 0x00480000,
                        0 if pixel_size <= 8 else 16, pixel_size, components, component_size, 0, 0,
                        0))


def rows_with_count(rows_, row_bytes):
    out = b''
    for r in rows_:
        packed = packbits(r)
        out += (struct.pack('>H', len(packed)) if row_bytes > 250 else bytes([len(packed)])) + packed
    return out


rect = struct.pack('>4h', 0, 0, H, WIDE)
colours = 16
table = struct.pack('>IHH', 0, 0, colours - 1)
for i in range(colours):
    r, g, b = pal(i)
    table += struct.pack('>HHHH', i, r * 257, g * 257, b * 257)
indexed_rows = [bytes(index(x, y, colours) for x in range(WIDE)).ljust(20, b'\0') for y in range(H)]
op = struct.pack('>H', 0x0098) + pixmap(20, WIDE, H, 0, 8, 1, 8) + table + rect + rect + \
    struct.pack('>H', 0) + rows_with_count(indexed_rows, 20)
write('indexed8.pict', pict(WIDE, H, op))

planar_rows = []
for y in range(H):
    row = b''
    for c in range(3):
        row += bytes(rgb(x, y)[c] for x in range(WIDE))
    planar_rows.append(row)
op = struct.pack('>HI', 0x009A, 0xFF) + pixmap(WIDE * 4, WIDE, H, 4, 32, 3, 8) + rect + rect + \
    struct.pack('>H', 0) + rows_with_count(planar_rows, WIDE * 4)
write('direct32.pict', pict(WIDE, H, op))

small = struct.pack('>4h', 0, 0, H, W)
raw_rows = b''
for y in range(H):
    for x in range(W):
        r, g, b = rgb(x, y)
        raw_rows += struct.pack('>H', ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
op = struct.pack('>HI', 0x009A, 0xFF) + pixmap(W * 2, W, H, 1, 16, 3, 5) + small + small + \
    struct.pack('>H', 0) + raw_rows
write('direct16.pict', pict(W, H, op))

# ---- IFF ILBM -------------------------------------------------------------

def chunk(kind, data):
    out = kind + struct.pack('>I', len(data)) + data
    return out + (b'\0' if len(data) % 2 else b'')


def ilbm(planes, compression, pixel, cmap_entries):
    row_bytes = ((W + 15) // 16) * 2
    body = b''
    for y in range(H):
        for p in range(planes):
            plane = bytearray(row_bytes)
            for x in range(W):
                if (pixel(x, y) >> p) & 1:
                    plane[x // 8] |= 0x80 >> (x % 8)
            body += packbits(bytes(plane)) if compression else bytes(plane)
    bmhd = struct.pack('>HHhhBBBBHBBhh', W, H, 0, 0, planes, 0, compression, 0, 0, 10, 11, W, H)
    form = b'ILBM' + chunk(b'BMHD', bmhd)
    if cmap_entries:
        form += chunk(b'CMAP', b''.join(bytes(pal(i)) for i in range(cmap_entries)))
    form += chunk(b'BODY', body)
    return b'FORM' + struct.pack('>I', len(form)) + form


write('indexed4_byterun1.iff', ilbm(4, 1, lambda x, y: index(x, y, 16), 16))
write('rgb24.iff', ilbm(24, 0, lambda x, y: rgb(x, y)[0] | (rgb(x, y)[1] << 8) | (rgb(x, y)[2] << 16), 0))

# ---- PNG ------------------------------------------------------------------

def png(colour_type, pixel_bytes):
    raw = b''
    for y in range(H):
        raw += b'\0' + b''.join(pixel_bytes(x, y) for x in range(W))

    def png_chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' +
            png_chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, colour_type, 0, 0, 0)) +
            png_chunk(b'IDAT', zlib.compress(raw)) + png_chunk(b'IEND', b''))


write('rgb.png', png(2, lambda x, y: bytes(rgb(x, y))))
write('rgba.png', png(6, lambda x, y: bytes(rgb(x, y)) + bytes([alpha(x)])))
