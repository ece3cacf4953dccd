// The interpreter: query replies byte for byte, the image buffer, files, the log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "printer.h"
#include "test_rig.h"

extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace vprinter {
namespace {

using Bytes = std::string;

using Rig = PrinterRig;

TEST(Printer, AnswersEveryQueryAsTheSdkReadsIt) {
  PrinterOptions o;
  o.status = 0x12;
  o.name = "VP-TEST";
  o.serialNumber = "SN42";
  o.settings["APP/SEC/KEY"] = "value";
  o.settings["SENSOR/PEEL"] = "1";
  Rig rig(o);
  struct Q {
    Bytes request, reply;
  };
  const Q table[] = {
      {Bytes("\x1b!?\r\n", 5) + Bytes(195, '\0'), "\x12"},
      {Bytes("\x1b!?"), "\x12"},
      {Bytes("\x1b!S\r\n"), "\x02" "12\x03"},
      {Bytes("\x1b!S\n\rOUT \"\x02\"\n\r"), "\x02" "12\x03\x02"},
      {Bytes("~!T\n OUT \"\x02\"\n"), "VP-TEST\r\n\x02"},
      {Bytes("~!T\n\rOUT \"\x02\"\n\r"), "VP-TEST\r\n\x02"},
      {Bytes("~!I\n OUT \"\x02\"\n"), "1252\r\n\x02"},
      {Bytes("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT \"\x02\"\r\n"), "203\r\n\x02"},
      {Bytes("OUT GETSETTING$(\"app\",\"sec\",\"key\")\r\nOUT CHR$(02)\r\n"), "value\r\n\x02"},
      {Bytes("OUT GETSENSOR(\"PEEL\")\n OUT \"\x02\"\n"), "1\r\n\x02"},
      {Bytes("OUT @LABEL\r\nOUT \"\x02\"\r\n"), "0\r\n\x02"},
      {Bytes("OUT _SERIAL$\r\n"), "SN42\r\n"},
      {Bytes("OUT _SERIAL$\r\n\0OUT \"ENDLINE\"\r\n\0", 32), "SN42\r\nENDLINE\r\n"},
      {Bytes("~!F\n OUT \"\x02\"\n"), "\r\n\x02"},
  };
  for (const Q& q : table) EXPECT_EQ(rig.send(q.request), q.reply) << q.request;
}

TEST(Printer, RfidReadDataComesBeforeTheNextStringMarker) {
  Rig rig;
  EXPECT_EQ(rig.send("RFID READ,,,,,,\"\"\r\n\r\n"), "");
  EXPECT_EQ(rig.send(Bytes("\r\n\0OUT \"ENDLINE\"\r\n\0", 19)),
            rig.printer.options().rfidTag + "\r\nENDLINE\r\n");
  EXPECT_EQ(rig.send("OUT \"ENDLINE\"\r\n"), "ENDLINE\r\n");
}

TEST(Printer, SizeMakesTheBufferAtTheResolution) {
  Rig rig;
  rig.send("SIZE 100 mm,150 mm\r\n");
  EXPECT_EQ(rig.printer.canvas().width(), 800);
  EXPECT_EQ(rig.printer.canvas().height(), 1200);
  rig.send("SIZE 2,1\r\n");  // inches
  EXPECT_EQ(rig.printer.canvas().width(), 406);
  PrinterOptions o;
  o.dpi = 300;
  Rig r300(o);
  r300.send("SIZE 50 mm,25 mm\r\n");
  EXPECT_EQ(r300.printer.canvas().width(), 600);
  EXPECT_EQ(r300.printer.canvas().height(), 300);
}

TEST(Printer, BitmapRowsLandBitExact) {
  Rig rig;
  rig.send("SIZE 20 mm,10 mm\r\nCLS\r\n");
  // Two rows of two bytes: 0 bits are black.
  Bytes rows("\x0f\xff\xff\x00", 4);
  rig.send("BITMAP 10,5,2,2,0," + rows + "\r\n");
  Canvas& c = rig.printer.canvas();
  for (int x = 0; x < 16; ++x) {
    EXPECT_EQ(c.isBlack(10 + x, 5), x < 4) << x;
    EXPECT_EQ(c.isBlack(10 + x, 6), x >= 8) << x;
  }
  EXPECT_FALSE(c.isBlack(9, 5));
  EXPECT_FALSE(c.isBlack(10, 7));
  // OR keeps black; XOR inverts under black bits; overwrite whitens 1 bits.
  rig.send("BITMAP 10,5,1,1,1," + Bytes("\xff", 1) + "\r\n");
  EXPECT_TRUE(c.isBlack(10, 5));
  rig.send("BITMAP 10,5,1,1,2," + Bytes("\x7f", 1) + "\r\n");
  EXPECT_FALSE(c.isBlack(10, 5));
  EXPECT_TRUE(c.isBlack(11, 5));
  rig.send("BITMAP 10,5,1,1,0," + Bytes("\xff", 1) + "\r\n");
  EXPECT_FALSE(c.isBlack(11, 5));
  // Clipped at every edge without harm.
  rig.send("BITMAP -4,-1,2,3,0," + Bytes(6, '\0') + "\r\n");
  EXPECT_TRUE(c.isBlack(0, 0));
  EXPECT_TRUE(c.isBlack(11, 1));
  EXPECT_FALSE(c.isBlack(12, 0));
  rig.send("CLS\r\n");
  EXPECT_FALSE(c.isBlack(0, 0));
}

TEST(Printer, DownloadsAreFilesUntilARestart) {
  Rig rig;
  rig.send(Bytes("DOWNLOAD \"A.BMP\",3,xyz\r\n\0", 26) + "DOWNLOAD F,\"KEEP.PCX\",2,ab\r\n" +
           "DOWNLOAD E,\"CARD.BMP\",2,cd\r\n" + "DOWNLOAD R,\"RAM.BMP\",2,ef\r\n");
  ASSERT_EQ(rig.printer.files().size(), 4u);
  EXPECT_EQ(rig.printer.files().at("A.BMP"), "xyz");
  EXPECT_EQ(rig.send("~!F\n OUT \"\x02\"\n"),
            "A.BMP\r\nCARD.BMP\r\nKEEP.PCX\r\nRAM.BMP\r\n\r\n\x02");
  rig.send(Bytes("\x1b!R\r\0\r\n\0", 8));
  // Flash (F) and the memory card (E) keep their files; the rest is volatile.
  ASSERT_EQ(rig.printer.files().size(), 2u);
  EXPECT_EQ(rig.printer.files().count("KEEP.PCX"), 1u);
  EXPECT_EQ(rig.printer.files().at("CARD.BMP"), "cd");
}

Bytes oneBitBmp(int w, int h, bool black) {
  int stride = ((w + 31) / 32) * 4;
  Bytes f(62 + stride * h, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, 62);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  f[26] = 1;
  f[28] = 1;
  put32(54, 0x000000);    // index 0 black
  put32(58, 0xffffff);    // index 1 white
  for (int i = 62; i < static_cast<int>(f.size()); ++i) f[i] = black ? '\0' : '\xff';
  return f;
}

TEST(Printer, PutBmpDrawsADownloadedImage) {
  Rig rig;
  rig.send("SIZE 20 mm,10 mm\r\nCLS\r\n");
  Bytes bmp = oneBitBmp(8, 4, true);
  rig.send("DOWNLOAD \"LOGO.BMP\"," + std::to_string(bmp.size()) + "," + bmp + "\r\n");
  rig.send("PUTBMP 20,30,\"logo.bmp\"\r\n");
  EXPECT_TRUE(rig.printer.canvas().isBlack(20, 30));
  EXPECT_TRUE(rig.printer.canvas().isBlack(27, 33));
  EXPECT_FALSE(rig.printer.canvas().isBlack(28, 30));
  rig.send("PUTPCX 0,0,\"NONE.PCX\"\r\n");
  EXPECT_TRUE(rig.logHas("no downloaded file named"));
}

// Image headers that claim more than their file holds are refused before any
// buffer is sized from them (a 136-byte PCX asked for 5 GB).
TEST(Printer, ImageHeadersCannotClaimLargeBuffers) {
  Rig rig;
  Bytes pcx(128, '\0');
  pcx[0] = 0x0A;
  pcx[2] = 1;
  pcx[3] = 1;
  pcx[8] = pcx[10] = static_cast<char>(19999 & 0xff);
  pcx[9] = pcx[11] = static_cast<char>(19999 >> 8);
  pcx[65] = 4;
  Bytes wideLine = pcx, longLines = pcx;
  wideLine[66] = '\xfe';  // 65534 bytes a line
  wideLine[67] = '\xff';
  longLines[66] = static_cast<char>(2500 & 0xff);
  longLines[67] = static_cast<char>(2500 >> 8);
  Bytes data = Bytes("\xff\x00", 2) + Bytes("\xff\x00", 2);
  for (const Bytes& f : {wideLine + data, longLines + data}) {
    rig.send("DOWNLOAD \"P.PCX\"," + std::to_string(f.size()) + "," + f + "\r\n");
    uint64_t before = rig.printer.errors();
    rig.send("PUTPCX 0,0,\"P.PCX\"\r\n");
    EXPECT_EQ(rig.printer.errors(), before + 1);
  }
  EXPECT_TRUE(rig.logHas("PCX line of 65534 bytes"));
  EXPECT_TRUE(rig.logHas("PCX pixel data truncated"));
}

// A BMP whose height is negative is stored top down; a height with no
// positive twin (INT32_MIN) or past the largest side is refused.
TEST(Printer, BmpNegativeHeights) {
  Rig rig;
  rig.send("SIZE 20 mm,10 mm\r\nCLS\r\n");
  auto withHeight = [](std::uint32_t h) {
    Bytes bmp = oneBitBmp(8, 4, true);
    for (int i = 0; i < 4; ++i) bmp[22 + i] = static_cast<char>((h >> (8 * i)) & 0xff);
    return bmp;
  };
  for (std::uint32_t h : {0x80000000u, static_cast<std::uint32_t>(-20001)}) {
    Bytes bmp = withHeight(h);
    rig.send("DOWNLOAD \"N.BMP\"," + std::to_string(bmp.size()) + "," + bmp + "\r\n");
    std::uint64_t before = rig.printer.errors();
    rig.send("PUTBMP 0,0,\"N.BMP\"\r\n");
    EXPECT_EQ(rig.printer.errors(), before + 1) << h;
  }
  EXPECT_TRUE(rig.logHas("BMP size out of range"));
  Bytes topDown = withHeight(static_cast<std::uint32_t>(-4));
  rig.send("DOWNLOAD \"T.BMP\"," + std::to_string(topDown.size()) + "," + topDown + "\r\n");
  rig.send("PUTBMP 20,30,\"T.BMP\"\r\n");
  EXPECT_TRUE(rig.printer.canvas().isBlack(27, 33));
}

// The extent of the ink in a rectangle of the buffer (inclusive), or x1 < 0.
struct Ink {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
};
Ink inkIn(Canvas& c, int fromX, int fromY, int toX, int toY) {
  Ink k;
  for (int y = std::max(0, fromY); y < std::min(toY, c.height()); ++y) {
    for (int x = std::max(0, fromX); x < std::min(toX, c.width()); ++x) {
      if (!c.isBlack(x, y)) continue;
      k.x0 = std::min(k.x0, x);
      k.y0 = std::min(k.y0, y);
      k.x1 = std::max(k.x1, x);
      k.y1 = std::max(k.y1, y);
    }
  }
  return k;
}
Ink inkOf(Canvas& c) { return inkIn(c, 0, 0, c.width(), c.height()); }

// Printer fonts are cells of fixed dots at any resolution, scaled by the
// multipliers and turned clockwise about the top-left corner.
TEST(Printer, PrinterFontsFillTheirCellsInDots) {
  const int cells[8][2] = {{8, 12}, {12, 20}, {16, 24}, {24, 32},
                           {32, 48}, {14, 19}, {21, 27}, {14, 25}};
  for (int dpi : {203, 300}) {
    PrinterOptions o;
    o.dpi = dpi;
    Rig rig(o);
    rig.send("SIZE 60 mm,30 mm\r\n");
    for (int f = 1; f <= 8; ++f) {
      rig.send("CLS\r\nTEXT 10,10,\"" + std::to_string(f) + "\",0,2,1,\"WWWW\"\r\n");
      Ink k = inkOf(rig.printer.canvas());
      std::string what = std::to_string(dpi) + " dpi font " + std::to_string(f);
      int w = 4 * 2 * cells[f - 1][0], h = cells[f - 1][1];
      EXPECT_GE(k.x0, 10) << what;
      EXPECT_LT(k.x1, 10 + w) << what;
      EXPECT_GE(k.x1, 10 + w * 8 / 10) << what;
      EXPECT_GE(k.y0, 10) << what;
      EXPECT_LT(k.y1, 10 + h) << what;
      EXPECT_GE(k.y1, 10 + h / 2) << what;
    }
  }
  struct Turn {
    int rotation, x0, x1, y0, y1;  // where the ink of "WWWW" in font 3 may lie
  } turns[] = {{0, 200, 264, 100, 124}, {90, 176, 200, 100, 164},
               {180, 136, 200, 76, 100}, {270, 200, 224, 36, 100}};
  Rig rig;
  rig.send("SIZE 60 mm,30 mm\r\n");
  for (const Turn& t : turns) {
    rig.send("CLS\r\nTEXT 200,100,\"3\",0,1,1,\"WWWW\"\r\n" + std::string() +
             "CLS\r\nTEXT 200,100,\"3\"," + std::to_string(t.rotation) + ",1,1,\"WWWW\"\r\n");
    Ink k = inkOf(rig.printer.canvas());
    EXPECT_GE(k.x0, t.x0) << t.rotation;
    EXPECT_LE(k.x1, t.x1) << t.rotation;
    EXPECT_GE(k.y0, t.y0) << t.rotation;
    EXPECT_LE(k.y1, t.y1) << t.rotation;
    EXPECT_GT((k.x1 - k.x0) + (k.y1 - k.y0), 64) << t.rotation;
  }
}

// Symbologies of two bar widths draw the command's narrow and wide widths;
// symbologies of modules take the narrow width as the module.
TEST(Printer, BarcodesDrawTheirNarrowAndWideWidths) {
  struct Row {
    const char* type;
    const char* content;
    int narrow, wide, width;  // width of the bars in dots
  } rows[] = {
      {"39", "A", 2, 6, 94},   // *A*: 3 x (3 wide + 6 narrow) + 2 gaps
      {"39", "A", 2, 4, 76},
      {"39", "A", 3, 0, 114},  // no wide width given: twice the narrow one
      {"25", "12", 2, 6, 54},  // start 4n, pair 6n + 4w, stop w + 2n
      {"128", "A", 3, 9, 138}, // 46 modules
  };
  Rig rig;
  rig.send("SIZE 60 mm,30 mm\r\n");
  for (const Row& r : rows) {
    rig.send(std::string("CLS\r\nBARCODE 20,20,\"") + r.type + "\",40,0,0," +
             std::to_string(r.narrow) + "," + std::to_string(r.wide) + ",\"" + r.content + "\"\r\n");
    Ink k = inkOf(rig.printer.canvas());
    EXPECT_EQ(k.x0, 20) << r.type << " " << r.wide;
    EXPECT_EQ(k.x1 - k.x0 + 1, r.width) << r.type << " " << r.wide;
    EXPECT_EQ(k.y1, 59) << r.type;
  }
  // The human-readable line under the bars: none, left, centred, right.
  for (int readable = 0; readable <= 3; ++readable) {
    rig.send("CLS\r\nBARCODE 20,20,\"128\",40,"+ std::to_string(readable) +
             ",0,2,4,\"AB\"\r\n");
    Ink k = inkIn(rig.printer.canvas(), 0, 61, 480, 240);  // below the bars
    if (readable == 0) {
      EXPECT_LT(k.x1, 0);
      continue;
    }
    ASSERT_GE(k.x1, 0) << readable;
    int left = 20, right = 20 + 114;  // 57 modules of 2 dots
    int off = readable == 1   ? k.x0 - left
              : readable == 2 ? (k.x0 + k.x1) / 2 - (left + right) / 2
                              : k.x1 - right;
    EXPECT_LE(std::abs(off), 4) << readable;
  }
}

TEST(Printer, SymbolsAndImagesLandWhereTheirFieldsSay) {
  Rig rig;
  rig.send("SIZE 800 dot,400 dot\r\n");
  EXPECT_EQ(rig.printer.canvas().width(), 800);
  EXPECT_EQ(rig.printer.canvas().height(), 400);
  Canvas& c = rig.printer.canvas();
  // A reversed Aztec symbol is white on a black field with a border.
  rig.send("CLS\r\nAZTEC 100,100,0,4,0,0,0,1,0,\"A\"\r\n");
  EXPECT_FALSE(c.isBlack(98, 98));
  rig.send("CLS\r\nAZTEC 100,100,0,4,0,0,0,1,1,\"A\"\r\n");
  EXPECT_TRUE(c.isBlack(98, 98));
  // A one-bit PCX: 8 x 2 dots, a set bit white.
  Bytes pcx(128, '\0');
  pcx[0] = 0x0A;
  pcx[2] = 1;
  pcx[3] = 1;
  pcx[8] = 7;
  pcx[10] = 1;
  pcx[65] = 1;
  pcx[66] = 2;
  pcx += Bytes("\x0f\x00\xc1\xf0\x00", 5);  // 0xF0 is above 0xBF: a run of one
  rig.send("CLS\r\nDOWNLOAD \"P.PCX\",133," + pcx + "\r\nPUTPCX 30,40,\"P.PCX\"\r\n");
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(c.isBlack(30 + x, 40), x < 4) << x;
    EXPECT_EQ(c.isBlack(30 + x, 41), x >= 4) << x;
  }
  PrinterOptions o;
  o.dpi = 300;
  Rig r300(o);
  r300.send("SIZE 600 dot,300 dot\r\n");
  EXPECT_EQ(r300.printer.canvas().width(), 600);
  EXPECT_EQ(r300.printer.canvas().height(), 300);
}

// A text scaled to almost nothing left the drawing context in an error that
// made every later command draw nothing.
TEST(Printer, ADrawingErrorDoesNotBlankTheRestOfTheLabel) {
  Rig rig;
  rig.send("SIZE 40 mm,20 mm\r\nCLS\r\nTEXT 0,0,\"0\",0,1e-300,1e-300,\"x\"\r\n");
  EXPECT_TRUE(rig.logHas("drawing failed"));
  rig.send("BAR 10,10,5,5\r\n");
  EXPECT_TRUE(rig.printer.canvas().isBlack(12, 12));
}

// What the printer cannot draw is outlined on the page, not burnt into the
// label: the buffer stays white and the commands carry the outline.
TEST(Printer, WhatItCannotDrawIsAnOutlineForThePageAndALoggedError) {
  TempDir dir;
  PrinterOptions o;
  o.outDir = dir.path;
  Rig rig(o);
  std::vector<LabelRecord> labels;
  rig.printer.onLabel([&](const LabelRecord& l) { labels.push_back(l); });
  rig.send("SIZE 50 mm,30 mm\r\nCLS\r\n");
  rig.send("FANCY 100,100,\"x\"\r\n");
  rig.send("BARCODE 10,150,\"NOPE\",50,0,0,2,4,\"123\"\r\n");
  rig.send("QRCODE 200,10,M,4,A,0,@VAR\r\n");
  rig.send("PRINT 1\r\n");
  Canvas& c = rig.printer.canvas();
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) ASSERT_FALSE(c.isBlack(x, y)) << x << "," << y;
  }
  EXPECT_TRUE(rig.logHas("\"error\":\"unknown command\""));
  EXPECT_TRUE(rig.logHas("barcode type \\\"NOPE\\\" is not known"));
  // A variable is no error: its name is shown and noted.
  EXPECT_TRUE(rig.logHas("\"note\":\"content is the variable @VAR; variables are not evaluated"));
  EXPECT_EQ(rig.printer.errors(), 2u);
  ASSERT_EQ(labels.size(), 1u);
  const std::vector<DrawnCommand>& cmds = labels[0].commands;
  ASSERT_EQ(cmds.size(), 6u);
  struct Want {
    const char* text;
    int x, y;
  };
  const Want marks[] = {{"FANCY", 100, 100}, {"BARCODE", 10, 150}, {"QRCODE @VAR", 200, 10}};
  for (size_t i = 0; i < 3; ++i) {
    const DrawnCommand& d = cmds[i + 2];
    EXPECT_EQ(d.markText, marks[i].text);
    EXPECT_EQ(d.markBox.x, marks[i].x) << d.text;
    EXPECT_EQ(d.markBox.y, marks[i].y) << d.text;
    EXPECT_GT(d.markBox.w, 20) << d.text;
    EXPECT_GT(d.markBox.h, 10) << d.text;
    EXPECT_TRUE(d.box.empty()) << d.text;
  }
}

