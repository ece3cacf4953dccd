// Host-font text with the real rasteriser (Pango and Cairo on installed
// faces): bit order with known glyphs, extents, rotation, weight, font
// fallback, and the bytes of whole commands, written to the recording fake.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/os.h"
#include "support/empty_host_text.h"
#include "support/fake_os.h"
#include "support/loopback_peer.h"

// Fontconfig keeps its patterns through encoded offsets that the leak
// checker cannot follow, so its caches look unreachable at exit.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const char* const kFace = "DejaVu Sans";

// The recording fake with the real rasteriser behind its text operations.
class RealTextOs : public FakeOs {
 public:
  bool textExtent(const FontSpec& f, const HostText& t, int* cx, int* cy) override {
    return platformOs().textExtent(f, t, cx, cy);
  }
  bool drawText(const FontSpec& f, const HostText& t, int x0, int y0, int w, int h,
                BitBlock* out) override {
    return platformOs().drawText(f, t, x0, y0, w, h, out);
  }
  std::u16string ansiToUtf16(std::string_view bytes) override {
    return platformOs().ansiToUtf16(bytes);
  }
  int missingGlyphs(const FontSpec& f, const HostText& t) override {
    return platformOs().missingGlyphs(f, t);
  }
};

// A USB connection on the real-text fake; the bytes land in f.wire("usb").
struct Rig {
  RealTextOs f;
  Rig() {
    test::resetLibraryState();
    setOs(&f);
    f.addDevice("usb");
    connection().handle = f.openFile("usb", OpenMode{});
    connection().usbMode = 1;
    connection().isOpen = 1;
  }
  ~Rig() {
    setOs(nullptr);
    test::resetLibraryState();
  }
  // The header and the payload of the last command on the wire.
  struct Sent { std::string header; std::string payload; };
  Sent split() const {
    const std::string w = f.wire("usb");
    std::size_t commas = 0, i = 0;
    while (i < w.size() && commas < 5) commas += w[i++] == ',';
    EXPECT_GE(w.size(), i + 2);
    EXPECT_EQ(w.substr(w.size() - 2), "\r\n");
    return {w.substr(0, i), w.substr(i, w.size() - i - 2)};
  }
};

FontSpec font(int height, int weight = 400, bool italic = false, bool underline = false,
              const char* face = kFace) {
  FontSpec f;
  f.height = height;
  f.weight = weight;
  f.italic = italic;
  f.underline = underline;
  f.faceName = face;
  return f;
}

HostText wide(std::u16string_view s) {
  HostText t;
  t.utf16 = s;
  t.wide = true;
  return t;
}

bool ink(const BitBlock& b, int x, int y) {
  return ((b.bits[static_cast<std::size_t>(y * b.widthBytes + x / 8)] >> (7 - x % 8)) & 1) == 0;
}

int inkCount(const BitBlock& b) {
  int n = 0;
  for (int y = 0; y < b.rows; ++y)
    for (int x = 0; x < b.widthBytes * 8; ++x) n += ink(b, x, y);
  return n;
}

int inkCount(const std::string& payload) {
  int n = 0;
  for (unsigned char c : payload) n += __builtin_popcount(static_cast<unsigned char>(~c));
  return n;
}

BitBlock drawUnrotated(const FontSpec& f, const HostText& t, int* cx = nullptr, int* cy = nullptr) {
  int w = 0, h = 0;
  EXPECT_TRUE(platformOs().textExtent(f, t, &w, &h));
  BitBlock b;
  EXPECT_TRUE(platformOs().drawText(f, t, 0, 0, (w + 7) / 8 * 8, h, &b));
  if (cx) *cx = w;
  if (cy) *cy = h;
  return b;
}

TEST(FontTextReal, KnownGlyphsGiveLeftmostPixelInTheHighBitAndTopRowFirst) {
  // U+258C LEFT HALF BLOCK: each row is ink up to a column, then background,
  // read from the high bit of the first byte on.
  int edgesInsideAByte = 0;
  for (int height : {-30, -37, -41, -45, -50}) {
    SCOPED_TRACE(height);
    int cx = 0, cy = 0;
    const BitBlock b = drawUnrotated(font(height), wide(u"\u258C"), &cx, &cy);
    ASSERT_GT(cx, 8);
    const int y = cy / 2;
    int edge = 0;
    while (edge < cx && ink(b, edge, y)) ++edge;
    EXPECT_GT(edge, 0);
    EXPECT_LT(edge, cx);
    for (int x = edge; x < b.widthBytes * 8; ++x) EXPECT_FALSE(ink(b, x, y)) << x;
    edgesInsideAByte += edge % 8 != 0;
  }
  EXPECT_GT(edgesInsideAByte, 0);

  // U+2580 UPPER HALF BLOCK: ink in the top rows, none in the bottom ones.
  int cx = 0, cy = 0;
  const BitBlock b = drawUnrotated(font(40), wide(u"\u2580"), &cx, &cy);
  EXPECT_TRUE(ink(b, cx / 2, 1));
  EXPECT_FALSE(ink(b, cx / 2, cy - 2));
}

