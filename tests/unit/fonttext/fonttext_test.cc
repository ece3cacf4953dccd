// Host-font text on the fake: the rotation and clipping geometry against a
// model of the full canvas, the font description, the guards, and the way
// the header, the rows and the closing line end are written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "fonttext/fonttext.h"
#include "paloma.h"
#include "support/fake_os.h"
#include "support/wide_text.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const std::string kUsb = "usbdev";

// A "glyph" that moves with the drawing origin, as real text does: the ink
// at a canvas pixel depends only on its offset from the origin.
bool inkAt(int u, int v) {
  auto mod = [](int a, int m) { return ((a % m) + m) % m; };
  return mod(u * 3 + v * 5, 7) == 0 || mod(u - 2 * v, 11) == 0;
}

bool patternHook(const FontSpec&, const HostText&, int x0, int y0, int w, int h, BitBlock* out) {
  out->widthBytes = (w + 7) / 8;
  out->rows = h;
  out->bits.assign(static_cast<std::size_t>(out->widthBytes) * h, 0xFF);
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < out->widthBytes * 8; ++i)
      if (inkAt(i - x0, j - y0))
        out->bits[static_cast<std::size_t>(j * out->widthBytes + i / 8)] &=
            static_cast<std::uint8_t>(~(0x80u >> (i % 8)));
  return true;
}

// The canvas the whole text is drawn into, as the full-canvas procedure has
// it, and the rows it sends: bytes skipBytes..widthBytes of rows skipRows..h.
std::string expectedRows(int w, int h, int x0, int y0, int skipBytes, int skipRows) {
  BitBlock canvas;
  patternHook({}, {}, x0, y0, w, h, &canvas);
  std::string out;
  for (int r = skipRows; r < h; ++r)
    for (int b = skipBytes; b < canvas.widthBytes; ++b)
      out.push_back(static_cast<char>(canvas.bits[static_cast<std::size_t>(r * canvas.widthBytes + b)]));
  return out;
}

struct Rig {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  Handle handle = kInvalidHandle;

  explicit Rig(TransportKind kind = TransportKind::UsbDevice, const std::string& path = kUsb) {
    f.setTextExtent(37, 16);
    f.drawHook = patternHook;
    if (kind == TransportKind::Spooler) {
      f.addPrinter(path.substr(path.find(':') + 1), "usb://printer");
      f.spoolerOpen(path.substr(path.find(':') + 1), &handle);
      connection().handle = handle;
    } else if (kind == TransportKind::Network) {
      f.addTcpPeer("127.0.0.1:9100");
      Socket s = f.tcpSocket();
      f.tcpConnect(s, 0x7F000001, 9100);
      connection().socket = s;
    } else {
      f.addDevice(path);
      handle = f.openFile(path, OpenMode{});
      connection().handle = handle;
    }
    connection().flag(kind) = 1;
    connection().isOpen = 1;
    f.clearJournal();
  }
  std::vector<std::string> writes(const std::string& target = kUsb) const {
    std::vector<std::string> out;
    for (const auto& w : f.writes(target)) out.push_back(w.data);
    return out;
  }
  std::string drawArgs() const {
    auto d = f.entries("draw-text");
    return d.empty() ? "" : d.back().detail;
  }
};