TEST(Printer, MissingFieldsAreErrorsNotCrashes) {
  Rig rig;
  const char* bad[] = {"TEXT 10\r\n", "BARCODE\r\n", "QRCODE 1,2\r\n", "PRINT\r\n",
                       "PRINT 0,1\r\n", "SIZE\r\n", "SIZE x mm,y mm\r\n", "OUT\r\n",
                       "OUT GETSETTING$(\"A\")\r\n", "OUT CHR$(999)\r\n", "DMATRIX 1\r\n",
                       "PDF417 1,2\r\n", "AZTEC\r\n", "MAXICODE 1,2,9,\"x\"\r\n", "RSS 1,2\r\n",
                       "PUTBMP\r\n", "BOX 1,2\r\n", "DOWNLOAD \"X\"\r\n", "~!Z\r\n", "\x1b!Z",
                       // A BITMAP line that carries no rows (no comma after the mode,
                       // a header the parser does not take) must not read rows.
                       "BITMAP 0,0,50,50,0\r\n", "BITMAP -3x 8,8,50,50\r\n",
                       "BITMAP,0,0,2,2,0,\r\n"};
  for (const char* b : bad) {
    uint64_t before = rig.printer.errors();
    rig.send(b);
    EXPECT_EQ(rig.printer.errors(), before + 1) << b;
  }
}