TEST(FontTextReal, ExtentFollowsTheHeightRule) {
  int cx = 0, cy = 0;
  // Positive: the cell height.
  ASSERT_TRUE(platformOs().textExtent(font(32), wide(u"Hg"), &cx, &cy));
  EXPECT_EQ(cy, 32);
  EXPECT_GT(cx, 16);
  // Negative: the character (em) height, so the cell is taller.
  ASSERT_TRUE(platformOs().textExtent(font(-32), wide(u"Hg"), &cx, &cy));
  EXPECT_GT(cy, 32);
  // "Arial" reaches its metric-compatible face.
  int ax = 0, ay = 0, lx = 0, ly = 0;
  ASSERT_TRUE(platformOs().textExtent(font(-40, 400, false, false, "Arial"),
                                      wide(u"The quick brown fox"), &ax, &ay));
  ASSERT_TRUE(platformOs().textExtent(font(-40, 400, false, false, "Liberation Sans"),
                                      wide(u"The quick brown fox"), &lx, &ly));
  EXPECT_EQ(ax, lx);
  EXPECT_EQ(ay, ly);
}

TEST(FontTextReal, HeaderAgreesWithTheExtentAndTextIsZeroBits) {
  int cx = 0, cy = 0;
  const std::string text = "Label text 123";
  HostText t;
  t.bytes = text;
  ASSERT_TRUE(platformOs().textExtent(font(24), t, &cx, &cy));
  Rig rig;
  ASSERT_EQ(windowsfont(10, 20, 24, 0, 0, 0, kFace, text.c_str()), 1);
  const auto sent = rig.split();
  EXPECT_EQ(sent.header, "BITMAP 10,20," + std::to_string((cx + 7) / 8) + "," +
                             std::to_string(cy) + ",1,");
  EXPECT_EQ(sent.payload.size(), static_cast<std::size_t>((cx + 7) / 8 * cy));
  const int n = inkCount(sent.payload);
  EXPECT_GT(n, 50);                           // there is text, and it is 0 bits
  EXPECT_LT(n, static_cast<int>(sent.payload.size()) * 4);  // mostly background
}

TEST(FontTextReal, RotationTurnsTheBlock) {
  Rig rig;
  ASSERT_EQ(windowsfont(100, 600, 24, 90, 0, 0, kFace, "A rather wide text"), 1);
  const auto up = rig.split();
  int cx = 0, cy = 0;
  const std::string text = "A rather wide text";
  HostText t;
  t.bytes = text;
  ASSERT_TRUE(platformOs().textExtent(font(24), t, &cx, &cy));
  EXPECT_EQ(up.header, "BITMAP 100," + std::to_string(600 - cx) + "," +
                           std::to_string((cy + 7) / 8) + "," + std::to_string(cx) + ",1,");
  EXPECT_GT(cx, 4 * cy);  // tall block of a wide text

  // The same text turned half way round has the ink of the upright one.
  rig.f.clearJournal();
  ASSERT_EQ(windowsfont(400, 400, 24, 0, 0, 0, kFace, text.c_str()), 1);
  const int upright = inkCount(rig.split().payload);
  rig.f.clearJournal();
  ASSERT_EQ(windowsfont(400, 400, 24, 180, 0, 0, kFace, text.c_str()), 1);
  const int turned = inkCount(rig.split().payload);
  EXPECT_NEAR(turned, upright, upright / 10);
  EXPECT_NEAR(inkCount(up.payload), upright, upright / 10);
}