TEST(FontText, GeometryAndClippingMatchTheFullCanvas) {
  struct Row {
    int rotation, x, y;
    std::string header;
    int w, h, x0, y0, skipBytes, skipRows;
    std::string drawn;  // origin and size of the rendered block
  };
  // Text extent 37 x 16 throughout.
  const std::vector<Row> rows = {
      {0, 10, 20, "BITMAP 10,20,5,16,1,", 37, 16, 0, 0, 0, 0, "0,0,40,16"},
      {90, 10, 50, "BITMAP 10,13,2,37,1,", 16, 37, 0, 37, 0, 0, "0,37,16,37"},
      {90, 10, 20, "BITMAP 10,0,2,20,1,", 16, 37, 0, 37, 0, 17, "0,20,16,20"},
      {180, 5, 40, "BITMAP 0,24,1,16,1,", 37, 16, 37, 16, 4, 0, "5,16,8,16"},
      {180, 50, 40, "BITMAP 13,24,5,16,1,", 37, 16, 37, 16, 0, 0, "37,16,40,16"},
      {270, 10, 50, "BITMAP 0,50,1,37,1,", 16, 37, 16, 0, 1, 0, "8,0,8,37"},
      {270, 30, 5, "BITMAP 14,5,2,37,1,", 16, 37, 16, 0, 0, 0, "16,0,16,37"},
      {45, 100, 100, "BITMAP 84,84,2,16,1,", 16, 16, 16, 16, 0, 0, "16,16,16,16"},
      {360, 100, 100, "BITMAP 84,84,2,16,1,", 16, 16, 16, 16, 0, 0, "16,16,16,16"},
      {-90, 20, 10, "BITMAP 4,0,2,10,1,", 16, 16, 16, 16, 0, 6, "16,10,16,10"},
      {0, -1, 20, "BITMAP 0,20,4,16,1,", 37, 16, 0, 0, 1, 0, "-8,0,32,16"},
      {0, -8, 20, "BITMAP 0,20,4,16,1,", 37, 16, 0, 0, 1, 0, "-8,0,32,16"},
      {0, -9, 20, "BITMAP 0,20,3,16,1,", 37, 16, 0, 0, 2, 0, "-16,0,24,16"},
      {0, 10, -15, "BITMAP 10,0,5,1,1,", 37, 16, 0, 0, 0, 15, "0,-15,40,1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("rotation " + std::to_string(row.rotation) + " at " + std::to_string(row.x) +
                 "," + std::to_string(row.y));
    Rig rig;
    ASSERT_EQ(windowsfont(row.x, row.y, 16, row.rotation, 0, 0, "Face", "Text"), 1);
    const std::string body =
        expectedRows(row.w, row.h, row.x0, row.y0, row.skipBytes, row.skipRows);
    EXPECT_EQ(rig.f.wire(kUsb), row.header + body + "\r\n");
    EXPECT_EQ(rig.drawArgs(), row.drawn);
    // Header, rows and line end in one write; the header also in the
    // command buffer, as after every binary-buffer write.
    EXPECT_EQ(rig.writes(), (std::vector<std::string>{row.header + body + "\r\n"}));
    EXPECT_EQ(std::string(connection().commandBuffer), row.header);
  }
}

TEST(FontText, GeometryRoundingAndCorners) {
  struct Row { int x, y, cx, cy, rotation; long long X, Y, skipBytes, skipRows; int widthBytes; };
  const std::vector<Row> rows = {
      {10, 50, 37, 16, 90, 10, 13, 0, 0, 2},
      {5, 40, 37, 16, 180, -32, 24, 4, 0, 5},
      {0, 0, 8, 9, 0, 0, 0, 0, 0, 1},
      {0, 0, 9, 9, 0, 0, 0, 0, 0, 2},
      {-7, -3, 9, 9, 0, -7, -3, 1, 3, 2},
      // Positions at the ends of int do not overflow the corner.
      {-2147483647 - 1, 0, 37, 16, 180, -2147483648LL - 37, -16, 268435461, 16, 5},
  };
  for (const Row& r : rows) {
    const TextGeometry g = textGeometry(r.x, r.y, r.cx, r.cy, r.rotation);
    EXPECT_EQ(g.X, r.X);
    EXPECT_EQ(g.Y, r.Y);
    EXPECT_EQ(g.skipBytes, r.skipBytes);
    EXPECT_EQ(g.skipRows, r.skipRows);
    EXPECT_EQ(g.widthBytes, r.widthBytes);
  }
}