TEST(Printer, PrintWritesOnePngPerSetAndRecordsCopies) {
  char dir[] = "/tmp/vprinter-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  PrinterOptions o;
  o.outDir = dir;
  Rig rig(o);
  rig.send("SIZE 30 mm,20 mm\r\nCLS\r\nTEXT 10,10,\"3\",0,1,1,\"Hi\"\r\nPRINT 2,3\r\n");
  ASSERT_EQ(rig.printer.written().size(), 2u);
  EXPECT_EQ(rig.printer.labelsPrinted(), 6u);
  EXPECT_TRUE(rig.logHas("\"copies\":3"));
  std::ifstream png(rig.printer.written()[0], std::ios::binary);
  char magic[8] = {};
  png.read(magic, 8);
  EXPECT_EQ(Bytes(magic, 8), Bytes("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(rig.send("OUT @LABEL\r\n"), "6\r\n");
  for (const std::string& f : rig.printer.written()) unlink(f.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace vprinter

namespace vprinter {
namespace {

// Pieces of real commands shuffled with random bytes: nothing may crash,
// hang or read outside a buffer (run under the sanitizers).
TEST(Printer, SurvivesGarbledStreams) {
  const char* pieces[] = {"SIZE 10 mm,5 mm\r\n", "BITMAP 5,5,2,2,2,", "DOWNLOAD \"A\",4,",
                          "TEXT -5,-5,\"2\",90,3,3,\"x\"\r\n", "BARCODE 0,0,\"39\",10,3,270,1,2,\"A\"",
                          "QRCODE 0,0,H,1,A,0,M1,S3,\"q\"\r\n", "\x1b!", "PRINT 1,1\r\n", ",\"",
                          "MAXICODE 0,0,2,1,840,\"12345\",\"x\"\r\n", "PDF417 0,0,10,10,0,E0,H0,\"p\"\r\n",
                          "PUTPCX 0,0,\"A\"\r\n", "BITMAP -9223372036854775807,9223372036854775807,1,1,0,x\r\n", "RSS 0,0,\"RSSEXP\",0,1,1,4,\"(01)12345678901231\"\r\n",
                          "OUT GETSETTING$(\"\r\n", "SIZE 0.1 mm,0.1 mm\r\n", "BOX 0,0,-9,-9,-3\r\n"};
  Printer printer(PrinterOptions(), nullptr);
  Session session(printer, "fuzz");
  uint32_t seed = std::getenv("VPRINTER_FUZZ_SEED") ? static_cast<uint32_t>(std::atoi(std::getenv("VPRINTER_FUZZ_SEED"))) : 12345u;
  auto next = [&]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  std::string stream;
  for (int i = 0; i < 3000; ++i) {
    if (next() % 3) {
      stream += pieces[next() % (sizeof pieces / sizeof pieces[0])];
    } else {
      for (int k = next() % 8; k > 0; --k) stream.push_back(static_cast<char>(next()));
    }
  }
  for (size_t at = 0; at < stream.size();) {
    size_t n = std::min<size_t>(1 + next() % 97, stream.size() - at);
    session.feed(reinterpret_cast<const uint8_t*>(stream.data()) + at, n);
    session.takeReply();
    at += n;
  }
  session.finish();
  EXPECT_GT(printer.errors(), 0u);
}

}  // namespace
}  // namespace vprinter
