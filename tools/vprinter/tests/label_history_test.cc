// What a label's card is built from: the commands that made the image buffer,
// whatever stream they came on, and the dots each one drew.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_rig.h"

namespace vprinter {
namespace {

// A printer whose labels are kept, fed by named streams.
struct HistoryRig {
  HistoryRig() : printer(options(), nullptr) {
    printer.onLabel([this](const LabelRecord& l) { labels.push_back(l); });
  }
  PrinterOptions options() {
    PrinterOptions o;
    o.outDir = dir.path;
    return o;
  }
  void send(const std::string& endpoint, const std::string& bytes) {
    Session s(printer, endpoint);
    s.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.finish();
  }
  // "endpoint text" of each command of label `i`.
  std::vector<std::string> story(size_t i) const {
    std::vector<std::string> out;
    for (const DrawnCommand& d : labels.at(i).commands) out.push_back(d.endpoint + " " + d.text);
    return out;
  }
  TempDir dir;
  Printer printer;
  std::vector<LabelRecord> labels;
};

// The smallest box holding every black dot of the buffer.
DotBox blackBox(Canvas& c) {
  DotBox all;
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) {
      if (c.isBlack(x, y)) all.add({x, y, 1, 1});
    }
  }
  return all;
}

std::string str(const DotBox& b) {
  return std::to_string(b.x) + "," + std::to_string(b.y) + " " + std::to_string(b.w) + "x" +
         std::to_string(b.h);
}

TEST(LabelHistory, ALabelBuiltOverSeveralStreamsListsEveryCommandInOrder) {
  HistoryRig rig;
  rig.send("tcp#1", "SIZE 40 mm,20 mm\r\nGAP 2 mm,0\r\nCLS\r\nTEXT 10,10,\"3\",0,1,1,\"Hi\"\r\n");
  rig.send("tcp#2", "\x1b!?~!T\r\nOUT @LABEL\r\nBAR 0,100,50,4\r\n");
  rig.send("tcp#3", "PRINT 1\r\n");
  ASSERT_EQ(rig.labels.size(), 1u);
  // Queries leave the label as it was and are not in its story.
  std::vector<std::string> want = {"tcp#1 SIZE 40 mm,20 mm", "tcp#1 GAP 2 mm,0", "tcp#1 CLS",
                                   "tcp#1 TEXT 10,10,\"3\",0,1,1,\"Hi\"", "tcp#2 BAR 0,100,50,4",
                                   "tcp#3 PRINT 1"};
  EXPECT_EQ(rig.story(0), want);
  EXPECT_EQ(rig.labels[0].gapMm, 2.0);
  EXPECT_FALSE(rig.labels[0].blackMark);

  // Without CLS the drawings are still on the buffer, and in the next label;
  // the setup belonged to the first.
  rig.send("tcp#4", "FROB\r\nBLINE 3 mm,0\r\nPRINT 1\r\n");
  want = {"tcp#1 TEXT 10,10,\"3\",0,1,1,\"Hi\"", "tcp#2 BAR 0,100,50,4", "tcp#4 FROB",
          "tcp#4 BLINE 3 mm,0", "tcp#4 PRINT 1"};
  EXPECT_EQ(rig.story(1), want);
  EXPECT_EQ(rig.labels[1].errors, 1u) << "the errors since the previous label";
  EXPECT_TRUE(rig.labels[1].blackMark);
  EXPECT_EQ(rig.labels[1].gapMm, 3.0);

  // Clearing the buffer (CLS, a new SIZE, a restart) forgets what was drawn,
  // the unknown command's outline with it, and keeps the setup since the last label.
  for (const char* clear : {"CLS", "SIZE 30 mm,20 mm", "\x1b!R"}) {
    rig.send("tcp#5", "BAR 1,1,2,2\r\nSPEED 4\r\n");
    rig.send("tcp#6", std::string(clear) + "\r\nDIRECTION 1\r\nPRINT 1\r\n");
    std::string name = clear[0] == '\x1b' ? "ESC !R" : clear;
    want = {"tcp#5 SPEED 4", "tcp#6 " + name, "tcp#6 DIRECTION 1", "tcp#6 PRINT 1"};
    EXPECT_EQ(rig.story(rig.labels.size() - 1), want) << name;
  }
}

