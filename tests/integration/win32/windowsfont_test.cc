// Host-font text drawn by the Windows graphics interface and sent as one
// bitmap command to a printer stand-in on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "paloma.h"
#include "peer.h"
#include "support/empty_host_text.h"
#include "platform/os.h"

namespace paloma::test {
namespace {

constexpr const char* kFace = "Tahoma";

struct Bitmap {
  int x = -1, y = -1, widthBytes = -1, rows = -1;
  std::string payload;
  bool wellFormed = false;
};

// Splits "BITMAP x,y,wb,h,1," + wb*h bytes + "\r\n".
Bitmap parse(const std::string& wire) {
  Bitmap b;
  int used = 0;
  if (std::sscanf(wire.c_str(), "BITMAP %d,%d,%d,%d,1,%n", &b.x, &b.y, &b.widthBytes, &b.rows,
                  &used) != 4 ||
      used == 0)
    return b;
  std::size_t size = static_cast<std::size_t>(b.widthBytes) * static_cast<std::size_t>(b.rows);
  if (wire.size() != static_cast<std::size_t>(used) + size + 2) return b;
  if (wire.compare(wire.size() - 2, 2, "\r\n") != 0) return b;
  b.payload = wire.substr(static_cast<std::size_t>(used), size);
  b.wellFormed = true;
  return b;
}

FontSpec font(int height, int rotation) {
  FontSpec f;
  f.height = height;
  f.escapementTenths = rotation * 10;
  f.weight = 400;
  f.faceName = kFace;
  return f;
}

HostText narrow(const char* s) {
  HostText t;
  t.bytes = s;
  return t;
}

int inkBits(const std::string& bytes) {
  int n = 0;
  for (unsigned char c : bytes)
    for (int b = 0; b < 8; ++b) n += ((c >> b) & 1) == 0;
  return n;
}

class Win32WindowsFont : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openethernet("127.0.0.1", listener_.port()), 1);
    printer_ = PeerSocket(listener_.accept(2000));
    ASSERT_TRUE(printer_.valid());
  }
  void TearDown() override { closeethernetport(0); closeport(); }

  WinsockScope winsock_;
  LoopbackListener listener_;
  PeerSocket printer_;
};

TEST_F(Win32WindowsFont, UnrotatedBlockMatchesTheMeasuredExtent) {
  int cx = 0, cy = 0;
  ASSERT_TRUE(platformOs().textExtent(font(32, 0), narrow("Hello"), &cx, &cy));
  ASSERT_GT(cx, 0);
  ASSERT_GT(cy, 0);

  ASSERT_EQ(windowsfont(10, 20, 32, 0, 0, 0, kFace, "Hello"), 1);
  Bitmap b = parse(printer_.readUntilQuiet(300, 5000));
  ASSERT_TRUE(b.wellFormed);
  EXPECT_EQ(b.x, 10);
  EXPECT_EQ(b.y, 20);
  EXPECT_EQ(b.widthBytes, (cx + 7) / 8);
  EXPECT_EQ(b.rows, cy);
  // Black text on a white block: some ink, mostly background.
  int ink = inkBits(b.payload);
  EXPECT_GT(ink, 20);
  EXPECT_LT(ink, static_cast<int>(b.payload.size()) * 8 / 2);

  // The block is what the graphics interface draws for the same text.
  BitBlock block;
  ASSERT_TRUE(platformOs().drawText(font(32, 0), narrow("Hello"), 0, 0, cx, cy, &block));
  EXPECT_EQ(std::string(block.bits.begin(), block.bits.end()), b.payload);
}

TEST_F(Win32WindowsFont, QuarterTurnSwapsTheBlockAndKeepsTheInk) {
  int cx = 0, cy = 0;
  ASSERT_TRUE(platformOs().textExtent(font(32, 0), narrow("Hello"), &cx, &cy));
  ASSERT_EQ(windowsfont(10, 300, 32, 0, 0, 0, kFace, "Hello"), 1);
  Bitmap flat = parse(printer_.readUntilQuiet(300, 5000));
  ASSERT_TRUE(flat.wellFormed);

  ASSERT_EQ(windowsfont(10, 300, 32, 90, 0, 0, kFace, "Hello"), 1);
  Bitmap turned = parse(printer_.readUntilQuiet(300, 5000));
  ASSERT_TRUE(turned.wellFormed);
  EXPECT_EQ(turned.x, 10);
  EXPECT_EQ(turned.y, 300 - cx);
  EXPECT_EQ(turned.widthBytes, (cy + 7) / 8);
  EXPECT_EQ(turned.rows, cx);
  // The turned text lies inside its block: about as much ink as unturned.
  int a = inkBits(flat.payload), b = inkBits(turned.payload);
  EXPECT_GT(b, a * 7 / 10);
  EXPECT_LT(b, a * 13 / 10 + 8 * turned.rows);
}

TEST_F(Win32WindowsFont, BlockBytesLeftOfTheOriginAreDropped) {
  int cx = 0, cy = 0;
  ASSERT_TRUE(platformOs().textExtent(font(32, 0), narrow("Hello"), &cx, &cy));
  ASSERT_GT(cx, 16);
  ASSERT_EQ(windowsfont(-9, 0, 32, 0, 0, 0, kFace, "Hello"), 1);
  Bitmap b = parse(printer_.readUntilQuiet(300, 5000));
  ASSERT_TRUE(b.wellFormed);
  EXPECT_EQ(b.x, 0);
  EXPECT_EQ(b.widthBytes, (cx + 7) / 8 - 2);
  EXPECT_EQ(b.rows, cy);
}

// The list is shared with the Linux backend's tests, which expect the same
// bytes from their rasteriser.
TEST_F(Win32WindowsFont, EmptyTextMeasuresNothingAndSendsWhatTheLinuxBackendSends) {
  int cx = -1, cy = -1;
  ASSERT_TRUE(platformOs().textExtent(font(32, 0), narrow(""), &cx, &cy));
  EXPECT_EQ(cx, 0);
  EXPECT_EQ(cy, 0);
  for (const EmptyTextCall& c : emptyHostTextCalls(kFace)) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(printer_.readAtLeast(c.bytes.size(), 2000), c.bytes);
  }
  // Nothing more came.
  EXPECT_EQ(printer_.readUntilQuiet(100, 300), "");
}

}  // namespace
}  // namespace paloma::test