TEST(FontTextReal, ClippedBlockHasTheBytesOfTheWholeDrawing) {
  // Only the sent part is rendered; its bytes must be those of the block
  // drawn whole and then cut.
  const std::string text = "Clip Ag";
  HostText t;
  t.bytes = text;
  const FontSpec base = font(26, 700, true, true);
  int cx = 0, cy = 0;
  ASSERT_TRUE(platformOs().textExtent(base, t, &cx, &cy));
  struct Row { int rotation, x, y; };
  for (const Row& r : {Row{0, -13, -7}, Row{90, -5, 30}, Row{180, 20, 10}, Row{270, 13, -11}}) {
    SCOPED_TRACE(r.rotation);
    FontSpec f = base;
    f.escapementTenths = r.rotation * 10;
    const bool quarter = r.rotation == 90 || r.rotation == 270;
    const int w = quarter ? cy : cx, h = quarter ? cx : cy;
    const int x0 = r.rotation == 180 ? cx : r.rotation == 270 ? cy : 0;
    const int y0 = r.rotation == 90 ? cx : r.rotation == 180 ? cy : 0;
    const long X = r.x - (r.rotation == 180 ? cx : r.rotation == 270 ? cy : 0);
    const long Y = r.y - (r.rotation == 90 ? cx : r.rotation == 180 ? cy : 0);
    const int skipBytes = X < 0 ? static_cast<int>(-((X - 7) / 8)) : 0;
    const int skipRows = Y < 0 ? static_cast<int>(-Y) : 0;
    BitBlock whole;
    ASSERT_TRUE(platformOs().drawText(f, t, x0, y0, (w + 7) / 8 * 8, h, &whole));
    std::string expected;
    for (int y = skipRows; y < h; ++y)
      for (int b = skipBytes; b < whole.widthBytes; ++b)
        expected.push_back(static_cast<char>(whole.bits[static_cast<std::size_t>(y * whole.widthBytes + b)]));
    ASSERT_GT(inkCount(expected), 0);

    Rig rig;
    ASSERT_EQ(windowsfont(r.x, r.y, 26, r.rotation, 3, 1, kFace, text.c_str()), 1);
    EXPECT_EQ(rig.split().payload, expected);
  }
}

TEST(FontTextReal, TallBlockDrawnInBandsEqualsItsPieces) {
  // A long text turned upright: thousands of rows, more than one band.
  std::u16string text;
  for (int i = 0; i < 16; ++i) text += u"Long label line ";
  FontSpec f = font(60);
  f.escapementTenths = 900;
  int cx = 0, cy = 0;
  ASSERT_TRUE(platformOs().textExtent(f, wide(text), &cx, &cy));
  ASSERT_GT(cx * ((cy + 7) / 8 * 8), 300 * 1024);
  ASSERT_LE(cx, 12000);
  const int width = (cy + 7) / 8 * 8;
  BitBlock whole;
  ASSERT_TRUE(platformOs().drawText(f, wide(text), 0, cx, width, cx, &whole));
  ASSERT_GT(inkCount(whole), 1000);
  constexpr int kPiece = 997;
  for (int top = 0; top < cx; top += kPiece) {
    SCOPED_TRACE(top);
    const int rows = std::min(kPiece, cx - top);
    BitBlock piece;
    ASSERT_TRUE(platformOs().drawText(f, wide(text), 0, cx - top, width, rows, &piece));
    const auto from = whole.bits.begin() + static_cast<std::ptrdiff_t>(top) * whole.widthBytes;
    EXPECT_TRUE(std::equal(piece.bits.begin(), piece.bits.end(), from));
  }
}

TEST(FontTextReal, BoldItalicAndUnderlineChangeTheDrawing) {
  const HostText t = wide(u"Weight and style");
  int rx = 0, bx = 0;
  const BitBlock regular = drawUnrotated(font(30), t, &rx);
  const BitBlock bold = drawUnrotated(font(30, 700), t, &bx);
  EXPECT_TRUE(bx > rx || inkCount(bold) > inkCount(regular) * 11 / 10);
  const BitBlock under = drawUnrotated(font(30, 400, false, true), t);
  EXPECT_GT(inkCount(under), inkCount(regular));
  const BitBlock italic = drawUnrotated(font(30, 400, true), t);
  EXPECT_NE(italic.bits, regular.bits);
}

TEST(FontTextReal, UnicodeAsciiEqualsEightBitAndPartialLengths) {
  Rig rig;
  ASSERT_EQ(windowsfont(5, 5, 28, 0, 2, 1, kFace, "Same text"), 1);
  const std::string eightBit = rig.f.wire("usb");
  rig.f.clearJournal();
  ASSERT_EQ(windowsfontM(5, 5, 28, 0, 2, 1, kFace, u"Same text"), 1);
  EXPECT_EQ(rig.f.wire("usb"), eightBit);
  rig.f.clearJournal();
  ASSERT_EQ(windowsfontUnicodeLengh(5, 5, 28, 0, 2, 1, kFace, u"Same text and more", 9), 1);
  EXPECT_EQ(rig.f.wire("usb"), eightBit);
  rig.f.clearJournal();
  ASSERT_EQ(windowsfontW(5, 5, 28, 0, 2, 1, kFace, u"Same text"), 1);
  EXPECT_EQ(rig.f.wire("usb"), eightBit);
}

bool haveFontFor(gunichar c) {
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* ctx = pango_font_map_create_context(map);
  PangoFontDescription* d = pango_font_description_from_string("Sans 20");
  bool found = false;
  if (PangoFontset* set = pango_font_map_load_fontset(map, ctx, d, pango_language_get_default())) {
    PangoFont* f = pango_fontset_get_font(set, c);
    found = f && pango_font_has_char(f, c);
    if (f) g_object_unref(f);
    g_object_unref(set);
  }
  pango_font_description_free(d);
  g_object_unref(ctx);
  g_object_unref(map);
  return found;
}

