#include "label_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paloma::printapp {
namespace {

TEST(PageCommands, SetupForEachTrackingAndEnd) {
  PageSetup s;
  s.widthMm = 101.6;
  s.heightMm = 152.4;
  s.density = 8;
  s.speed = 4;
  EXPECT_EQ(pageStartCommands(s),
            "SIZE 101.6 mm,152.4 mm\r\nGAP 3 mm,0 mm\r\nDENSITY 8\r\nSPEED 4\r\nCLS\r\n");
  s.tracking = Tracking::kMark;
  s.gapMm = 2.5;
  s.offsetMm = 0.25;
  EXPECT_EQ(pageStartCommands(s),
            "SIZE 101.6 mm,152.4 mm\r\nBLINE 2.5 mm,0.25 mm\r\nDENSITY 8\r\nSPEED 4\r\nCLS\r\n");
  // Continuous media has no gap to find, whatever the setup says.
  s.tracking = Tracking::kContinuous;
  s.density = 40;  // clamped to the printer's 15
  s.speed = 0;     // and to at least 1
  EXPECT_EQ(pageStartCommands(s),
            "SIZE 101.6 mm,152.4 mm\r\nGAP 0 mm,0 mm\r\nDENSITY 15\r\nSPEED 1\r\nCLS\r\n");
  EXPECT_EQ(pageEndCommand(3), "PRINT 1,3\r\n");
  EXPECT_EQ(pageEndCommand(0), "PRINT 1,1\r\n");
}

TEST(PageCommands, MillimetreTextAndSettingMaps) {
  EXPECT_EQ(millimetres(5000), "50");
  EXPECT_EQ(millimetres(10160), "101.6");
  EXPECT_EQ(millimetres(6225), "62.25");
  EXPECT_EQ(millimetres(5), "0.05");
  EXPECT_EQ(millimetres(-3), "0");

  EXPECT_EQ(densityFromDarkness(50, 0), 8);
  EXPECT_EQ(densityFromDarkness(50, 100), 15);
  EXPECT_EQ(densityFromDarkness(50, -100), 0);
  EXPECT_EQ(densityFromDarkness(0, 0), 0);
  EXPECT_EQ(densityFromDarkness(100, 0), 15);

  EXPECT_EQ(speedFromIpp(0, 4), 4);        // not given
  EXPECT_EQ(speedFromIpp(2540, 4), 1);     // 1 inch a second
  EXPECT_EQ(speedFromIpp(5080, 4), 2);
  EXPECT_EQ(speedFromIpp(100, 4), 1);      // never 0
  EXPECT_EQ(speedFromIpp(1000000, 4), 12);
}

struct Captured {
  std::vector<std::string> commands;
  BandWriter::Sink sink() {
    return [this](const void* d, size_t n) {
      commands.emplace_back(static_cast<const char*>(d), n);
      return true;
    };
  }
};

std::string bitmap(unsigned y, unsigned bytes, unsigned rows, const std::string& payload) {
  return "BITMAP 0," + std::to_string(y) + "," + std::to_string(bytes) + "," +
         std::to_string(rows) + ",0," + payload + "\r\n";
}

TEST(Bands, OneBitRowsAreInvertedPaddedAndWhiteBandsLeftOut) {
  Captured c;
  // 10 dots wide: two bytes a row, the last six bits past the page.
  BandWriter w(10, 5, 2, c.sink());
  const uint8_t black[2] = {0xff, 0xc0};
  const uint8_t white[2] = {0x00, 0x00};
  const uint8_t left[2] = {0x80, 0x00};
  ASSERT_TRUE(w.addLine(0, white));
  ASSERT_TRUE(w.addLine(1, white));  // band 0-1 all white: not sent
  ASSERT_TRUE(w.addLine(2, left));
  ASSERT_TRUE(w.addLine(3, black));
  ASSERT_TRUE(w.addLine(4, white));  // a last band of one row
  ASSERT_TRUE(w.finish());
  ASSERT_EQ(c.commands.size(), 1u);
  // 0 bit = black; the padding bits stay white (1).
  EXPECT_EQ(c.commands[0], bitmap(2, 2, 2, std::string("\x7f\xff\x00\x3f", 4)));
}

TEST(Bands, SkippedRowsAreWhiteAndRowsOutsideThePageIgnored) {
  Captured c;
  BandWriter w(8, 4, 4, c.sink());
  const uint8_t black[1] = {0xff};
  ASSERT_TRUE(w.addLine(1, black));  // row 0 never came
  ASSERT_TRUE(w.addLine(1, black));  // again: already written
  ASSERT_TRUE(w.addLine(3, black));
  ASSERT_TRUE(w.addLine(9, black));  // past the page
  ASSERT_TRUE(w.finish());
  ASSERT_EQ(c.commands.size(), 1u);
  EXPECT_EQ(c.commands[0], bitmap(0, 1, 4, std::string("\xff\x00\xff\x00", 4)));
}

TEST(Bands, ARefusedSendStopsThePage) {
  BandWriter w(8, 4, 1, [](const void*, size_t) { return false; });
  const uint8_t black[1] = {0xff};
  const uint8_t white[1] = {0x00};
  EXPECT_TRUE(w.addLine(0, white));  // nothing to send yet
  EXPECT_FALSE(w.addLine(1, black));
  EXPECT_EQ(w.bytesSent(), 0u);
}

}  // namespace
}  // namespace paloma::printapp
