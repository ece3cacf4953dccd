#!/usr/bin/env python3
"""Writes the seed streams of vprinter_fuzz: the command forms the SDK sends.

Each seed is one shape byte (bit 0: 300 dpi; the rest: piece size, 0 whole)
followed by the stream. Run from this folder: python3 make_seeds.py
"""
import os
import struct

NET = b"\r\n\x00"   # the SDK's line end on the network
CRLF = b"\r\n"


def lines(*cmds, end=CRLF):
    return b"".join((c.encode("latin-1") if isinstance(c, str) else c) + end for c in cmds)


def bmp1(w, h):
    stride = (w + 31) // 32 * 4
    rows = b"".join(bytes([0x0F] * stride) for _ in range(h))
    head = b"BM" + struct.pack("<IHHI", 62 + len(rows), 0, 0, 62)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(rows), 2835, 2835, 2, 0)
    return head + info + b"\x00\x00\x00\x00\xff\xff\xff\x00" + rows


def bmp24(w, h):
    stride = (w * 3 + 3) // 4 * 4
    rows = b"".join(bytes([(x * 40) & 255 for x in range(stride)]) for _ in range(h))
    head = b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, -h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return head + info + rows


def pcx1(w, h):
    bpl = (w + 15) // 16 * 2
    head = bytearray(128)
    head[0:4] = b"\x0a\x05\x01\x01"
    head[4:12] = struct.pack("<HHHH", 0, 0, w - 1, h - 1)
    head[65] = 1
    head[66:68] = struct.pack("<H", bpl)
    data = b"".join(b"\xc2\x00" + bytes([0xAA]) * (bpl - 2) for _ in range(h))
    return bytes(head) + data


def pcx8(w, h):
    head = bytearray(128)
    head[0:4] = b"\x0a\x05\x01\x08"
    head[4:12] = struct.pack("<HHHH", 0, 0, w - 1, h - 1)
    head[65] = 1
    head[66:68] = struct.pack("<H", w)
    data = b"".join(bytes([0xC0 | w, y]) for y in range(h))
    pal = b"\x0c" + bytes(range(256)) * 3
    return bytes(head) + data + pal


def download(name, blob, memory=None):
    pre = f"DOWNLOAD {memory},\"{name}\",{len(blob)}," if memory else f"DOWNLOAD \"{name}\",{len(blob)},"
    return pre.encode() + blob + CRLF


