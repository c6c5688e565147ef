"""Draws Tarvik's pictures: the program icon (16 to 48 px, one image for each
size the system asks for from 100 % to 300 % scaling), the logo
(93x22) and the exit symbol on the Quit button (59x55). Plain Python, no
image library: shapes are filled pixel by pixel and written as BMP and ICO.

    python3 tools/art/make_art.py src/shell/win/res
"""
import struct
import sys
from pathlib import Path

GREY = (224, 224, 224)
NAVY = (0, 0, 128)
BLUE = (0, 0, 192)
GREEN = (0, 160, 0)
RED = (200, 0, 0)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
WOOD = (150, 90, 40)


class Canvas:
    def __init__(self, w, h, fill=None):
        self.w, self.h = w, h
        self.px = [[fill for _ in range(w)] for _ in range(h)]  # None is transparent

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = colour

    def polygon(self, points, colour):
        """Fills a polygon by the even-odd rule, sampling pixel centres."""
        for y in range(self.h):
            cy = y + 0.5
            xs = []
            for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
                if (y0 <= cy < y1) or (y1 <= cy < y0):
                    xs.append(x0 + (cy - y0) * (x1 - x0) / (y1 - y0))
            xs.sort()
            for a, b in zip(xs[::2], xs[1::2]):
                for x in range(max(0, int(a + 0.5)), min(self.w, int(b + 0.5))):
                    self.px[y][x] = colour

    def bgra_rows(self, background):
        """Rows bottom-up, as BMP stores them; transparent pixels take `background`."""
        rows = []
        for y in reversed(range(self.h)):
            row = b""
            for x in range(self.w):
                c = self.px[y][x]
                r, g, b = c if c else background
                row += bytes((b, g, r, 255 if c else 0))
            rows.append(row)
        return rows


def bmp24(canvas, background):
    stride = (canvas.w * 3 + 3) & ~3
    data = b""
    for row in canvas.bgra_rows(background):
        line = b"".join(row[i:i + 3] for i in range(0, len(row), 4))
        data += line + b"\0" * (stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)) + header + data


def ico(canvases):
    """32-bit images with alpha, each with its AND mask."""
    images = []
    for c in canvases:
        xor = b"".join(c.bgra_rows(BLACK))
        mask_stride = ((c.w + 31) // 32) * 4
        mask = b""
        for y in reversed(range(c.h)):
            bits = 0
            row = bytearray(mask_stride)
            for x in range(c.w):
                if c.px[y][x] is None:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(row)
        header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append((c, header + xor + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in images:
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(d for _, d in images)


def icon(size):
    """A reader's window with a red scan line, over a keyboard key."""
    s = size / 32
    c = Canvas(size, size)
    k = lambda v: int(round(v * s))  # noqa: E731
    c.rect(k(2), k(14), k(30), k(30), NAVY)        # the key
    c.rect(k(4), k(16), k(28), k(28), WHITE)
    for i, x in enumerate(range(6, 27, 3)):         # bars on the key: a barcode
        c.rect(k(x), k(18), max(k(x + (2 if i % 2 else 1)), k(x) + 1), k(26), BLACK)
    c.polygon([(k(8), k(2)), (k(24), k(2)), (k(26), k(12)), (k(6), k(12))], BLUE)  # the reader
    c.rect(k(3), k(21), k(29), max(k(22), k(21) + 1), RED)                          # the scan line
    return c


def logo():
    """93 x 22: a barcode, a quill, and a keyboard key."""
    c = Canvas(93, 22, GREY)
    x = 2
    for width in (1, 2, 1, 1, 3, 1, 2, 1, 1, 2, 3, 1, 1, 2, 1, 3, 1, 1, 2, 1):
        c.rect(x, 3, x + width, 19, NAVY)
        x += width + 1
    c.rect(1, 10, x + 1, 11, RED)
    # The quill: a long feather from the bars towards the key.
    c.polygon([(44, 19), (47, 16), (70, 2), (73, 3), (52, 16), (46, 20)], BLUE)
    c.polygon([(47, 16), (60, 5), (62, 7)], WHITE)
    c.rect(76, 5, 91, 19, NAVY)
    c.rect(78, 7, 89, 17, WHITE)
    c.rect(80, 9, 87, 15, GREEN)
    return c


def exit_symbol():
    """59 x 55: an open door and an arrow leaving through it."""
    c = Canvas(59, 55, GREY)
    c.rect(20, 4, 50, 51, BLACK)     # the frame
    c.rect(22, 6, 48, 51, WHITE)     # the opening
    c.polygon([(22, 6), (36, 11), (36, 55), (22, 51)], WOOD)  # the door, swung open
    c.rect(32, 30, 34, 34, BLACK)    # its handle
    c.polygon([(2, 27), (14, 17), (14, 23), (30, 23), (30, 31), (14, 31), (14, 37)], RED)
    return c


# The small icon (tray, title bar) is 16 px at 100 %, 20 at 125 %, 24 at
# 150 %, 32 at 200 %, 40 at 250 % and 48 at 300 %; the large one starts at 32.
ICON_SIZES = (16, 20, 24, 32, 40, 48)


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    (out / "tarvik.ico").write_bytes(ico([icon(size) for size in ICON_SIZES]))
    (out / "logo.bmp").write_bytes(bmp24(logo(), GREY))
    (out / "exit.bmp").write_bytes(bmp24(exit_symbol(), GREY))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/shell/win/res")