TEST(FontText, FontDescriptionFromStyleUnderlineAndRotation) {
  struct Row { int style, underline, rotation; int weight; bool italic, underlined; };
  const std::vector<Row> rows = {
      {0, 0, 0, 400, false, false},   {1, 0, 0, 400, true, false},
      {2, 0, 90, 700, false, false},  {3, 1, 180, 700, true, true},
      {-1, 0, 270, 400, true, false}, {5, 256, 45, 700, true, false},
      {0, 257, 0, 400, false, true},  {0, -1, 0, 400, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("style " + std::to_string(row.style) + " underline " +
                 std::to_string(row.underline));
    Rig rig;
    FontSpec seen;
    rig.f.drawHook = [&](const FontSpec& font, const HostText& t, int x0, int y0, int w, int h,
                         BitBlock* out) {
      seen = font;
      return patternHook(font, t, x0, y0, w, h, out);
    };
    ASSERT_EQ(windowsfont(100, 100, -24, row.rotation, row.style, row.underline, "Liberation Sans",
                          "Text"),
              1);
    EXPECT_EQ(seen.height, -24);
    EXPECT_EQ(seen.weight, row.weight);
    EXPECT_EQ(seen.italic, row.italic);
    EXPECT_EQ(seen.underline, row.underlined);
    EXPECT_EQ(seen.escapementTenths, row.rotation * 10);
    EXPECT_EQ(seen.faceName, "Liberation Sans");
  }
}

TEST(FontText, GuardsSendNothing) {
  const paloma_wchar wide[] = {u'A', 0};
  const paloma_wchar empty[] = {0};
  const paloma_wchar cjk[] = {u'A', 0x4E00, 0};
  {
    Rig rig;
    connection().isOpen = 0;
    EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", "A"), 0);
    EXPECT_EQ(windowsfontW(0, 0, 16, 0, 0, 0, "Face", wide), 0);
    EXPECT_EQ(windowsfontM(0, 0, 16, 0, 0, 0, "Face", wide), 0);
    EXPECT_EQ(windowsfontUnicodeLengh(0, 0, 16, 0, 0, 0, "Face", wide, 1), 0);
    EXPECT_TRUE(rig.f.journal().empty());
  }
  {
  Rig rig;
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", ""), 0);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "", "A"), 0);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, nullptr, "A"), 0);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", nullptr), 0);
  EXPECT_EQ(windowsfontW(0, 0, 16, 0, 0, 0, "Face", empty), 0);
  EXPECT_EQ(windowsfontW(0, 0, 16, 0, 0, 0, "Face", nullptr), 0);
  // A unit the byte-per-unit narrowing has no byte for refuses the call.
  EXPECT_EQ(windowsfontW(0, 0, 16, 0, 0, 0, "Face", cjk), 0);
  EXPECT_EQ(windowsfontM(0, 0, 16, 0, 0, 0, nullptr, wide), 0);
  EXPECT_EQ(windowsfontM(0, 0, 16, 0, 0, 0, "Face", nullptr), 0);
  EXPECT_EQ(windowsfontUnicode(0, 0, 16, 0, 0, 0, "Face", nullptr), 0);
  EXPECT_EQ(windowsfontUnicodeLengh(0, 0, 16, 0, 0, 0, "Face", nullptr, 1), 0);
  EXPECT_EQ(windowsfontUnicodeLengh(0, 0, 16, 0, 0, 0, "Face", wide, -1), 0);
  EXPECT_EQ(windowsfontUnicodeLengh(0, 0, 16, 0, 0, 0, "Face", wide, 1024), 0);
  // A face name over 31 bytes does not fit the font record.
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, std::string(32, 'F').c_str(), "A"), 0);
  EXPECT_TRUE(rig.f.writes().empty());
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, std::string(31, 'F').c_str(), "A"), 1);
  }

  // An open connection with no transport flag draws and sends nothing.
  Rig bare;
  connection().usbMode = 0;
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", "A"), 0);
  EXPECT_TRUE(bare.f.journal().empty());
}

