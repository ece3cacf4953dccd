// The virtual printer at the ends of its ranges: fields that are empty or
// quoted and empty, lines and payloads at their bounds and one past, and
// every command-line bound at both ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"
#include "stream_parser.h"

namespace vprinter {
namespace {

std::vector<Command> parse(const std::string& in, ParserLimits limits = {}, size_t piece = 0) {
  std::vector<Command> out;
  StreamParser p([&](Command&& c) { out.push_back(std::move(c)); }, limits);
  if (piece == 0) piece = std::max<size_t>(in.size(), 1);
  for (size_t at = 0; at < in.size(); at += piece)
    p.feed(reinterpret_cast<const uint8_t*>(in.data()) + at, std::min(piece, in.size() - at));
  p.finish();
  return out;
}

TEST(StreamParser, EmptyAndQuotedEmptyFields) {
  struct Row {
    const char* wire;
    std::vector<std::string> texts;
    std::vector<bool> quoted;
  };
  const Row rows[] = {
      {"TEXT 1,2,\"\",0,1,1,\"\"\r\n", {"1", "2", "", "0", "1", "1", ""},
       {false, false, true, false, false, false, true}},
      {"RFID READ,,,\r\n", {"READ", "", "", ""}, {false, false, false, false}},
      {"PUT \"\",\"a\"\r\n", {"", "a"}, {true, true}},
      {"X \"\" , \" \"\r\n", {"", " "}, {true, true}},
      // A lone quote is no quoted field (and leaves the quote open).
      {"X a,\"\r\n", {"a", "\""}, {false, false}},
  };
  for (const Row& r : rows) {
    std::vector<Command> got = parse(r.wire);
    ASSERT_EQ(got.size(), 1u) << r.wire;
    ASSERT_EQ(got[0].fields.size(), r.texts.size()) << r.wire;
    for (size_t i = 0; i < r.texts.size(); ++i) {
      EXPECT_EQ(got[0].fields[i].text, r.texts[i]) << r.wire << " field " << i;
      EXPECT_EQ(got[0].fields[i].quoted, r.quoted[i]) << r.wire << " field " << i;
    }
  }
  // A command without arguments has no fields, not one empty field.
  std::vector<Command> got = parse("CLS\r\nCLS   \r\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].fields.empty());
  EXPECT_TRUE(got[1].fields.empty());
}

TEST(StreamParser, ALineOfExactlyTheLimitIsKeptAndOneMoreByteIsNot) {
  ParserLimits limits;
  limits.maxLine = 32;
  for (size_t piece : {size_t{0}, size_t{1}, size_t{7}, size_t{32}, size_t{33}}) {
    SCOPED_TRACE("piece " + std::to_string(piece));
    for (const char* end : {"\r\n", "\n", "\r"}) {
      const std::string atLimit = "SIZE " + std::string(27, '9');  // 32 bytes
      std::vector<Command> got = parse(atLimit + end + "CLS\r\n", limits, piece);
      ASSERT_EQ(got.size(), 2u);
      EXPECT_EQ(got[0].error, "");
      EXPECT_EQ(got[0].name, "SIZE");
      EXPECT_EQ(got[0].args, std::string(27, '9'));
      EXPECT_EQ(got[1].name, "CLS");

      got = parse(atLimit + "9" + end + "CLS\r\n", limits, piece);
      ASSERT_EQ(got.size(), 2u);
      EXPECT_NE(got[0].error.find("line longer than 32 bytes"), std::string::npos);
      EXPECT_EQ(got[1].name, "CLS");
      EXPECT_EQ(got[1].error, "");
    }
  }
  // Quotes and commas count like any byte.
  const std::string quoted = "T \"" + std::string(12, ',') + "\"," + std::string(15, 'x');
  ASSERT_EQ(quoted.size(), 32u);
  std::vector<Command> got = parse(quoted + "\r\n", limits);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].error, "");
  got = parse(quoted + ",\r\n", limits);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].error.find("line longer"), std::string::npos);
}

