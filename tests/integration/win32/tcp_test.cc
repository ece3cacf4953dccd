// The network transport of the DLL's code on Winsock, against a printer
// stand-in on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "paloma.h"
#include "peer.h"

namespace paloma::test {
namespace {

class Win32Tcp : public ::testing::Test {
 protected:
  void TearDown() override {
    while (closeport() == 1) {
    }
  }
  WinsockScope winsock_;
};

TEST_F(Win32Tcp, CommandsStatusAndCloseReachThePeer) {
  LoopbackListener listener;
  ASSERT_EQ(openethernet("127.0.0.1", listener.port()), 1);
  PeerSocket printer(listener.accept(2000));
  ASSERT_TRUE(printer.valid());

  ASSERT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(printer.readAtLeast(5, 2000), "CLS\r\n");

  const unsigned char data[] = {0x01, 0x00, 0x02};
  ASSERT_EQ(sendBinaryData(data, 3), 1);
  EXPECT_EQ(printer.readAtLeast(6, 2000), std::string("\x01\x00\x02\r\n\0", 6));

  // The printer answers the status request with one byte.
  std::string request;
  std::thread answer([&] {
    request = printer.readAtLeast(3, 2000);
    printer.sendBytes(std::string("\x20", 1));
  });
  std::string status = ethernetprinterstatus();
  answer.join();
  EXPECT_EQ(request.substr(0, 3), "\x1b!?");
  EXPECT_EQ(status, "20");

  ASSERT_EQ(closeport(), 1);
  EXPECT_TRUE(printer.closedWithin(2000));
}

TEST_F(Win32Tcp, SilentPrinterEndsTheStatusReadAfterTheReceiveTimeOut) {
  LoopbackListener listener;
  ASSERT_EQ(openethernet("127.0.0.1", listener.port()), 1);
  PeerSocket printer(listener.accept(2000));
  ASSERT_TRUE(printer.valid());
  // Winsock reports the 1000 ms receive time-out as WSAETIMEDOUT; the reader
  // must take it as an error, not as "try again".
  ULONGLONG start = GetTickCount64();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, 5000u);
}

TEST_F(Win32Tcp, RefusedConnectionLeavesNothingOpen) {
  EXPECT_EQ(openethernet("127.0.0.1", closedLoopbackPort()), 0);
  EXPECT_EQ(sendcommand("CLS"), 0);
  EXPECT_EQ(closeport(), 0);
}

}  // namespace
}  // namespace paloma::test