// Characters no font has: the text is still sent (boxes in their place), and
// the call succeeds, but the thread's last error says how many and what to
// install; a text every font covers leaves the record alone.
TEST(FontText, MissingGlyphsAreSentButToldThroughTheLastError) {
  Rig rig;
  paloma_clear_error();
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", "A"), 1);
  EXPECT_STREQ(paloma_last_error(), "");

  rig.f.setMissingGlyphs(3);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", "A"), 1);
  EXPECT_EQ(rig.writes().size(), 2u);
  const std::string why = paloma_last_error();
  EXPECT_NE(why.find("3 characters have no glyph"), std::string::npos) << why;
  EXPECT_NE(why.find("fonts-noto-cjk"), std::string::npos) << why;
  EXPECT_EQ(paloma_last_error_code(), 0);

  // A refusal after measuring is the call's reason, not the warning.
  rig.f.setTextExtent(5000, 16);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Face", "A"), 0);
  EXPECT_EQ(std::string(paloma_last_error()).find("glyph"), std::string::npos);
}

TEST(FontText, TextOutsideTheLabelOrTooLargeForTheCanvasIsRefused) {
  struct Row { int cx, cy, rotation, x, y, result; };
  const std::vector<Row> rows = {
      {37, 16, 0, -32, 0, 1},   // the last byte still shows
      {37, 16, 0, -33, 0, 0},   // whole bytes only: wholly left of the origin
      {37, 16, 0, -100, 0, 0},
      {37, 16, 0, 0, -16, 0},   // wholly above
      {37, 16, 90, 0, 37, 1},
      {37, 16, 90, 0, 0, 0},
      {2400, 16, 0, 0, 0, 1},   // the canvas limits
      {2401, 16, 0, 0, 0, 0},
      {2401, 16, 90, 0, 3000, 1},
      {12001, 16, 90, 0, 13000, 0},
      {8, 12001, 0, 0, 0, 0},
      {8, 2401, 45, 3000, 3000, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.cx) + "x" + std::to_string(row.cy) + " rotation " +
                 std::to_string(row.rotation));
    Rig rig;
    rig.f.setTextExtent(row.cx, row.cy);
    rig.f.drawHook = nullptr;  // all background, quick
    EXPECT_EQ(windowsfont(row.x, row.y, 16, row.rotation, 0, 0, "Face", "Text"), row.result);
    if (row.result == 0) {
      EXPECT_TRUE(rig.writes().empty());
      EXPECT_TRUE(rig.f.entries("draw-text").empty());
    }
  }
}

TEST(FontText, UnicodeVariantsDrawTheirTextAsUnicode) {
  Rig rig;
  std::vector<std::u16string> drawn;
  rig.f.drawHook = [&](const FontSpec& font, const HostText& t, int x0, int y0, int w, int h,
                       BitBlock* out) {
    EXPECT_TRUE(t.wide);
    drawn.emplace_back(t.utf16);
    return patternHook(font, t, x0, y0, w, h, out);
  };
  const paloma_wchar five[] = {u'A', 0x4E00, u'C', u'D', u'E', 0};
  EXPECT_EQ(windowsfontM(10, 20, 16, 0, 0, 0, "Face", five), 1);
  EXPECT_EQ(windowsfontUnicode(10, 20, 16, 0, 0, 0, "Face", five), 1);
  EXPECT_EQ(windowsfontUnicodeLengh(10, 20, 16, 0, 0, 0, "Face", five, 3), 1);
  EXPECT_EQ(windowsfontUnicodeLengh(10, 20, 16, 0, 0, 0, "Face", five, 10), 1);
  const std::u16string all = test::utf16(five), first3 = test::utf16(five, 3);
  EXPECT_EQ(drawn, (std::vector<std::u16string>{all, all, first3, all}));
  // The two identical functions send identical bytes.
  const auto w = rig.writes();
  ASSERT_EQ(w.size() % 4, 0u);
  EXPECT_EQ(std::vector<std::string>(w.begin(), w.begin() + w.size() / 4),
            std::vector<std::string>(w.begin() + w.size() / 4, w.begin() + w.size() / 2));

  // windowsfontW narrows, then draws the same characters.
  drawn.clear();
  const paloma_wchar latin[] = {u'A', 0xE9, 0};
  EXPECT_EQ(windowsfontW(0, 0, 16, 0, 0, 0, "Face", latin), 1);
  EXPECT_EQ(drawn, (std::vector<std::u16string>{test::utf16(latin)}));
}

