// Label files: numbering that continues, the bytes and log lines kept with each
// label, and the bounds on what one stream can make the printer do.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "printer.h"
#include "test_rig.h"

namespace vprinter {
namespace {

// A printer writing into `dir`, recording the labels it reports.
struct LabelRig : PrinterRig {
  explicit LabelRig(const TempDir& dir, PrinterOptions o = PrinterOptions())
      : PrinterRig((o.outDir = dir.path, o)) {
    printer.onLabel([this](const LabelRecord& l) { labels.push_back(l); });
  }
  std::vector<LabelRecord> labels;
};

const std::string kSmallLabel = "SIZE 10 mm,5 mm\r\nCLS\r\nBAR 1,1,20,20\r\nPRINT 1\r\n";

// Files with label names that this printer did not write (a user's, or a
// label changed since) are never removed to keep within --max-disk, nor
// counted; the start says what the folder held.
TEST(Labels, MaxDiskRemovesOnlyTheLabelsThisPrinterWrote) {
  TempDir dir;
  dir.put("label-000001.png", std::string(150000, 'u'));
  dir.put("label-1.prn", "a user's notes");
  dir.put("label-0000000002.png", std::string(60000, 'v'));
  dir.put("label-000003.png", std::string(500, 'w'));     // listed, but changed since
  dir.put("label-000004.png", std::string(3000, 'e'));    // an earlier run's label
  dir.put(Printer::kIndexName, "label-000003.png 400\nlabel-000004.png 3000\n");
  PrinterOptions o;
  o.maxDisk = 4000;
  LabelRig rig(dir, o);
  EXPECT_EQ(rig.printer.diskUsed(), 3000u);
  const std::string& said = rig.printer.outDirSummary();
  EXPECT_NE(said.find("1 label file(s) of earlier runs (3000 bytes"), std::string::npos) << said;
  EXPECT_NE(said.find("4 file(s) with label names"), std::string::npos) << said;
  for (int i = 0; i < 8; ++i) rig.send(kSmallLabel);
  ASSERT_EQ(rig.labels.size(), 8u);
  EXPECT_EQ(dir.read("label-000001.png"), std::string(150000, 'u'));
  EXPECT_EQ(dir.read("label-1.prn"), "a user's notes");
  EXPECT_EQ(dir.read("label-0000000002.png"), std::string(60000, 'v'));
  EXPECT_EQ(dir.read("label-000003.png"), std::string(500, 'w'));
  EXPECT_FALSE(dir.has("label-000004.png"));  // its own: the oldest goes first
  EXPECT_TRUE(dir.has("label-000012.png"));
  EXPECT_LE(rig.printer.diskUsed(), 4000u);

  // The next run knows the labels this one wrote, and still none of the user's.
  LabelRig again(dir, o);
  EXPECT_EQ(again.printer.diskUsed(), rig.printer.diskUsed());
  EXPECT_NE(again.printer.outDirSummary().find("4 file(s) with label names"), std::string::npos)
      << again.printer.outDirSummary();
}

TEST(Labels, NumberingContinuesAfterTheHighestLabelInTheFolder) {
  TempDir dir;
  dir.put("label-000041.png", "older run");
  dir.put("label-000007.prn", "older bytes");
  dir.put("label-0000x9.png", "not a label name");
  dir.put("notes-000099.png", "not a label");
  LabelRig rig(dir);
  EXPECT_EQ(rig.printer.nextLabelNumber(), 42u);
  rig.send(kSmallLabel + kSmallLabel);
  ASSERT_EQ(rig.labels.size(), 2u);
  EXPECT_EQ(rig.labels[0].number, 42u);
  EXPECT_EQ(rig.labels[1].number, 43u);
  EXPECT_TRUE(dir.has("label-000043.png"));
  EXPECT_EQ(dir.read("label-000041.png"), "older run");
  EXPECT_EQ(dir.read("label-000007.prn"), "older bytes");
  // A second printer on the same folder (a restart) goes on from there.
  LabelRig again(dir);
  again.send(kSmallLabel);
  ASSERT_EQ(again.labels.size(), 1u);
  EXPECT_EQ(again.labels[0].number, 44u);
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Without the line-end bytes at its end.
std::string unended(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == '\0')) s.pop_back();
  return s;
}

TEST(Labels, EachLabelKeepsExactlyTheBytesAndLinesThatMadeIt) {
  TempDir dir;
  LabelRig rig(dir);
  const std::string first = "SIZE 10 mm,5 mm\r\nCLS\r\nFROB 1,2\r\nPRINT 1\r\n";
  const std::string second = std::string("\x1b!?BITMAP 0,0,1,2,0,\x0f\xf0\r\nPRINT 2,3\r\n\0", 35);
  const std::string tail = "CLS\r\n";  // after the last PRINT: belongs to no label
  for (size_t piece : {size_t(0), size_t(1), size_t(7)}) {
    rig.labels.clear();
    rig.send(first + second + tail, piece);
    ASSERT_EQ(rig.labels.size(), 3u) << "pieces of " << piece;
    std::string got = fileBytes(rig.labels[0].raw);
    // Whole, when the line end arrived with the PRINT; never a byte of another label.
    if (piece == 0) {
      EXPECT_EQ(got, first);
    }
    EXPECT_EQ(unended(got), unended(first)) << "pieces of " << piece;
    EXPECT_EQ(rig.labels[0].errors, 1u);
    ASSERT_EQ(rig.labels[0].logLines.size(), 4u);
    EXPECT_NE(rig.labels[0].logLines[2].find("\"error\":\"unknown command\""), std::string::npos);
    EXPECT_NE(rig.labels[0].logLines[3].find("\"command\":\"PRINT\""), std::string::npos);
    // PRINT 2,3 makes two label files; the first carries the PRINT's bytes.
    got = fileBytes(rig.labels[1].raw);
    if (piece == 0) {
      EXPECT_EQ(got, second);
    }
    EXPECT_EQ(unended(got), unended(second)) << "pieces of " << piece;
    EXPECT_EQ(rig.labels[1].errors, 0u) << "errors are counted per label";
    EXPECT_EQ(rig.labels[1].copies, 3);
    EXPECT_EQ(rig.labels[1].widthDots, 80);
    EXPECT_EQ(rig.labels[1].heightDots, 40);
  }
}

TEST(Labels, OnePrintDrawsAtMostMaxSetsAndCountsTheRest) {
  TempDir dir;
  PrinterOptions o;
  o.maxSetsPerPrint = 3;
  LabelRig rig(dir, o);
  rig.send("SIZE 10 mm,5 mm\r\nPRINT 100,2\r\n");
  EXPECT_EQ(rig.labels.size(), 3u);
  EXPECT_EQ(dir.labels().size(), 4u);  // three PNGs and the received bytes
  EXPECT_EQ(rig.printer.labelsPrinted(), 200u);
  EXPECT_TRUE(rig.logHas("only the first 3 of 100 label sets written"));
  EXPECT_EQ(PrinterOptions().maxSetsPerPrint, 10);
}

TEST(Labels, ASizeBeyondTheLargestLabelIsRefusedAndTheBufferKept) {
  TempDir dir;
  LabelRig rig(dir);  // 203 dpi: 8 dots a millimetre, 216 mm x 1000 mm at most
  rig.send("SIZE 50 mm,30 mm\r\n");
  uint64_t before = rig.printer.errors();
  rig.send("SIZE 216 mm,1000 mm\r\n");
  EXPECT_EQ(rig.printer.errors(), before);
  EXPECT_EQ(rig.printer.canvas().width(), 1728);
  for (const char* size : {"SIZE 1000 mm,217 mm\r\n", "SIZE 2000 mm,2000 mm\r\n", "SIZE 16000 dot,16000 dot\r\n"}) {
    rig.send("SIZE 50 mm,30 mm\r\n");
    rig.send(size);
    EXPECT_EQ(rig.printer.errors(), ++before) << size;
    EXPECT_EQ(rig.printer.canvas().width(), 400) << size;
    EXPECT_EQ(rig.printer.canvas().height(), 240) << size;
  }
  PrinterOptions small;
  small.maxLabelDots = 400 * 240;
  LabelRig bounded(dir, small);
  bounded.send("SIZE 50 mm,30 mm\r\nSIZE 50 mm,31 mm\r\n");
  EXPECT_EQ(bounded.printer.errors(), 1u);
  EXPECT_TRUE(bounded.logHas("--max-label-dots"));
}

uint64_t folderBytes(const TempDir& dir) {
  uint64_t total = 0;
  for (const std::string& n : dir.labels()) {
    struct stat st{};
    if (stat((dir.path + "/" + n).c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
  }
  return total;
}

TEST(Labels, TheOldestLabelsGoToKeepTheFolderWithinMaxDisk) {
  TempDir dir;
  dir.put("label-000001.png", std::string(3000, 'x'));  // from an earlier run,
  dir.put(Printer::kIndexName, "label-000001.png 3000\n");  // as its index says
  PrinterOptions o;
  o.maxDisk = 4000;
  LabelRig rig(dir, o);
  for (int i = 0; i < 8; ++i) rig.send(kSmallLabel);
  ASSERT_EQ(rig.labels.size(), 8u);
  EXPECT_LE(folderBytes(dir), 4000u);
  EXPECT_EQ(rig.printer.diskUsed(), folderBytes(dir));
  EXPECT_FALSE(dir.has("label-000001.png"));
  EXPECT_TRUE(dir.has("label-000009.png"));  // the newest stays
  EXPECT_TRUE(rig.logHas("removed to keep the labels within --max-disk"));

  // A label that alone is more than the bound is not kept, and says so.
  TempDir tiny;
  PrinterOptions t;
  t.maxDisk = 10;
  LabelRig alone(tiny, t);
  alone.send(kSmallLabel);
  EXPECT_TRUE(alone.labels.empty());
  EXPECT_TRUE(tiny.labels().empty());
  EXPECT_TRUE(alone.logHas("alone is more than --max-disk"));
  EXPECT_EQ(alone.printer.errors(), 1u);
}

TEST(Labels, ReceivedBytesBeyondTheBoundAreCountedNotKept) {
  Job job;
  std::string big(Job::kMaxRaw + 10, 'a');
  job.add(reinterpret_cast<const uint8_t*>(big.data()), big.size());
  std::string next = "NEXT";
  job.add(reinterpret_cast<const uint8_t*>(next.data()), next.size());
  bool cut = false;
  std::string first = job.takeRaw(big.size(), cut);
  EXPECT_EQ(first.size(), Job::kMaxRaw);
  EXPECT_TRUE(cut);
  // "NEXT" arrived while the bound was reached: the next label lacks it and says so.
  std::string more = "MORE";
  job.add(reinterpret_cast<const uint8_t*>(more.data()), more.size());
  std::string second = job.takeRaw(big.size() + 8, cut);
  EXPECT_EQ(second, "MORE");
  EXPECT_TRUE(cut);
  std::string last = "LAST";
  job.add(reinterpret_cast<const uint8_t*>(last.data()), last.size());
  EXPECT_EQ(job.takeRaw(big.size() + 12, cut), "LAST");
  EXPECT_FALSE(cut);
}

}  // namespace
}  // namespace vprinter
