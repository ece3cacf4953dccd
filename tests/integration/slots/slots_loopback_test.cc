// Two printers on loopback TCP in slots 2 and 3, through the real backend:
// each gets its own commands with its slot's line end, and a slot's status
// query is answered by its own printer.
#include <gtest/gtest.h>

#include <string>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

using paloma::test::LoopbackPeer;

TEST(SlotsLoopback, TwoPrintersGetTheirOwnCommandsAndLineEnds) {
  LoopbackPeer second, third;
  ASSERT_NE(second.port(), 0);
  ASSERT_NE(third.port(), 0);
  ASSERT_EQ(openethernetmult(2, "127.0.0.1", second.port()), 1);
  ASSERT_EQ(openethernetmult(3, "127.0.0.1", third.port()), 1);
  EXPECT_EQ(sendcommandmult(2, "CLS"), 1);
  EXPECT_EQ(sendcommandmult(3, "PRINT 1,1"), 1);
  EXPECT_EQ(printerfontmult(3, "10", "10", "3", "0", "1", "1", "Three"), 1);
  EXPECT_EQ(closeethernetportmult(2, 0), 1);
  EXPECT_EQ(closeethernetportmult(3, 0), 1);
  EXPECT_EQ(second.nextClosed(5000).bytes, "CLS\r\n");
  const std::string end("\r\n\0", 3);  // slot 3's network line end
  EXPECT_EQ(third.nextClosed(5000).bytes,
            "PRINT 1,1" + end + "TEXT 10,10,\"3\",0,1,1,\"Three\"" + end);
}

TEST(SlotsLoopback, SlotStatusIsAnsweredByItsOwnPrinter) {
  // Answers the status request (ESC "!?" in a 200-byte block) with 0x20.
  LoopbackPeer printer([](const std::string& got) {
    return got.size() >= 200 && got.compare(0, 3, "\x1b!?") == 0
               ? LoopbackPeer::Reply{std::string(1, '\x20')}
               : LoopbackPeer::Reply{};
  });
  LoopbackPeer silent;
  ASSERT_EQ(openethernetmult(4, "127.0.0.1", printer.port()), 1);
  ASSERT_EQ(openethernetmult(5, "127.0.0.1", silent.port()), 1);
  EXPECT_STREQ(ethernetprinterstatusmult(4), "20");
  EXPECT_STREQ(ethernetprinterstatusmult(5), "-1");  // silent: the receive times out
  EXPECT_EQ(closeethernetportmult(4, 0), 1);
  EXPECT_EQ(closeethernetportmult(5, 0), 1);
}

}  // namespace
