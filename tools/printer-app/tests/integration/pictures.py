"""Test pictures for the printer application: gray PNG and PWG raster
written here, PNG read back (the virtual printer's labels), and a QR code's
modules from qrencode."""
import struct
import subprocess
import zlib


def qr_modules(text):
    """The QR code of `text` as rows of booleans (True = black), from qrencode."""
    out = subprocess.run(["qrencode", "-t", "ASCII", "-m", "0", text], check=True,
                         capture_output=True, text=True, timeout=20).stdout
    rows = []
    for line in out.splitlines():
        if not line.strip():
            continue
        rows.append([line[i:i + 2] == "##" for i in range(0, len(line), 2)])
    width = max(len(r) for r in rows)
    return [r + [False] * (width - len(r)) for r in rows]


class Canvas:
    """An 8-bit gray picture, 255 white, 0 black."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.rows = [bytearray([255]) * width for _ in range(height)]

    def fill(self, x, y, w, h, value=0):
        for yy in range(max(y, 0), min(y + h, self.height)):
            row = self.rows[yy]
            for xx in range(max(x, 0), min(x + w, self.width)):
                row[xx] = value

    def draw_modules(self, modules, x, y, scale):
        for my, line in enumerate(modules):
            for mx, black in enumerate(line):
                if black:
                    self.fill(x + mx * scale, y + my * scale, scale, scale)

    def checkerboard(self, x, y, w, h):
        """One-dot squares: any shift or stretch shows."""
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                if (xx + yy) % 2 == 0:
                    self.rows[yy][xx] = 0

    def black_bits(self):
        return [[v < 128 for v in row] for row in self.rows]


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png_bytes(canvas):
    raw = b"".join(b"\0" + bytes(row) for row in canvas.rows)
    return (b"\x89PNG\r\n\x1a\n" +
            _chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 0, 0, 0, 0)) +
            _chunk(b"IDAT", zlib.compress(raw, 6)) + _chunk(b"IEND", b""))


def read_png_black(path):
    """A gray or palette PNG (bit depth 1 or 8, not interlaced) as rows of
    booleans, True where the pixel is darker than half."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, palette = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    assert interlace == 0 and ctype in (0, 3) and depth in (1, 8), (ctype, depth)
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8
    prev = bytearray(stride)
    rows, i = [], 0
    for _ in range(height):
        ftype, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - 1] if x >= 1 else 0
            b, c = prev[x], prev[x - 1] if x >= 1 else 0
            if ftype == 1:
                line[x] = (line[x] + a) & 255
            elif ftype == 2:
                line[x] = (line[x] + b) & 255
            elif ftype == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        values = ([(line[x // 8] >> (7 - x % 8)) & 1 for x in range(width)] if depth == 1
                  else list(line[:width]))
        if ctype == 3:
            values = [palette[v][0] for v in values]
        elif depth == 1:
            values = [v * 255 for v in values]
        rows.append([v < 128 for v in values])
    return rows


def pwg_header(width, height, dpi, bits, color_space, page_size_pt, bytes_per_line=None):
    h = bytearray(1796)
    h[0:9] = b"PwgRaster"
    struct.pack_into(">II", h, 276, dpi, dpi)              # HWResolution
    struct.pack_into(">I", h, 320 + 20, 1)                  # NumCopies
    struct.pack_into(">II", h, 352, *page_size_pt)          # PageSize
    struct.pack_into(">II", h, 372, width, height)          # cupsWidth, cupsHeight
    bpl = bytes_per_line if bytes_per_line is not None else (width * bits + 7) // 8
    struct.pack_into(">III", h, 384, bits, bits, bpl)       # BitsPerColor/Pixel, BytesPerLine
    struct.pack_into(">II", h, 396, 0, color_space)         # ColorOrder, ColorSpace
    struct.pack_into(">I", h, 420, 1)                       # NumColors
    struct.pack_into(">I", h, 452, 1)                       # TotalPageCount
    return bytes(h)


def _encode_line(line):
    # Each byte as a run of one: valid, if not small.
    out = bytearray([0])
    for b in line:
        out += bytes([0, b])
    return bytes(out)


def pwg_bytes(canvas, dpi, one_bit=True, header=None):
    """The canvas as a one-page PWG raster: black_1 or sgray_8."""
    w, h = canvas.width, canvas.height
    size_pt = (round(w * 72 / dpi), round(h * 72 / dpi))
    if one_bit:
        hdr = header or pwg_header(w, h, dpi, 1, 3, size_pt)
        lines = []
        for row in canvas.rows:
            packed = bytearray((w + 7) // 8)
            for x, v in enumerate(row):
                if v < 128:
                    packed[x // 8] |= 0x80 >> (x % 8)
            lines.append(_encode_line(packed))
    else:
        hdr = header or pwg_header(w, h, dpi, 8, 18, size_pt)
        lines = [_encode_line(row) for row in canvas.rows]
    return b"RaS2" + hdr + b"".join(lines)


def urf_bytes(canvas, dpi):
    """The canvas as a one-page Apple raster: 8-bit sGray."""
    page = struct.pack(">BBBB8xIII8x", 8, 0, 1, 4, canvas.width, canvas.height, dpi)
    return (b"UNIRAST\0" + struct.pack(">I", 1) + page +
            b"".join(_encode_line(row) for row in canvas.rows))