TEST(LabelHistory, EachCommandKnowsTheDotsItDrew) {
  HistoryRig rig;
  rig.send("t", "SIZE 50 mm,30 mm\r\nCLS\r\n");
  Canvas& c = rig.printer.canvas();
  struct Row {
    const char* what;
    std::string commands;
    DotBox want;   // empty: the box of the black dots it left
    int slack;     // dots the box may exceed that by on each side (outlines of glyphs)
  };
  const Row rows[] = {
      {"a bar", "BAR 10,20,30,4", {10, 20, 30, 4}, 0},
      {"a box", "BOX 10,20,60,50,3", {10, 20, 50, 30}, 0},
      {"a bar cut by the edge", "BAR 390,230,50,50", {390, 230, 10, 10}, 0},
      {"a bar wholly off the label", "BAR 500,500,5,5", {}, 0},
      {"a bitmap", std::string("BITMAP 8,9,2,3,0,") + std::string(6, '\0'), {8, 9, 16, 3}, 0},
      // White on white: no dot changes, but this is what it covered.
      {"an erase", "ERASE 5,6,7,8", {5, 6, 7, 8}, 0},
      {"a text", "TEXT 20,30,\"3\",0,1,1,\"Hello\"", {}, 1},
      {"a text turned", "TEXT 200,30,\"4\",90,2,1,\"Wy\"", {}, 1},
      {"a scalable text", "TEXT 20,60,\"0\",0,12,12,\"Ag\"", {}, 1},
      {"a barcode", "BARCODE 20,100,\"128\",60,1,0,2,2,\"PALOMA-0001\"", {}, 0},
      {"a QR code", "QRCODE 250,20,M,4,A,0,\"paloma\"", {}, 0},
      {"a setting", "SPEED 4", {}, 0},
  };
  for (const Row& r : rows) {
    rig.send("t", "CLS\r\n" + r.commands + "\r\nPRINT 1\r\n");
    ASSERT_FALSE(rig.labels.empty());
    const std::vector<DrawnCommand>& cmds = rig.labels.back().commands;
    ASSERT_GE(cmds.size(), 3u) << r.what;
    const DrawnCommand& d = cmds[cmds.size() - 2];
    DotBox want = r.want.empty() ? blackBox(c) : r.want;
    if (r.slack == 0) {
      EXPECT_EQ(str(d.box), str(want)) << r.what << ": " << d.text;
    } else {
      DotBox both = d.box;
      both.add(want);
      EXPECT_EQ(str(both), str(d.box)) << r.what << ": holds every dot it drew";
      EXPECT_LE(d.box.w - want.w, 2 * r.slack) << r.what << ": " << str(d.box);
      EXPECT_LE(d.box.h - want.h, 2 * r.slack) << r.what << ": " << str(d.box);
    }
    EXPECT_TRUE(cmds.back().box.empty()) << "PRINT draws nothing";
  }
}

TEST(LabelHistory, TheStoryIsBoundedAndReadable) {
  HistoryRig rig;
  std::string many = "CLS\r\n";
  for (size_t i = 0; i < Printer::kMaxHistory + 9; ++i) many += "BAR 0,0,1,1\r\n";
  many += "TEXT 0,0,\"1\",0,1,1,\"" + std::string(400, 'x') + "\"\r\nOUT \"\x01\"x\r\nPRINT 1\r\n";
  rig.send("t", many);
  ASSERT_EQ(rig.labels.size(), 1u);
  const LabelRecord& l = rig.labels[0];
  ASSERT_EQ(l.commands.size(), Printer::kMaxHistory);
  EXPECT_EQ(l.commandsDropped, 13u) << "CLS and 12 bars: the oldest go";
  const std::string& text = l.commands[l.commands.size() - 3].text;
  EXPECT_EQ(text.size(), DrawnCommand::kMaxText + 3) << "cut, with an ellipsis";
  EXPECT_EQ(text.substr(text.size() - 3), "\u2026");
  // A failed query belongs to the story, its control byte written out.
  EXPECT_EQ(l.commands[l.commands.size() - 2].text, "OUT \"\\x01\"x");
  EXPECT_FALSE(l.commands[l.commands.size() - 2].error.empty());
}

}  // namespace
}  // namespace vprinter