SEEDS = {
    "label": (0, lines("SIZE 60 mm,40 mm", "SPEED 4", "DENSITY 8", "GAP 3 mm,0 mm", "CLS",
                       "TEXT 10,10,\"3\",0,1,1,\"PALOMA\"",
                       "TEXT 300,40,\"5\",90,2,1,\"Rot\"",
                       "TEXT 20,200,\"0\",0,12,12,\"Scalable\"",
                       "TEXT 20,260,\"ARIAL.TTF\",180,10,10,@1",
                       "BARCODE 20,60,\"128\",60,2,0,2,4,\"PALOMA-1\"",
                       "BARCODE 20,160,\"39\",40,1,90,2,6,12,\"ABC\"",
                       "PRINT 1,2", end=NET)),
    "symbols": (1, lines("SIZE 50 mm,50 mm", "CLS",
                         "QRCODE 10,10,M,4,A,0,\"https://paloma.invalid/q\"",
                         "QRCODE 200,10,H,3,M,90,M2,S3,\"A123\"",
                         "DMATRIX 10,250,100,100,\"DM data\"",
                         "DMATRIX 150,250,200,200,x6,16,16,\"12345\"",
                         "PDF417 10,400,300,100,0,\"pdf text\"",
                         "PDF417 10,400,300,100,0,P2,E3,H9,R10,C4,T0,L1,pdf bare",
                         "AZTEC 300,300,0,6,0,0,0,1,0,\"aztec\"",
                         "AZTEC 300,300,90,\"a\"",
                         "MAXICODE 10,500,2,300,840,\"123456789\",\"maxi\"",
                         "MAXICODE 10,500,3,300,826,\"AB12CD\",\"maxi\"",
                         "MAXICODE 10,500,4,\"maxi four\"",
                         "RSS 10,10,\"RSS14\",0,2,1,\"1234567890123\"",
                         "RSS 10,10,\"RSSEXP\",0,2,1,4,\"(01)12345678901231\"",
                         "RSS 10,10,\"UCC128CCA\",0,2,1,60,\"(01)12345678901231|(10)ABC\"",
                         "PRINT 1,1")),
    "barcodes": (0, lines("CLS", *[f"BARCODE 10,{20 + 70 * i},\"{t}\",50,{i % 4},{90 * (i % 4)},2,5,\"{c}\""
                                   for i, (t, c) in enumerate([
                                       ("128M", "ab12"), ("EAN128", "(01)12345678901231"), ("25", "1234"),
                                       ("25C", "1234"), ("39C", "AB"), ("93", "XY"), ("EAN13", "590123412345"),
                                       ("EAN8", "1234567"), ("UPCA", "01234567890"), ("UPCE", "0123456"),
                                       ("CODA", "A123B"), ("MSI", "1234"), ("PLESSEY", "12AB"), ("ITF14", "1234567890123"),
                                       ("EAN14", "1234567890123"), ("11", "12-3"), ("TELEPEN", "Tp"), ("POST", "12345")])],
                          "PRINT 1,1")),
    "bitmap": (5, lines("SIZE 30 mm,20 mm", "CLS") +
               b"BITMAP 10,10,2,3,0," + b"\x00\xff\x0f\xf0\xaa\x55" + CRLF +
               b"BITMAP 12,11,1,2,1," + b"\x00\x7f" + CRLF +
               b"BITMAP -3,-2,2,2,2," + b"\x00\x00\x00\x00" + CRLF + lines("PRINT 1,1")),
    "files": (0, download("LOGO.BMP", bmp1(20, 10)) + download("C.BMP", bmp24(6, 4), "F") +
              download("P1.PCX", pcx1(16, 5)) + download("P8.PCX", pcx8(8, 3), "E") +
              download("RUN.BAS", b"CLS\r\nPRINT 1\r\n") +
              lines("CLS", "PUTBMP 10,10,\"LOGO.BMP\"", "PUTBMP 40,10,\"c.bmp\"",
                    "PUTPCX 10,40,\"P1.PCX\"", "PUTPCX 40,40,\"P8.PCX\"", "~!F") +
              b"\x1b!R\r\x00" + lines("PUTBMP 0,0,\"LOGO.BMP\"", "PRINT 1,1")),
    "queries": (3, b"\x1b!?\r\n" + b"\x00" * 20 + b"\x1b!S" + b"\x1b!?" +
                b"~!T\n OUT \"\x02\"\n" + b"~!I\n\rOUT \"\x02\"\n\r" + b"~!A\n" + b"~!@\n" +
                lines("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")", "OUT CHR$(02)",
                      "OUT GETSENSOR(\"PEEL\")", "OUT @LABEL", "OUT _SERIAL$", "OUT \"ENDLINE\"",
                      "RFIDDETECT", "RFID READ,,,,,,\"\"", "OUT \"ENDLINE\"",
                      "RFID WRITE,1,2,3,4,5,\"E200\"", "WLAN DHCP", "WLAN PORT 9100",
                      "WLAN SSID \"net\"", "WLAN IP \"1.2.3.4\", \"255.0.0.0\", \"1.2.3.1\"",
                      "WLAN WEP 1,\"key\"", "WLAN WPA \"key\"", "SET TEAR OFF", "SET STRIPER OFF",
                      "FORMFEED", "BLINE 3 mm,1 mm", end=NET)),
    "shapes": (1, lines("SIZE 2,1", "CLS", "BAR 10,10,100,4", "BOX 5,5,200,100,3",
                        "REVERSE 8,8,50,50", "ERASE 20,20,10,10", "FANCY 30,30,\"x\"", "PRINT 2,1")),
}

# Shape bit 7: the rest is a file, drawn with PUTBMP and PUTPCX.
for name, blob in {"bmp1": bmp1(20, 10), "bmp24": bmp24(6, 4), "pcx1": pcx1(16, 5),
                   "pcx8": pcx8(8, 3)}.items():
    SEEDS["file-" + name] = (0x80, blob)

os.makedirs("seeds", exist_ok=True)
for name, (shape, stream) in SEEDS.items():
    with open(os.path.join("seeds", name), "wb") as f:
        f.write(bytes([shape]) + stream)
