// setup, clearbuffer, formfeed, nobackfeed, printlabel(W), restart.
#include <string>
#include <vector>

#include "command_fixture.h"
#include "connection/connection_state.h"
#include "support/wide_text.h"

namespace paloma::test {
namespace {

using PageJob = CommandTest;

struct SetupRow {
  std::vector<std::string> args;  // the seven arguments of setup
  std::string wire;
};

TEST_F(PageJob, SetupSendsFourLinesAndPicksTheSensorByTheFirstCharacter) {
  const SetupRow rows[] = {
      {{"100", "50", "4", "8", "0", "2", "0"},
       crlfLines({"SIZE 100 mm,50 mm", "SPEED 4", "DENSITY 8", "GAP 2 mm,0 mm"})},
      {{"100", "50", "4", "8", "1", "3", "1"},
       crlfLines({"SIZE 100 mm,50 mm", "SPEED 4", "DENSITY 8", "BLINE 3 mm,1 mm"})},
      {{"4", "3", "2", "1", "10", "2", "0"},
       crlfLines({"SIZE 4 mm,3 mm", "SPEED 2", "DENSITY 1", "BLINE 2 mm,0 mm"})},
      {{"4", "3", "2", "1", "2", "2", "0"},
       crlfLines({"SIZE 4 mm,3 mm", "SPEED 2", "DENSITY 1", "GAP 2 mm,0 mm"})},
      {{"4", "3", "2", "1", " 1", "2", "0"},
       crlfLines({"SIZE 4 mm,3 mm", "SPEED 2", "DENSITY 1", "GAP 2 mm,0 mm"})},
      {{"4", "3", "2", "1", "", "2", "0"},
       crlfLines({"SIZE 4 mm,3 mm", "SPEED 2", "DENSITY 1", "GAP 2 mm,0 mm"})},
      {{"", "", "", "", "", "", ""},
       crlfLines({"SIZE  mm, mm", "SPEED ", "DENSITY ", "GAP  mm, mm"})},
      {{"1\"0", "5 0", "@", "x,y", "0", "2.5", "-1"},
       crlfLines({"SIZE 1\"0 mm,5 0 mm", "SPEED @", "DENSITY x,y", "GAP 2.5 mm,-1 mm"})},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args[4]);
    f().clearJournal();
    auto a = cstrs(r.args);
    EXPECT_EQ(setup(a[0], a[1], a[2], a[3], a[4], a[5], a[6]), 1);
    EXPECT_EQ(wire(), r.wire);
    EXPECT_EQ(f().writes("spooler:P").size(), 8u);  // each line, then its CR LF
  }
}

TEST_F(PageJob, SetupRefusesWholeWhenAnyLineDoesNotFit) {
  // "SIZE %s mm,0 mm" has 13 fixed characters: 86 more make 99, which fits.
  std::string fits(86, 'w'), tooLong(87, 'w');
  EXPECT_EQ(setup(fits.c_str(), "0", "4", "8", "0", "2", "0"), 1);
  EXPECT_EQ(wire().substr(0, 101), "SIZE " + fits + " mm,0 mm\r\n");
  f().clearJournal();
  EXPECT_EQ(setup(tooLong.c_str(), "0", "4", "8", "0", "2", "0"), 0);
  // The last line too long: not even the first three go out.
  std::string offset(200, '9');
  EXPECT_EQ(setup("100", "50", "4", "8", "0", "2", offset.c_str()), 0);
  EXPECT_EQ(setup("100", "50", "4", "8", nullptr, "2", "0"), 0);
  EXPECT_EQ(setup("100", "50", "4", "8", "1", "2", nullptr), 0);
  EXPECT_EQ(wire(), "");
}

TEST_F(PageJob, FixedCommandsAndPrint) {
  EXPECT_EQ(clearbuffer(), 1);
  EXPECT_EQ(formfeed(), 1);
  EXPECT_EQ(nobackfeed(), 1);
  EXPECT_EQ(printlabel("1", "3"), 1);
  EXPECT_EQ(printlabel("", ""), 1);
  EXPECT_EQ(wire(), crlfLines({"CLS", "FORMFEED", "SET STRIPER OFF", "SET TEAR OFF", "PRINT 1,3",
                               "PRINT ,"}));
}

TEST_F(PageJob, PrintLabelHasRoomForFortyNineCharacters) {
  std::string sets41(41, '1'), sets42(42, '1');  // "PRINT " "," "1": 8 more
  EXPECT_EQ(printlabel(sets41.c_str(), "1"), 1);
  EXPECT_EQ(wire(), "PRINT " + sets41 + ",1\r\n");
  f().clearJournal();
  EXPECT_EQ(printlabel(sets42.c_str(), "1"), 0);
  EXPECT_EQ(printlabel(nullptr, "1"), 0);
  EXPECT_EQ(wire(), "");
}

TEST_F(PageJob, PrintLabelWideMatchesItsEightBitTwin) {
  EXPECT_EQ(printlabelW(u"2"_w, u"1"_w), 1);
  EXPECT_EQ(printlabelW(u"\u00e9\u00ff"_w, u"\u0080"_w), 1);
  EXPECT_EQ(wire(), crlfLines({"PRINT 2,1", "PRINT \xe9\xff,\x80"}));
  f().clearJournal();
  EXPECT_EQ(printlabelW(u"\u0100"_w, u"1"_w), 0);   // no byte for U+0100
  EXPECT_EQ(printlabelW(u"1"_w, u"\u20ac"_w), 0);
  EXPECT_EQ(printlabelW(nullptr, u"1"_w), 0);
  WideText longArg(256, u'1');                // 256 bytes do not fit 256 with the NUL
  EXPECT_EQ(printlabelW(longArg.c_str(), u"1"_w), 0);
  EXPECT_EQ(wire(), "");
}

TEST_F(PageJob, RestartSendsFiveBytesThenTheLineEnd) {
  EXPECT_EQ(restart(), 1);
  EXPECT_EQ(wire(), std::string("\x1b!R\r\0\r\n", 7));
}

TEST_F(PageJob, RestartReportsFailureWhenOnlyAStaleFlagIsLeft) {
  // A transport flag without an open connection passes the guard, but
  // nothing can be written, so the result says so.
  connection().isOpen = 0;
  EXPECT_EQ(restart(), 0);
  connection().spoolerMode = 0;
  EXPECT_EQ(restart(), 0);
  EXPECT_EQ(wire(), "");
}

// The command bodies the transport refused, in order (line ends left out).
std::vector<std::string> refusedLines(const FakeOs& fake) {
  std::vector<std::string> out;
  for (const auto& e : fake.entries("write-failed"))
    if (e.data != "\r\n") out.push_back(e.data);
  return out;
}

TEST_F(PageJob, ResultsReportRefusedWrites) {
  f().failWritesAfter("spooler:P", 2);  // setup's first line and its CR LF go out
  EXPECT_EQ(setup("100", "50", "4", "8", "0", "2", "0"), 0);
  // A refused line does not stop the page setup: the other three are tried.
  EXPECT_EQ(refusedLines(f()),
            (std::vector<std::string>{"SPEED 4", "DENSITY 8", "GAP 2 mm,0 mm"}));
  EXPECT_EQ(clearbuffer(), 0);
  EXPECT_EQ(printlabel("1", "1"), 0);
  EXPECT_EQ(restart(), 0);
}

TEST_F(PageJob, NothingIsSentWithoutAConnection) {
  closeConnection();
  EXPECT_EQ(setup("100", "50", "4", "8", "0", "2", "0"), 0);
  EXPECT_EQ(clearbuffer(), 0);
  EXPECT_EQ(formfeed(), 0);
  EXPECT_EQ(nobackfeed(), 0);
  EXPECT_EQ(printlabel("1", "1"), 0);
  EXPECT_EQ(printlabelW(u"1"_w, u"1"_w), 0);
  EXPECT_EQ(restart(), 0);
  EXPECT_TRUE(f().writes().empty());
}

}  // namespace
}  // namespace paloma::test