TEST(FontText, EmptyUnicodeTextSendsAnEmptyBitmap) {
  const paloma_wchar empty[] = {0};
  const paloma_wchar five[] = {u'A', u'B', u'C', u'D', u'E', 0};
  Rig rig;
  rig.f.setTextExtent(0, 16);
  EXPECT_EQ(windowsfontM(10, 20, 16, 0, 0, 0, "Face", empty), 1);
  EXPECT_EQ(rig.writes(), (std::vector<std::string>{"BITMAP 10,20,0,16,1,\r\n"}));
  rig.f.clearJournal();
  EXPECT_EQ(windowsfontUnicodeLengh(10, 20, 16, 0, 0, 0, "Face", five, 0), 1);
  EXPECT_EQ(rig.writes(), (std::vector<std::string>{"BITMAP 10,20,0,16,1,\r\n"}));
  // An empty face name goes to the rasteriser as it is.
  rig.f.clearJournal();
  EXPECT_EQ(windowsfontM(10, 20, 16, 0, 0, 0, "", five), 1);
  ASSERT_EQ(rig.f.entries("text-extent").size(), 1u);
  EXPECT_EQ(rig.f.entries("text-extent")[0].data, "");
}

TEST(FontText, RowsOnEachTransport) {
  struct Row { TransportKind kind; std::string target, writeKind; };
  const std::vector<Row> rows = {
      {TransportKind::Spooler, "spooler:P", "spooler"},
      {TransportKind::LptFile, "LPT1", "file"},
      {TransportKind::Serial, "\\\\.\\COM1", "overlapped"},
      {TransportKind::Network, "127.0.0.1:9100", "send"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    Rig rig(row.kind, row.target);
    ASSERT_EQ(windowsfont(10, 20, 16, 0, 0, 0, "Face", "Text"), 1);
    const auto w = rig.f.writes(row.target);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].data, "BITMAP 10,20,5,16,1," + expectedRows(37, 16, 0, 0, 0, 0) + "\r\n");
    EXPECT_EQ(w[0].detail, row.writeKind);
  }
  // Several flags: the binary order takes the serial port before the network.
  {
    Rig both(TransportKind::Serial, "\\\\.\\COM1");
    connection().networkMode = 1;
    EXPECT_EQ(windowsfont(10, 20, 16, 0, 0, 0, "Face", "Text"), 1);
    EXPECT_EQ(both.f.writes("\\\\.\\COM1").size(), 1u);
    EXPECT_TRUE(both.f.writes("127.0.0.1:9100").empty());
  }
}

TEST(FontText, ShortWritesAreContinuedAndFailuresStop) {
  const std::string whole = "BITMAP 10,20,5,16,1," + expectedRows(37, 16, 0, 0, 0, 0) + "\r\n";
  {
    Rig rig;
    rig.f.limitWrite(kUsb, 2);
    EXPECT_EQ(windowsfont(10, 20, 16, 0, 0, 0, "Face", "Text"), 1);
    EXPECT_EQ(rig.f.wire(kUsb), whole);
  }
  {
    // A failure part way stops the call there: nothing after it is written,
    // the line end included.
    Rig rig;
    rig.f.limitWrite(kUsb, 10);
    rig.f.failWritesAfter(kUsb, 2);
    EXPECT_EQ(windowsfont(10, 20, 16, 0, 0, 0, "Face", "Text"), 0);
    EXPECT_EQ(rig.f.wire(kUsb), whole.substr(0, 20));
  }
  {
    Rig rig;
    rig.f.failWritesAfter(kUsb, 0);
    EXPECT_EQ(windowsfont(10, 20, 16, 0, 0, 0, "Face", "Text"), 0);
    EXPECT_TRUE(rig.writes().empty());
  }
  {
    // The serial port without events writes nothing.
    Rig rig(TransportKind::Serial, "\\\\.\\COM1");
    rig.f.failEvents(true);
    EXPECT_EQ(windowsfont(10, 20, 16, 0, 0, 0, "Face", "Text"), 0);
    EXPECT_TRUE(rig.f.writes("\\\\.\\COM1").empty());
  }
}

}  // namespace
}  // namespace paloma
