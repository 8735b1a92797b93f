"""Reads a screenshot PNG of `zentrope view` and prints what its layout
shows, one line each. Usage: screenshot.py FILE

size W H            the picture's size
colours N           how many distinct colours it has
bands A N B M C F   the tool strip's grey band (first row A, N rows), the
                    status line's (first row B, M rows), and the colour C of
                    the menu bar's third row with the share F of it there
view X0 Y0 X1 Y1 BX0 BY0 BX1 BY1 K
                    the white view pane, the box of its black line pixels
                    and the number of green control-point mark pixels
panes N             how many views lie side by side across it
digest D            a digest of the view's pixels (below its label)
"""
import hashlib
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height, colour = 8, b"", 0, 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), "8-bit RGB or RGBA only"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def dominant(row):
    counts = {}
    for p in row:
        counts[p] = counts.get(p, 0) + 1
    colour = max(counts, key=counts.get)
    return colour, counts[colour] / len(row)


def bands(rows, height):
    strip = (212, 208, 200)  # the tool strip's and the status line's grey
    flags = [dominant(r)[0] == strip and dominant(r)[1] > 0.5 for r in rows]
    found, y = [], 0
    while y < height:
        if flags[y]:
            start = y
            while y < height and flags[y]:
                y += 1
            found.append((start, y - start))
        else:
            y += 1
    top = found[0] if found else (-1, 0)
    bottom = found[-1] if found else (-1, 0)
    menu = dominant(rows[2])
    return "bands %d %d %d %d %d,%d,%d %.2f" % (top + bottom + menu[0] + (menu[1],))


def view(rows, width, height):
    # The pane: the longest run of rows where the paper and what views draw
    # on it (lines, grid, paths, camera, lights, marks) cover over a third of
    # the width (white input fields above it are a few rows high), and the
    # white extent of its middle row.
    white = (255, 255, 255)
    drawn = {white, (0, 0, 0), (192, 192, 192), (0, 0, 255), (255, 0, 0), (255, 160, 0),
             (0, 255, 0)}
    wide = [sum(1 for p in rows[y] if p in drawn) > width // 3 for y in range(height)]
    y0, y1, y = 0, -1, 0
    while y < height:
        start = y
        while y < height and wide[y]:
            y += 1
        if y - start > y1 - y0 + 1:
            y0, y1 = start, y - 1
        y += 1
    if y1 < y0:
        return "view none"
    middle = rows[(y0 + y1) // 2]
    whites = [x for x, p in enumerate(middle) if p in drawn]
    x0, x1 = whites[0], whites[-1]
    # Views side by side: runs of paper at least 50 pixels wide, across the
    # middle row (lines crossing a view split no run that wide).
    panes, run = 0, 0
    for p in middle + [None]:
        if p in drawn:
            run += 1
        else:
            panes += run >= 50
            run = 0
    box = [x1, y1, x0, y0]
    marks = 0
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            p = rows[y][x]
            if p == (0, 0, 0):
                box = [min(box[0], x), min(box[1], y), max(box[2], x), max(box[3], y)]
            elif p == (0, 255, 0):
                marks += 1
    # A digest of the view's pixels below its label, to compare views.
    digest = hashlib.sha1()
    for y in range(y0 + 20, y1 + 1):
        digest.update(bytes(c for p in rows[y][x0:x1 + 1] for c in p))
    return "view %d %d %d %d %d %d %d %d %d\npanes %d\ndigest %s" % (
        x0, y0, x1, y1, *box, marks, panes, digest.hexdigest())


def main():
    width, height, rows = read_png(sys.argv[1])
    print("size", width, height)
    print("colours", len({p for row in rows for p in row}))
    print(bands(rows, height))
    print(view(rows, width, height))


main()
