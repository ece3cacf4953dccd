// Host-font text on the real backend, as the printer receives it: over
// loopback TCP, through a pty opened as a serial port, and through a raw CUPS
// queue when a scheduler runs. Each must carry exactly the header, every row
// of the drawn block, and the line end, at every rotation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fonttext/fonttext.h"
#include "paloma.h"
#include "support/loopback_peer.h"
#include "support/posix/process.h"

namespace paloma {
namespace {

const char* const kFace = "DejaVu Sans";
const char* const kText = "Lot 9 expiry 2027-03-31!";

// The command windowsfont sends for the text at (10, 400): drawn here through
// the same rasteriser, so the bytes can be compared one for one.
std::string expectedCommand(int height, int rotation) {
  TextBitmap bmp;
  HostText text;
  text.bytes = kText;
  if (prepareTextBitmap(textBitmapArgs(10, 400, height, rotation, 0, 0, kFace), text, &bmp) !=
      TextBitmapStatus::Ok)
    return "";
  std::string out = bmp.header;
  out.append(reinterpret_cast<const char*>(bmp.bits.data()), bmp.bits.size());
  EXPECT_EQ(bmp.bits.size(), static_cast<std::size_t>(bmp.rowBytes) * bmp.rows);
  return out + "\r\n";
}

struct Case {
  int height, rotation;
};
const Case kCases[] = {{40, 0}, {40, 90}, {24, 180}, {40, 270}, {-30, 45}};

TEST(FontTextWire, LoopbackTcpCarriesTheWholeCommand) {
  for (const Case& c : kCases) {
    SCOPED_TRACE("rotation " + std::to_string(c.rotation));
    test::LoopbackPeer printer;
    ASSERT_GT(printer.port(), 0);
    const std::string want = expectedCommand(c.height, c.rotation);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(openethernet("127.0.0.1", printer.port()), 1);
    EXPECT_EQ(windowsfont(10, 400, c.height, c.rotation, 0, 0, kFace, kText), 1);
    EXPECT_TRUE(printer.waitReceived(want.size(), 5000));
    EXPECT_EQ(printer.received(), want);
    closeport();
  }
}

TEST(FontTextWire, SerialPtyCarriesTheWholeCommand) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string path = ptsname(master);
  ASSERT_EQ(openport(path.c_str()), 1);
  for (const Case& c : kCases) {
    SCOPED_TRACE("rotation " + std::to_string(c.rotation));
    const std::string want = expectedCommand(c.height, c.rotation);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(windowsfont(10, 400, c.height, c.rotation, 0, 0, kFace, kText), 1);
    // The pty holds a few kilobytes at a time: read while the bytes arrive,
    // at most 5 s.
    std::string got;
    for (int i = 0; i < 500 && got.size() < want.size(); ++i) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(closeport(), 1);
  close(master);
}

TEST(FontTextWire, SpoolerJobCarriesTheWholeCommand) {
  test::LoopbackPeer printer(test::LoopbackPeer::Options{{}, true, 60000});
  ASSERT_GT(printer.port(), 0);
  const std::string name = "paloma_text_" + std::to_string(getpid());
  test::SpoolerQueue queue(name, "socket://127.0.0.1:" + std::to_string(printer.port()));
  PALOMA_REQUIRE_QUEUE(queue);
  const std::string want = expectedCommand(40, 90);
  ASSERT_EQ(openport(name.c_str()), 1);
  EXPECT_EQ(windowsfont(10, 400, 40, 90, 0, 0, kFace, kText), 1);
  EXPECT_EQ(closeport(), 1);
  auto job = printer.nextClosed(30000);
  EXPECT_TRUE(job.ended) << "the queue delivered nothing";
  EXPECT_EQ(job.bytes, want);
}

}  // namespace
}  // namespace paloma