TEST(FontTextReal, CjkRendersThroughFallback) {
  if (!haveFontFor(0x4E2D)) GTEST_SKIP() << "no installed face covers U+4E2D";
  Rig rig;
  // The Latin face lacks the characters; another face draws them.
  ASSERT_EQ(windowsfontM(0, 0, 40, 0, 0, 0, kFace, u"\u4E2D\u6587"), 1);
  const auto sent = rig.split();
  EXPECT_GT(inkCount(sent.payload), 100);
  int cx = 0, cy = 0;
  const BitBlock b = drawUnrotated(font(40), wide(u"\u4E2D"), &cx, &cy);
  // U+4E2D has a long vertical stroke through its middle.
  int column = 0;
  for (int x = 0; x < cx; ++x) {
    int run = 0;
    for (int y = 0; y < cy; ++y) run += ink(b, x, y);
    column = std::max(column, run);
  }
  EXPECT_GT(column, cy / 2);
}

// U+0378 is no character (unassigned), so no font has a glyph for it: the
// text is still sent, and the last error says one character had none; a text
// the fonts cover leaves the record empty.
TEST(FontTextReal, CharactersWithoutAGlyphAreSentAndTold) {
  Rig rig;
  paloma_clear_error();
  ASSERT_EQ(windowsfontM(0, 0, 40, 0, 0, 0, kFace, u"Ab"), 1);
  EXPECT_STREQ(paloma_last_error(), "");
  ASSERT_EQ(windowsfontM(0, 0, 40, 0, 0, 0, kFace, u"A\u0378b"), 1);
  EXPECT_NE(std::string(paloma_last_error()).find("1 character has no glyph"), std::string::npos)
      << paloma_last_error();
  EXPECT_GT(inkCount(rig.split().payload), 0);
}

// The list is shared with the Windows backend's tests, which expect the same
// bytes from the graphics interface.
TEST(FontTextReal, EmptyTextMeasuresNothingAndSendsWhatTheWindowsBackendSends) {
  int cx = -1, cy = -1;
  HostText narrow;
  EXPECT_TRUE(platformOs().textExtent(font(40, 700, true, true), narrow, &cx, &cy));
  EXPECT_EQ(cx, 0);
  EXPECT_EQ(cy, 0);
  cx = cy = -1;
  EXPECT_TRUE(platformOs().textExtent(font(-24), wide(u""), &cx, &cy));
  EXPECT_EQ(cx, 0);
  EXPECT_EQ(cy, 0);

  test::resetLibraryState();
  test::LoopbackPeer printer;
  ASSERT_NE(printer.port(), 0);
  ASSERT_EQ(openethernet("127.0.0.1", printer.port()), 1);
  std::size_t expected = 0;
  for (const test::EmptyTextCall& c : test::emptyHostTextCalls(kFace)) {
    SCOPED_TRACE(c.what);
    const std::size_t before = printer.received().size();
    EXPECT_EQ(c.call(), c.result);
    expected += c.bytes.size();
    printer.waitReceived(expected, c.bytes.empty() ? 50 : 2000);
    EXPECT_EQ(printer.received().substr(before), c.bytes);
  }
  EXPECT_EQ(closeethernetport(0), 1);
  test::resetLibraryState();
}

TEST(FontTextReal, EightBitTextInTheProcessCharacterSet) {
  Os& o = platformOs();
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  std::setlocale(LC_CTYPE, "C");
  EXPECT_EQ(o.ansiToUtf16("A\xE9\x80\xFF"), u"A\u00E9\u0080\u00FF");
  // In the C locale a text that is valid UTF-8 is read as UTF-8; one with any
  // byte that is not (an overlong form, a surrogate, a cut-off sequence) is
  // read byte by byte.
  EXPECT_EQ(o.ansiToUtf16("Z\xC3\xBCrich \xE4\xB8\xAD\xF0\x9F\x98\x80"),
            u"Z\u00FCrich \u4E2D\U0001F600");
  EXPECT_EQ(o.ansiToUtf16("\xC0\xAF"), u"\u00C0\u00AF");
  EXPECT_EQ(o.ansiToUtf16("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");
  EXPECT_EQ(o.ansiToUtf16("ok\xE4\xB8"), u"ok\u00E4\u00B8");
  EXPECT_EQ(o.ansiToUtf16("\xF4\x90\x80\x80"), u"\u00F4\u0090\u0080\u0080");
  if (std::setlocale(LC_CTYPE, "C.UTF-8")) {
    EXPECT_EQ(o.ansiToUtf16("A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"), u"A\u00E9\u4E2D\U0001F600");
    EXPECT_EQ(o.ansiToUtf16("x\xFFy\xC3"), u"x\uFFFDy\uFFFD");
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
}  // namespace paloma
