// The tool's parsers at the ends of their ranges: ports 1 and 65535 (and one
// past) in an address and in a discovery answer, queue names at their
// longest, every baud rate of the list, and byte counts where a unit begins.
#include <gtest/gtest.h>

#include <string>

#include "target.h"
#include "words.h"

namespace paloma_cli {
namespace {

AnswerFields answer(const std::string& s) {
  return parseAnswer(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

TEST(Target, PortsAndNamesAtTheirEnds) {
  struct Row {
    std::string uri;
    bool taken;
  };
  const Row rows[] = {
      {"tcp://127.0.0.1:1", true},
      {"tcp://127.0.0.1:65535", true},
      {"tcp://127.0.0.1:00001", true},
      {"tcp://127.0.0.1:0", false},
      {"tcp://127.0.0.1:65536", false},
      {"tcp://127.0.0.1:099999", false},
      {"queue://spool:1/q", true},
      {"queue://spool:65535/q", true},
      {"queue://spool:65536/q", false},
      {"queue:" + std::string(127, 'q'), true},
      {"queue:" + std::string(128, 'q'), false},
      {"queue://spool/" + std::string(127, 'q'), true},
      {"queue://spool/" + std::string(128, 'q'), false},
      {"tcp://" + std::string(253, 'h'), true},
      {"tcp://" + std::string(254, 'h'), false},
      {"/dev/x", true},
  };
  for (const Row& r : rows) {
    std::string why;
    EXPECT_EQ(static_cast<bool>(parseTarget(r.uri, &why)), r.taken)
        << r.uri.substr(0, 40) << " (" << r.uri.size() << " bytes): " << why;
  }
  for (const char* baud : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}) {
    std::string why;
    auto t = parseTarget(std::string("serial:/dev/ttyS0?baud=") + baud, &why);
    ASSERT_TRUE(t) << baud << ": " << why;
    EXPECT_EQ(std::to_string(t->baud), baud);
  }
  std::string why;
  auto t = parseTarget("tcp://127.0.0.1:65535", &why);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->port, 65535);
  EXPECT_EQ(describe(*t), "tcp://127.0.0.1:65535");
}

TEST(Replies, DiscoveryAnswerPortsAtTheirEnds) {
  EXPECT_EQ(answer("x;tcp=1;").tcpPort, 1);
  EXPECT_EQ(answer("x;tcp=65535;").tcpPort, 65535);
  EXPECT_EQ(answer("x;tcp=09100;").tcpPort, 9100);
  EXPECT_FALSE(answer("x;tcp=65536;").tcpPort);
  EXPECT_FALSE(answer("x;tcp=099999;").tcpPort);
  EXPECT_FALSE(answer("x;tcp=;").tcpPort);
  // The first usable field of each kind counts.
  AnswerFields f = answer("x;tcp=0;tcp=6101;tcp=9100;name=A;name=B;");
  EXPECT_EQ(f.tcpPort, 6101);
  EXPECT_EQ(f.name, "A");
}

TEST(Progress, ByteCountsWhereAUnitBegins) {
  EXPECT_EQ(humanBytes(0), "0 B");
  EXPECT_EQ(humanBytes(999), "999 B");
  EXPECT_EQ(humanBytes(1000), "1.0 kB");
  EXPECT_EQ(humanBytes(999999), "1000.0 kB");
  EXPECT_EQ(humanBytes(1000000), "1.0 MB");
  EXPECT_EQ(humanBytes(1e12), "1.0 TB");
  EXPECT_EQ(humanBytes(1e15), "1000.0 TB");  // no unit past terabytes
}

TEST(Status, EachConditionAloneKeepsItsExitCode) {
  struct Row {
    std::uint8_t byte;
    int exitCode;
    const char* words;
  };
  const Row rows[] = {
      {0x01, kExitHeadOpen, "head open"},     {0x02, kExitPaperJam, "paper jam"},
      {0x04, kExitPaperEmpty, "paper empty"}, {0x08, kExitRibbonEmpty, "ribbon empty"},
      {0x10, kExitPaused, "paused"},          {0x20, kExitPrinting, "printing"},
      {0x80, kExitOtherError, "other error"}, {0x0C, kExitPaperEmpty, "paper empty, ribbon empty"},
      {0x0A, kExitPaperJam, "paper jam, ribbon empty"},
  };
  for (const Row& r : rows) {
    StatusReport s = describeStatus(r.byte);
    EXPECT_EQ(s.exitCode, r.exitCode) << int{r.byte};
    EXPECT_EQ(s.words, r.words) << int{r.byte};
  }
}

}  // namespace
}  // namespace paloma_cli
