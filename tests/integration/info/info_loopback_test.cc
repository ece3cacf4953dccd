// Information and setting queries on the real backend against a printer
// stand-in on 127.0.0.1 that answers each request block with a scripted
// reply (or stays silent).
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;
using paloma::test::LoopbackPeer;

// One exchange: the size of the request block to wait for, and the reply to
// send once it is complete (nullopt: stay silent).
struct Exchange {
  std::size_t requestSize;
  std::optional<std::string> reply;
};

// A stand-in that serves the exchanges in order: once a request block is
// complete it sends its reply (if any).
LoopbackPeer::Script inOrder(std::vector<Exchange> script) {
  return [script = std::move(script), next = std::size_t{0},
          upTo = std::size_t{0}](const std::string& got) mutable {
    LoopbackPeer::Reply r;
    for (; next < script.size() && got.size() >= upTo + script[next].requestSize; ++next) {
      upTo += script[next].requestSize;
      if (script[next].reply) r.bytes += *script[next].reply;
    }
    return r;
  };
}

std::string padded(std::string text, std::size_t size) {
  text.resize(size, '\0');
  return text;
}

TEST(InfoLoopback, NameAndSettingQueriesOverTcp) {
  LoopbackPeer printer(inOrder({
      {200, std::string("PRINTER-X\r\n\x02\r\n")},
      {1024, std::string("203\r\n\x02\r\n")},
      {200, std::nullopt},  // a silent printer: the receive time-out
      {200, std::string("PRINTER-X\r\n")},
  }));
  ASSERT_NE(printer.port(), 0);
  ASSERT_EQ(openethernet("127.0.0.1", printer.port()), 1);

  EXPECT_STREQ(ethernetprintername(), "PRINTER-X\r\n\x02\r\n");
  EXPECT_STREQ(ethernetprintersetting("SYSTEM", "INFORMATION", "DPI"), "203\r\n\x02\r\n");

  const auto start = Clock::now();
  EXPECT_STREQ(ethernetprintername(), "-1");
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(waited, 900) << "ended by the 1 s receive time-out";
  EXPECT_LT(waited, 6000);
  // The error was reported and cleared; the answer that follows is taken.
  EXPECT_STREQ(ethernetprintername(), "PRINTER-X\r\n");

  EXPECT_EQ(closeethernetport(0), 1);
  const std::string sent = printer.nextClosed(5000).bytes;
  ASSERT_EQ(sent.size(), 200u + 1024u + 200u + 200u);
  EXPECT_EQ(sent.substr(0, 200), padded("~!T\n OUT \"\x02\"\n", 200));
  EXPECT_EQ(sent.substr(200, 1024),
            padded("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT CHR$(02)\r\n", 1024));
  EXPECT_EQ(sent.substr(1224, 200), sent.substr(0, 200));
}

}  // namespace
