// printerfont(W), barcode(W), barcodecomplete, rss.
#include <string>
#include <vector>

#include "command_fixture.h"
#include "support/wide_text.h"

namespace paloma::test {
namespace {

using TextBarcode = CommandTest;

struct Row {
  std::vector<std::string> args;
  std::string line;  // without its CR LF
};

TEST_F(TextBarcode, PrinterFontQuotesFieldThreeAndTheContentUnlessItIsAVariable) {
  const Row rows[] = {
      {{"10", "20", "3", "0", "1", "1", "@1"}, "TEXT 10,20,\"3\",0,1,1,@1"},
      {{"10", "20", "3", "0", "1", "1", "A@1"}, "TEXT 10,20,\"3\",0,1,1,\"A@1\""},
      {{"10", "20", "3", "0", "1", "1", ""}, "TEXT 10,20,\"3\",0,1,1,\"\""},
      {{"10", "20", "@F", "0", "1", "1", "x"}, "TEXT 10,20,\"@F\",0,1,1,\"x\""},
      {{"", "", "", "", "", "", ""}, "TEXT ,,\"\",,,,\"\""},
      {{"1", "2", "3", "0", "1", "1", "say \"hi\""}, "TEXT 1,2,\"3\",0,1,1,\"say \"hi\"\""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    f().clearJournal();
    auto a = cstrs(r.args);
    EXPECT_EQ(printerfont(a[0], a[1], a[2], a[3], a[4], a[5], a[6]), 1);
    EXPECT_EQ(wire(), r.line + "\r\n");
  }
}

TEST_F(TextBarcode, BarcodeAndBarcodeComplete) {
  const Row rows[] = {
      {{"10", "10", "128", "50", "1", "0", "2", "2", "12345"},
       "BARCODE 10,10,\"128\",50,1,0,2,2,\"12345\""},
      {{"10", "10", "128", "50", "1", "0", "2", "2", "@2"}, "BARCODE 10,10,\"128\",50,1,0,2,2,@2"},
      {{"10", "10", "@39", "50", "1", "0", "2", "2", "X"}, "BARCODE 10,10,\"@39\",50,1,0,2,2,\"X\""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    f().clearJournal();
    auto a = cstrs(r.args);
    EXPECT_EQ(barcode(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]), 1);
    EXPECT_EQ(wire(), r.line + "\r\n");
  }
  const Row complete[] = {
      {{"10", "10", "128", "50", "1", "0", "2", "2", "B", "12345"},
       "BARCODE 10,10,\"128\",50,1,0,2,2,B,\"12345\""},
      {{"10", "10", "128", "50", "1", "0", "2", "2", "", "@3"},
       "BARCODE 10,10,\"128\",50,1,0,2,2,,@3"},
  };
  for (const auto& r : complete) {
    SCOPED_TRACE(r.line);
    f().clearJournal();
    auto a = cstrs(r.args);
    EXPECT_EQ(barcodecomplete(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]), 1);
    EXPECT_EQ(wire(), r.line + "\r\n");
  }
}

TEST_F(TextBarcode, RssWritesFieldSevenOnlyWhenGiven) {
  const Row rows[] = {
      {{"10", "20", "RSSEXP", "0", "2", "1", "4", "12345"},
       "RSS 10,20,\"RSSEXP\",0,2,1,4,\"12345\""},
      {{"10", "20", "RSSEXP", "0", "2", "1", "", "12345"}, "RSS 10,20,\"RSSEXP\",0,2,1,\"12345\""},
      // Eight fields: the type name does not matter.
      {{"10", "20", "UCC128CCA", "0", "2", "1", "4", "@1"}, "RSS 10,20,\"UCC128CCA\",0,2,1,4,@1"},
      // Seven fields with a variable: bare up to "RSSEXP", quoted after it.
      {{"10", "20", "RSSEXP", "0", "2", "1", "", "@1"}, "RSS 10,20,\"RSSEXP\",0,2,1,@1"},
      {{"10", "20", "RSS14", "0", "2", "1", "", "@1"}, "RSS 10,20,\"RSS14\",0,2,1,@1"},
      {{"10", "20", "RSSLIM", "0", "2", "1", "", "@1"}, "RSS 10,20,\"RSSLIM\",0,2,1,\"@1\""},
      {{"10", "20", "RSSEXPA", "0", "2", "1", "", "@1"}, "RSS 10,20,\"RSSEXPA\",0,2,1,\"@1\""},
      {{"10", "20", "UCC128CCA", "0", "2", "1", "", "@1"},
       "RSS 10,20,\"UCC128CCA\",0,2,1,\"@1\""},
      {{"10", "20", "rss14", "0", "2", "1", "", "@1"}, "RSS 10,20,\"rss14\",0,2,1,\"@1\""},
      {{"10", "20", "\xe9", "0", "2", "1", "", "@1"}, "RSS 10,20,\"\xe9\",0,2,1,\"@1\""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    f().clearJournal();
    auto a = cstrs(r.args);
    EXPECT_EQ(rss(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]), 1);
    EXPECT_EQ(wire(), r.line + "\r\n");
  }
}

TEST_F(TextBarcode, WideTwinsSendTheSameBytesForLatin1) {
  EXPECT_EQ(printerfont("10", "20", "3", "0", "1", "1", "Gr\xfc\xdf \xe9t\xe9"), 1);
  EXPECT_EQ(printerfont("10", "20", "3", "0", "1", "1", "@1"), 1);
  EXPECT_EQ(barcode("1", "2", "128", "50", "1", "0", "2", "2", "\xa9\xff"), 1);
  EXPECT_EQ(barcode("1", "2", "128", "50", "1", "0", "2", "2", "@9"), 1);
  std::string eightBit = wire();
  f().clearJournal();
  EXPECT_EQ(printerfontW(u"10"_w, u"20"_w, u"3"_w, u"0"_w, u"1"_w, u"1"_w,
                         u"Gr\u00fc\u00df \u00e9t\u00e9"_w), 1);
  EXPECT_EQ(printerfontW(u"10"_w, u"20"_w, u"3"_w, u"0"_w, u"1"_w, u"1"_w, u"@1"_w), 1);
  EXPECT_EQ(barcodeW(u"1"_w, u"2"_w, u"128"_w, u"50"_w, u"1"_w, u"0"_w, u"2"_w, u"2"_w,
                     u"\u00a9\u00ff"_w), 1);
  EXPECT_EQ(barcodeW(u"1"_w, u"2"_w, u"128"_w, u"50"_w, u"1"_w, u"0"_w, u"2"_w, u"2"_w,
                     u"@9"_w), 1);
  EXPECT_EQ(wire(), eightBit);
}

TEST_F(TextBarcode, WideArgumentsOutsideLatin1OrTooLongAreRefused) {
  WideText arg255(255, u'7'), arg256(256, u'7');
  EXPECT_EQ(printerfontW(u"1"_w, u"1"_w, u"3"_w, u"0"_w, u"1"_w, u"1"_w, arg255.c_str()), 1);
  f().clearJournal();
  EXPECT_EQ(printerfontW(u"1"_w, u"1"_w, u"3"_w, u"0"_w, u"1"_w, u"1"_w, arg256.c_str()), 0);
  EXPECT_EQ(printerfontW(u"1"_w, u"1"_w, u"3"_w, u"0"_w, u"1"_w, u"1"_w, u"\u0141odz"_w), 0);
  EXPECT_EQ(printerfontW(u"1"_w, nullptr, u"3"_w, u"0"_w, u"1"_w, u"1"_w, u"x"_w), 0);
  EXPECT_EQ(barcodeW(u"1"_w, u"2"_w, u"\u0100"_w, u"50"_w, u"1"_w, u"0"_w, u"2"_w, u"2"_w,
                     u"x"_w), 0);
  EXPECT_EQ(wire(), "");
}

TEST_F(TextBarcode, CapacitiesAndNullArguments) {
  // "RSS %s,%s,\"%s\",%s,%s,%s,\"%s\"" with one-character fields: 20
  // characters besides the content, so 79 more fill 99.
  std::string c79(79, 'c'), c80(80, 'c');
  EXPECT_EQ(rss("1", "2", "3", "4", "5", "6", "", c79.c_str()), 1);
  EXPECT_EQ(wire().size(), 99u + 2u);
  f().clearJournal();
  EXPECT_EQ(rss("1", "2", "3", "4", "5", "6", "", c80.c_str()), 0);
  // "BARCODE ..." with one-character fields: 28 besides the content.
  std::string b995(995, 'b'), b996(996, 'b');
  EXPECT_EQ(barcode("1", "2", "3", "4", "5", "6", "7", "8", b996.c_str()), 0);
  EXPECT_EQ(barcodecomplete("1", "2", "3", "4", "5", "6", "7", "8", "", b995.c_str()), 0);
  std::string t478(478, 't');  // "TEXT 1,2,\"3\",4,5,6,\"\"": 21 besides the content
  EXPECT_EQ(printerfont("1", "2", "3", "4", "5", "6", t478.c_str()), 1);
  EXPECT_EQ(wire(), "TEXT 1,2,\"3\",4,5,6,\"" + t478 + "\"\r\n");
  f().clearJournal();
  std::string t479(479, 't');
  EXPECT_EQ(printerfont("1", "2", "3", "4", "5", "6", t479.c_str()), 0);
  EXPECT_EQ(printerfont("1", "2", "3", "4", "5", "6", nullptr), 0);
  EXPECT_EQ(barcode("1", "2", nullptr, "4", "5", "6", "7", "8", "9"), 0);
  EXPECT_EQ(barcodecomplete("1", "2", "3", "4", "5", "6", "7", "8", nullptr, "9"), 0);
  EXPECT_EQ(rss("1", "2", "3", "4", "5", "6", nullptr, "x"), 0);
  EXPECT_EQ(rss("1", "2", nullptr, "4", "5", "6", "", "@x"), 0);
  EXPECT_EQ(wire(), "");
  EXPECT_EQ(barcode("1", "2", "3", "4", "5", "6", "7", "8", b995.c_str()), 1);
  EXPECT_EQ(wire().size(), 1023u + 2u);
}

TEST_F(TextBarcode, NothingIsSentWithoutAConnection) {
  closeConnection();
  EXPECT_EQ(printerfont("1", "2", "3", "0", "1", "1", "x"), 0);
  EXPECT_EQ(printerfontW(u"1"_w, u"2"_w, u"3"_w, u"0"_w, u"1"_w, u"1"_w, u"x"_w), 0);
  EXPECT_EQ(barcode("1", "2", "128", "50", "1", "0", "2", "2", "x"), 0);
  EXPECT_EQ(barcodeW(u"1"_w, u"2"_w, u"128"_w, u"50"_w, u"1"_w, u"0"_w, u"2"_w, u"2"_w, u"x"_w), 0);
  EXPECT_EQ(barcodecomplete("1", "2", "128", "50", "1", "0", "2", "2", "", "x"), 0);
  EXPECT_EQ(rss("1", "2", "RSS14", "0", "2", "1", "", "x"), 0);
  EXPECT_TRUE(f().writes().empty());
}

}  // namespace
}  // namespace paloma::test