TEST(StreamParser, PayloadHeadersAtTheirBounds) {
  ParserLimits limits;
  limits.maxBitmap = 24;
  limits.maxDownload = 10;
  struct Row {
    std::string wire;
    std::string error;     // part of the first command's error; "" none
    size_t payload;        // bytes kept
  };
  const std::vector<Row> rows = {
      // Widest and tallest headers taken; the payload then is empty.
      {"BITMAP 0,0,1048576,0,0,\r\n", "", 0},
      {"BITMAP 0,0,0,16777216,0,\r\n", "", 0},
      {"BITMAP 0,0,1048577,0,0,\r\n", "whole numbers", 0},
      {"BITMAP 0,0,0,16777217,0,\r\n", "whole numbers", 0},
      {"BITMAP 0,0,-1,1,0,\r\n", "whole numbers", 0},
      // A payload of exactly the limit is kept; one byte more is skipped.
      {"BITMAP 0,0,3,8,0," + std::string(24, 'b') + "\r\n", "", 24},
      {"BITMAP 0,0,5,5,0," + std::string(25, 'b') + "\r\n", "exceeds the limit of 24 bytes", 0},
      {"DOWNLOAD \"A\",10," + std::string(10, 'd') + "\r\n", "", 10},
      {"DOWNLOAD F,\"A\",11," + std::string(11, 'd') + "\r\n", "exceeds the limit of 10 bytes", 0},
      {"DOWNLOAD \"EMPTY\",0,\r\n", "", 0},
      {"DOWNLOAD \"A\",-1,\r\n", "negative", 0},
  };
  for (const Row& r : rows) {
    std::vector<Command> got = parse(r.wire + "CLS\r\n", limits);
    ASSERT_EQ(got.size(), 2u) << r.wire;
    if (r.error.empty()) {
      EXPECT_EQ(got[0].error, "") << r.wire;
      EXPECT_TRUE(got[0].hasPayload) << r.wire;
    } else {
      EXPECT_NE(got[0].error.find(r.error), std::string::npos) << r.wire << ": " << got[0].error;
    }
    EXPECT_EQ(got[0].payload.size(), r.payload) << r.wire;
    EXPECT_EQ(got[1].name, "CLS") << r.wire;
    EXPECT_EQ(got[1].error, "") << r.wire;
  }
}

ParseResult parseArgs(std::vector<std::string> args, Config& cfg, std::string& error) {
  std::vector<const char*> argv{"paloma-vprinter"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return parseOptions(static_cast<int>(argv.size()), argv.data(), cfg, error);
}

TEST(Options, EveryBoundTakesItsEndsAndRefusesOnePast) {
  struct Row {
    const char* option;
    std::string lowest, highest, below, above;  // "" for a side without a bound to test
  };
  const Row rows[] = {
      {"--max-connections", "1", "1024", "0", "1025"},
      {"--idle-timeout", "1", "86400", "0", "86401"},
      {"--dpi", "100", "1200", "99", "1201"},
      {"--max-sets", "1", "1000", "0", "1001"},
      {"--max-label-dots", "1", "400000000", "0", "400000001"},
      {"--status", "0", "255", "", "256"},
      {"--status", "0x00", "0xff", "", "0x100"},
      {"--listen", "127.0.0.1:0", "127.0.0.1:65535", "", "127.0.0.1:65536"},
      {"--max-disk", "1", "1048576G", "0", "1048577G"},
      {"--max-log", "1K", "1125899906842624", "0K", "1125899906842625"},
      {"--name", "N", std::string(200, 'n'), "", std::string(201, 'n')},
      {"--serial-number", "S", std::string(200, 's'), "", std::string(201, 's')},
  };
  for (const Row& r : rows) {
    for (const std::string* v : {&r.lowest, &r.highest}) {
      Config cfg;
      std::string error;
      EXPECT_EQ(parseArgs({r.option, *v}, cfg, error), ParseResult::kRun)
          << r.option << " " << *v << ": " << error;
    }
    for (const std::string* v : {&r.below, &r.above}) {
      if (v->empty()) continue;
      Config cfg;
      std::string error;
      EXPECT_EQ(parseArgs({r.option, *v}, cfg, error), ParseResult::kError)
          << r.option << " " << *v;
    }
  }
  // The values at the ends reach their settings unchanged.
  Config cfg;
  std::string error;
  ASSERT_EQ(parseArgs({"--max-connections", "1024", "--dpi", "1200", "--status", "255",
                       "--max-sets", "1000", "--listen", "127.0.0.1:65535", "--max-disk",
                       "1048576G", "--idle-timeout", "86400"},
                      cfg, error),
            ParseResult::kRun)
      << error;
  EXPECT_EQ(cfg.server.maxConnections, 1024);
  EXPECT_EQ(cfg.printer.dpi, 1200);
  EXPECT_EQ(cfg.printer.status, 255);
  EXPECT_EQ(cfg.printer.maxSetsPerPrint, 1000);
  EXPECT_EQ(cfg.server.port, 65535);
  EXPECT_EQ(cfg.printer.maxDisk, 1ull << 50);
  EXPECT_EQ(cfg.server.idleTimeoutMs, 86400 * 1000);
}

}  // namespace
}  // namespace vprinter
