// The command stream parser: the SDK's exact bytes, chunk boundaries anywhere,
// malformed streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_parser.h"

namespace vprinter {
namespace {

using Bytes = std::string;

std::vector<Command> parse(const Bytes& in, size_t chunk = 0, ParserLimits limits = {}) {
  std::vector<Command> out;
  StreamParser p([&](Command&& c) { out.push_back(std::move(c)); }, limits);
  const uint8_t* d = reinterpret_cast<const uint8_t*>(in.data());
  if (chunk == 0) {
    p.feed(d, in.size());
  } else {
    for (size_t i = 0; i < in.size(); i += chunk) p.feed(d + i, std::min(chunk, in.size() - i));
  }
  p.finish();
  return out;
}

std::vector<std::string> raws(const Command& c) {
  std::vector<std::string> r;
  for (const Field& f : c.fields) r.push_back(f.raw);
  return r;
}

struct Row {
  const char* what;
  Bytes wire;
  std::vector<std::string> names;
  std::vector<std::string> firstFields;  // of the first command
};

TEST(StreamParser, CommandsAsTheSdkSendsThem) {
  const std::vector<Row> rows = {
      {"setup line", Bytes("SIZE 100 mm,150 mm\r\n"), {"SIZE"}, {"100 mm", "150 mm"}},
      {"quoted content keeps its comma and quotes",
       Bytes("TEXT 10,20,\"3\",0,1,1,\"A,B\"\r\n"), {"TEXT"},
       {"10", "20", "\"3\"", "0", "1", "1", "\"A,B\""}},
      {"variable content bare", Bytes("TEXT 10,20,\"3\",0,1,1,@1\r\n"), {"TEXT"},
       {"10", "20", "\"3\"", "0", "1", "1", "@1"}},
      {"network line end CR LF NUL", Bytes("CLS\r\n\0PRINT 1,1\r\n\0", 17), {"CLS", "PRINT"}, {}},
      {"restart bytes and their line end", Bytes("\x1b!R\r\0\r\n\0", 8), {"ESC !R"}, {}},
      {"network status request block", Bytes("\x1b!?\r\n", 5) + Bytes(195, '\0'), {"ESC !?"}, {}},
      {"serial name query", Bytes("~!T\n OUT \"\x02\"\n"), {"~!T", "OUT"}, {}},
      {"USB name query", Bytes("~!T\n\rOUT \"\x02\"\n\r"), {"~!T", "OUT"}, {}},
      {"USB status without line end", Bytes("\x1b!?"), {"ESC !?"}, {}},
      {"RFID with its doubled line end", Bytes("RFIDDETECT\r\n\r\n"), {"RFIDDETECT"}, {}},
      {"RFID read", Bytes("RFID READ,,,,,,\"\"\r\n\r\n"), {"RFID"},
       {"READ", "", "", "", "", "", "\"\""}},
      {"blanks after commas", Bytes("WLAN IP \"1.2.3.4\", \"255.0.0.0\", \"1.2.3.1\"\r\n"),
       {"WLAN"}, {"IP \"1.2.3.4\"", "\"255.0.0.0\"", "\"1.2.3.1\""}},
      {"line end with a blank before it", Bytes("SIZE 4,6 \r\n\r\n"), {"SIZE"}, {"4", "6"}},
      {"setting request block",
       Bytes("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT CHR$(02)\r\n") +
           Bytes(900, '\0'),
       {"OUT", "OUT"}, {}},
  };
  for (const Row& r : rows) {
    std::vector<Command> got = parse(r.wire);
    ASSERT_EQ(got.size(), r.names.size()) << r.what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, r.names[i]) << r.what;
      EXPECT_EQ(got[i].error, "") << r.what;
    }
    if (!r.firstFields.empty()) {
      EXPECT_EQ(raws(got[0]), r.firstFields) << r.what;
    }
  }
}

TEST(StreamParser, QuotedFieldsKnowTheirQuotes) {
  std::vector<Command> got = parse("BARCODE 1,2,\"128\",50,1,0,2,4,\"a\"b\"\r\n");
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].fields.size(), 9u);
  EXPECT_TRUE(got[0].fields[2].quoted);
  EXPECT_EQ(got[0].fields[2].text, "128");
  EXPECT_FALSE(got[0].fields[3].quoted);
  // An embedded quote travels unescaped: the field is still quoted at both ends.
  EXPECT_EQ(got[0].fields[8].text, "a\"b");
  EXPECT_EQ(got[0].error, "unbalanced double quote");
}

Bytes mixedStream() {
  Bytes payload("\r\n\0,\"x\x1b!?", 10);
  Bytes rows("\x0d\x0a\x2c\x22\xff\x00", 6);  // 2 bytes x 3 rows
  return Bytes("SIZE 50 mm,30 mm\r\n") + "DOWNLOAD \"A.BMP\",10," + payload + Bytes("\r\n\0", 3) +
         "DOWNLOAD F,\"B,1.PCX\",3,abc\r\n" + "BITMAP 8,9,2,3,1," + rows + "\r\n" +
         Bytes("\x1b!?", 3) + "PRINT 1,1\r\n";
}

