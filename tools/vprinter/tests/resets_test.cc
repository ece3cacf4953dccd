// What the printer's resets set back: a restart, a CLS and a finished label
// each leave behind only what outlives them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printer.h"
#include "test_rig.h"

namespace vprinter {
namespace {

// Black dots of the image buffer in the box [x0, x1) x [y0, y1).
int inkIn(Printer& p, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1 && y < p.canvas().height(); ++y)
    for (int x = x0; x < x1 && x < p.canvas().width(); ++x) n += p.canvas().isBlack(x, y) ? 1 : 0;
  return n;
}

// The top of the outline the page draws for the last command that could not be drawn.
int lastMarkTop(Printer& p) {
  std::vector<DrawnCommand> h = p.history();
  for (auto d = h.rbegin(); d != h.rend(); ++d) {
    if (!d->markBox.empty()) return d->markBox.y;
  }
  return -1;
}

TEST(Printer, RestartSetsBackEverythingVolatile) {
  PrinterRig rig;
  // An outline for each unknown command, one under the other from the top; a
  // tag read waits for the next OUT; a volatile and a flash file.
  rig.send("SIZE 40 mm,30 mm\r\nCLS\r\nBAR 0,0,8,8\r\nFOO\r\nFOO\r\nRFID READ\r\n");
  rig.send("DOWNLOAD \"V.BMP\",3,vvv\r\nDOWNLOAD F,\"F.BMP\",2,ff\r\n");
  ASSERT_GT(lastMarkTop(rig.printer), 20) << "the second outline row";
  EXPECT_EQ(rig.printer.files().size(), 2u);

  EXPECT_EQ(rig.send("\x1b!R\r\n"), "");
  // The image buffer is white again, its outlines gone.
  EXPECT_EQ(inkIn(rig.printer, 0, 0, 320, 240), 0);
  EXPECT_EQ(lastMarkTop(rig.printer), -1);
  // The next outline starts at the top row again.
  rig.send("FOO\r\n");
  EXPECT_LT(lastMarkTop(rig.printer), 20);
  // The pending tag is gone: OUT answers only its value.
  EXPECT_EQ(rig.send("OUT 5\r\n"), "5\r\n");
  // Only the flash file stays, and the free memory counts only it.
  EXPECT_EQ(rig.send("~!F\r\n"), "F.BMP\r\n\r\n");
  EXPECT_EQ(rig.send("~!A\r\n"), std::to_string((64ull << 20) - 2) + "\r\n");
  // What a restart keeps: the label size and the flash file's bytes.
  EXPECT_EQ(rig.printer.canvas().width(), 320);
  EXPECT_EQ(rig.printer.files().at("F.BMP"), "ff");
}

TEST(Printer, ClsStartsOutlinesAtTheTopAgain) {
  PrinterRig rig;
  rig.send("SIZE 40 mm,30 mm\r\nFOO\r\nFOO\r\nFOO\r\n");
  EXPECT_GT(lastMarkTop(rig.printer), 40);
  rig.send("CLS\r\nFOO\r\n");
  EXPECT_LT(lastMarkTop(rig.printer), 20);
  // An RFID tag read before CLS is still sent: CLS clears only the image.
  rig.send("RFID READ\r\nCLS\r\n");
  EXPECT_EQ(rig.send("OUT 7\r\n"), "E280116060000209A1B2C3D4\r\n7\r\n");
  EXPECT_EQ(rig.send("OUT 7\r\n"), "7\r\n");
}

TEST(Printer, EachLabelCarriesOnlyItsOwnLogLinesAndErrors) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  PrinterOptions o;
  o.outDir = dir.path;
  PrinterRig rig(o);
  std::vector<LabelRecord> labels;
  rig.printer.onLabel([&](const LabelRecord& l) { labels.push_back(l); });
  Session s(rig.printer, "tcp#1");
  auto feed = [&](const std::string& b) {
    s.feed(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  };
  // The first label: two errors, and more log lines than a label keeps.
  std::string first = "SIZE 20 mm,10 mm\r\nCLS\r\nBAR x\r\nFOO\r\n";
  for (size_t i = 0; i < Job::kMaxLines; ++i) first += "SPEED 4\r\n";
  feed(first + "PRINT 1\r\n");
  feed("CLS\r\nPRINT 1\r\n");
  s.finish();
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].errors, 2u);
  ASSERT_FALSE(labels[0].logLines.empty());
  EXPECT_NE(labels[0].logLines.front().find("earlier log lines"), std::string::npos);
  EXPECT_EQ(labels[1].errors, 0u);
  ASSERT_EQ(labels[1].logLines.size(), 2u);
  EXPECT_NE(labels[1].logLines[0].find("\"command\":\"CLS\""), std::string::npos)
      << labels[1].logLines[0];
  EXPECT_NE(labels[1].logLines[1].find("\"command\":\"PRINT\""), std::string::npos)
      << labels[1].logLines[1];
}

}  // namespace
}  // namespace vprinter
