// Opening, replacing and closing the network connection, and the diagnostic
// exchange.
#include "replies_fixture.h"

namespace paloma::test {
namespace {

const bool kRegistered = (registerStateReset(&resetReplyState), true);

using NetworkTest = RepliesTest;

TEST_F(NetworkTest, ConnectSetsTimeoutsNoDelayAndPauses) {
  f.addTcpPeer(kPrinterPeer);
  replies().NetworkError = 1;
  EXPECT_EQ(openethernet("127.0.0.1", 65536 + 9100), 1);
  EXPECT_EQ(replies().NetworkError, 0);
  EXPECT_EQ(f.entries("connect").at(0).target, kPrinterPeer);
  EXPECT_EQ(f.entries("socket-timeouts").at(0).detail, "1000,1000");
  EXPECT_EQ(f.entries("nodelay").size(), 1u);
  EXPECT_EQ(f.sleeps(), std::vector<long>{50});
  EXPECT_EQ(connection().networkMode, 1);
  EXPECT_EQ(connection().isOpen, 1);
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(f.wire(kPrinterPeer), "CLS\r\n");
}

TEST_F(NetworkTest, AddressTextsAreTakenAsTheAddressConversionTakesThem) {
  f.addTcpPeer(kPrinterPeer);
  // Fewer parts, the last filling the bytes that remain; octal and
  // hexadecimal parts. Each reaches 127.0.0.1.
  for (const char* same : {"127.1", "127.0.1", "127.0.0.1", "0x7f.0.0.1", "0177.0.0.01",
                           "0x7F.1", "2130706433", "0x7f000001"}) {
    EXPECT_EQ(openethernet(same, 9100), 1) << same;
    EXPECT_EQ(f.entries("connect").back().target, kPrinterPeer) << same;
  }
  // The last part fills three, two or one bytes.
  f.clearJournal();
  EXPECT_EQ(openethernet("10.65536", 9100), 0);
  EXPECT_EQ(openethernet("10.1.256", 9100), 0);
  EXPECT_EQ(openethernet("10.1.2.3", 9100), 0);
  ASSERT_EQ(f.entries("connect").size(), 3u);
  EXPECT_EQ(f.entries("connect").at(0).target, "10.1.0.0:9100");
  EXPECT_EQ(f.entries("connect").at(1).target, "10.1.1.0:9100");
  EXPECT_EQ(f.entries("connect").at(2).target, "10.1.2.3:9100");

  // Texts the conversion refuses, and the all-ones address that it cannot
  // tell from a refusal: 0, and no connection is tried.
  f.clearJournal();
  for (const char* bad : {"", "localhost", "1.2.3.4.5", "256.0.0.1", "127.0.0.256", "10.1.65536",
                          "10.16777216", "4294967296", "127..0.1", "08.0.0.1", "0x.0.0.1",
                          "-1.0.0.1", " 127.0.0.1", "127.0.0.1x", "255.255.255.255",
                          "4294967295", "0xffffffff"}) {
    EXPECT_EQ(openethernet(bad, 9100), 0) << bad;
  }
  EXPECT_EQ(openethernet(nullptr, 9100), 0);
  EXPECT_TRUE(f.entries("connect").empty());
  EXPECT_EQ(openethernet("0.0.0.0", 9100), 0);
  EXPECT_EQ(f.entries("connect").at(0).target, "0.0.0.0:9100");
}

TEST_F(NetworkTest, NewConnectionReplacesTheOldOnlyOnSuccess) {
  openNetwork();
  Socket old = connection().socket;
  EXPECT_EQ(openethernet("127.0.0.2", 9100), 0);  // nobody there
  EXPECT_EQ(connection().socket, old);
  EXPECT_EQ(connection().networkMode, 1);
  EXPECT_EQ(sendcommand("STILL"), 1);
  EXPECT_EQ(f.wire(kPrinterPeer), "STILL\r\n");

  f.addTcpPeer("127.0.0.3:9100");
  EXPECT_EQ(openethernet("127.0.0.3", 9100), 1);
  EXPECT_NE(connection().socket, old);
  EXPECT_FALSE(f.isOpen(kPrinterPeer));
  EXPECT_TRUE(f.isOpen("127.0.0.3:9100"));
}

TEST_F(NetworkTest, CloseKeepsTheConnectionMarkedOpen) {
  openNetwork();
  EXPECT_EQ(closeethernetport(0), 1);
  EXPECT_TRUE(f.sleeps() == std::vector<long>{0});
  EXPECT_FALSE(f.isOpen(kPrinterPeer));
  EXPECT_EQ(connection().isOpen, 1);
  EXPECT_EQ(connection().networkMode, 0);
  EXPECT_EQ(sendcommand("X"), 0);
  EXPECT_EQ(closeport(), 0);
  EXPECT_EQ(closeethernetport(250), 1);
  EXPECT_EQ(f.sleeps().back(), 250);
  EXPECT_EQ(f.entries("close-socket").size(), 1u) << "a closed socket is not closed again";
}

TEST_F(NetworkTest, DiagnosticExchange) {
  openNetwork();
  f.queueRecv(kPrinterPeer, std::string(700, 'a'));
  f.queueRecvClosed(kPrinterPeer);
  EXPECT_EQ(Ethernetsend("~!T"), 1);
  EXPECT_EQ(f.wire(kPrinterPeer), "~!T");
  EXPECT_EQ(f.messages(), (std::vector<std::string>{"Error Message|" + std::string(500, 'a'),
                                                    "Error Message|" + std::string(200, 'a'),
                                                    "Error Message|Hi",
                                                    "Console|Connection Closed."}));
  // The closing line is a console line of the message channel, which an
  // application may route away from its standard output.
  EXPECT_EQ(f.entries("message").back().value, PALOMA_ICON_CONSOLE);

  // A closed connection keeps reading as closed: the next cases use peers
  // of their own.
  f.addTcpPeer("127.0.0.4:9100");
  ASSERT_EQ(openethernet("127.0.0.4", 9100), 1);
  f.clearJournal();
  std::uint64_t t0 = f.now();
  EXPECT_EQ(Ethernetsend("X"), 1);  // silent
  EXPECT_EQ(f.messages(), (std::vector<std::string>{"Error Message|-1", "Error Message|end"}));
  EXPECT_EQ(f.now() - t0, 1000u);

  f.addTcpPeer("127.0.0.5:9100");
  ASSERT_EQ(openethernet("127.0.0.5", 9100), 1);
  for (int i = 0; i < 5000; ++i) f.queueRecv("127.0.0.5:9100", "chatter");
  f.clearJournal();
  EXPECT_EQ(Ethernetsend("X"), 1);
  EXPECT_EQ(f.messages().back(), "Error Message|end");
  EXPECT_EQ(Ethernetsend(nullptr), 0);
}

}  // namespace
}  // namespace paloma::test