void expectMixed(const std::vector<Command>& got, const std::string& how) {
  ASSERT_EQ(got.size(), 6u) << how;
  EXPECT_EQ(got[1].name, "DOWNLOAD") << how;
  EXPECT_EQ(got[1].payload, Bytes("\r\n\0,\"x\x1b!?", 10)) << how;
  EXPECT_EQ(got[1].fields[0].text, "A.BMP") << how;
  EXPECT_EQ(got[2].payload, "abc") << how;
  EXPECT_EQ(got[2].fields[1].text, "B,1.PCX") << how;
  EXPECT_EQ(got[3].name, "BITMAP") << how;
  EXPECT_EQ(got[3].payload, Bytes("\x0d\x0a\x2c\x22\xff\x00", 6)) << how;
  EXPECT_EQ(got[4].name, "ESC !?") << how;
  EXPECT_EQ(got[5].name, "PRINT") << how;
  for (const Command& c : got) EXPECT_EQ(c.error, "") << how << " " << c.name;
}

TEST(StreamParser, PayloadsSurviveAnyChunkBoundary) {
  Bytes s = mixedStream();
  expectMixed(parse(s), "whole");
  for (size_t chunk = 1; chunk <= 13; ++chunk) expectMixed(parse(s, chunk), std::to_string(chunk));
  // Every single split point.
  for (size_t cut = 1; cut < s.size(); ++cut) {
    std::vector<Command> out;
    StreamParser p([&](Command&& c) { out.push_back(std::move(c)); });
    p.feed(reinterpret_cast<const uint8_t*>(s.data()), cut);
    p.feed(reinterpret_cast<const uint8_t*>(s.data()) + cut, s.size() - cut);
    p.finish();
    expectMixed(out, "cut at " + std::to_string(cut));
  }
}

TEST(StreamParser, OffsetsCountEveryByte) {
  std::vector<Command> got = parse(mixedStream());
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].offset, 0u);
  EXPECT_EQ(got[1].offset, 18u);
  EXPECT_EQ(got[2].offset, 18u + 20 + 10 + 3);
}

TEST(StreamParser, MalformedStreamsAreReportedAndTheStreamStaysInStep) {
  struct Bad {
    const char* what;
    Bytes wire;
    std::string errorPart;
  };
  ParserLimits small;
  small.maxLine = 64;
  small.maxBitmap = 100;
  small.maxDownload = 100;
  const std::vector<Bad> bad = {
      {"BITMAP rows cut short", Bytes("BITMAP 0,0,10,10,0,") + Bytes(40, 'x'), "truncated: 40 of 100"},
      {"DOWNLOAD cut short", Bytes("DOWNLOAD \"X\",50,abc"), "truncated: 3 of 50"},
      {"line without end", Bytes("PRINT 1,1"), "no line end"},
      {"ESC at the very end", Bytes("\x1b!"), "ESC"},
      {"overlong line", Bytes(200, 'A') + "\r\n", "line longer than 64"},
      {"BITMAP larger than the limit", Bytes("BITMAP 0,0,100,100,0,") + Bytes(10, '\0'), "exceeds the limit"},
      {"BITMAP header not numeric", Bytes("BITMAP a,b,c,d,e,\r\n"), "whole numbers"},
      {"DOWNLOAD negative size", Bytes("DOWNLOAD \"X\",-5,\r\n"), "negative"},
  };
  for (const Bad& b : bad) {
    // Then a good command must still come through.
    Bytes s = b.wire;
    std::vector<Command> got = parse(s, 0, small);
    ASSERT_FALSE(got.empty()) << b.what;
    bool found = false;
    for (const Command& c : got) found |= c.error.find(b.errorPart) != std::string::npos;
    EXPECT_TRUE(found) << b.what << ": " << got[0].error;
  }
  // After an overlong line and an oversized payload, the stream goes on.
  Bytes s = Bytes(200, 'A') + "\r\nCLS\r\n" + "BITMAP 0,0,100,100,0," + Bytes(10000, '\n') + "PRINT 1,1\r\n";
  std::vector<Command> got = parse(s, 7, small);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].name, "CLS");
  EXPECT_EQ(got[1].error, "");
  EXPECT_EQ(got[3].name, "PRINT");
  EXPECT_EQ(got[3].error, "");
}

// A payload header is looked for only while the comma count can make one: a
// long BITMAP or DOWNLOAD line of commas is parsed in one pass (it was split
// again at every comma, which took hours for a line of 64 KiB).
TEST(StreamParser, PayloadCommandsAreRecognisedByName) {
  for (const char* name : {"BITMAP ", "DOWNLOAD ", "DOWNLOAD F,"}) {
    std::vector<Command> got = parse(name + Bytes(1 << 16, ',') + "\r\nCLS\r\n");
    ASSERT_EQ(got.size(), 2u) << name;
    EXPECT_FALSE(got[0].hasPayload) << name;
    EXPECT_EQ(got[1].name, "CLS") << name;
  }
  // The printer reads names in any case, so the parser takes their payloads alike.
  std::vector<Command> got = parse(Bytes("bitmap\t1,2,1,2,0,\r\n\r\nDownload \"a\",2,\r\n\r\n"));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].payload, "\r\n");
  EXPECT_EQ(got[1].payload, "\r\n");
}

TEST(StreamParser, AHundredMegabyteLineIsSkippedWithoutKeepingIt) {
  std::vector<Command> out;
  StreamParser p([&](Command&& c) { out.push_back(std::move(c)); });
  std::string chunk(1 << 20, 'Z');
  for (int i = 0; i < 100; ++i) p.feed(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
  const char tail[] = "\r\nCLS\r\n";
  p.feed(reinterpret_cast<const uint8_t*>(tail), sizeof tail - 1);
  p.finish();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_NE(out[0].error.find("line longer"), std::string::npos);
  EXPECT_EQ(out[1].name, "CLS");
  EXPECT_EQ(out[1].offset, 100u * (1 << 20) + 2);
}

}  // namespace
}  // namespace vprinter
