// The status byte on each transport and the table that names it.
#include <cstdio>
#include <set>

#include "query/readers.h"
#include "query/status.h"
#include "replies_fixture.h"

namespace paloma::test {
namespace {

const bool kRegistered = (registerStateReset(&resetReplyState), true);

const std::set<int> kKnown = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x08, 0x09,
                              0x0A, 0x0B, 0x0C, 0x0D, 0x10, 0x20, 0x80};

std::string expected(int byte, const char* outside) {
  if (!kKnown.count(byte)) return outside;
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", byte);
  return hex;
}

using StatusTest = RepliesTest;

TEST_F(StatusTest, EveryByteOnEachTransport) {
  for (int b = 0; b < 256; ++b) {
    std::string byte(1, static_cast<char>(b));
    {
      FakeOsScope s;
      FakeOs& fk = s.fake();
      fk.addDevice(kTty);
      opencomport(kTty.c_str());
      fk.queueRead(kTty, byte + "tail");
      EXPECT_EQ(comportprinterstatus(), expected(b, "-2")) << "serial " << b;
      EXPECT_EQ(printerstatus(), expected(0xFF, "-2")) << "no answer the second time";
    }
    {
      FakeOsScope s;
      FakeOs& fk = s.fake();
      fk.addTcpPeer(kPrinterPeer);
      openethernet("127.0.0.1", 9100);
      fk.queueRecv(kPrinterPeer, byte + "tail");
      EXPECT_EQ(ethernetprinterstatus(), expected(b, "other error")) << "network " << b;
    }
    {
      FakeOsScope s;
      FakeOs& fk = s.fake();
      fk.setUsbPaths({usbPath()});
      fk.queueRead(usbPath(), byte + "tail");
      EXPECT_EQ(usbprinterstatus(), expected(b, "other error")) << "usb " << b;
    }
  }
  EXPECT_STREQ(statusText(0x06, StatusFamily::SerialPort), "-2");
  EXPECT_STREQ(statusText(0x06, StatusFamily::NetworkOrUsb), "other error");
}

TEST_F(StatusTest, RequestsAndPausesPerTransport) {
  openSerial();
  f.queueRead(kTty, "\x0A");
  EXPECT_STREQ(comportprinterstatus(), "0A");
  ASSERT_EQ(f.writes(kTty).size(), 1u);
  EXPECT_EQ(f.writes(kTty)[0].data, "\x1b!?\r\n");
  EXPECT_EQ(f.sleeps(), std::vector<long>{500});
  EXPECT_EQ(replies().StatusByteMode, 0);

  openNetwork();
  f.queueRecv(kPrinterPeer, std::string(1, '\0'));
  EXPECT_STREQ(ethernetprinterstatus(), "00");
  ASSERT_EQ(f.writes(kPrinterPeer).size(), 1u);
  EXPECT_EQ(f.writes(kPrinterPeer)[0].data, std::string("\x1b!?\r\n") + std::string(195, '\0'));
  EXPECT_EQ(f.sleeps(), std::vector<long>{50});

  // A silent USB printer reads as "00" after the two pauses and the wait.
  f.clearJournal();
  f.setUsbPaths({usbPath()});
  std::uint64_t t0 = f.now();
  EXPECT_STREQ(usbprinterstatus(), "00");
  EXPECT_EQ(f.now() - t0, 2200u);
  EXPECT_EQ(f.wire(usbPath()), "\x1b!?\r\n");
  EXPECT_FALSE(f.isOpen(usbPath()));
}

TEST_F(StatusTest, SignedIntegerResults) {
  openSerial();
  f.queueRead(kTty, "\x80");
  EXPECT_EQ(comportqueryprinter(), -128);
  f.queueRead(kTty, "\xFF");
  EXPECT_EQ(comportqueryprinter(), -1);
  EXPECT_EQ(comportqueryprinter(), -1) << "no answer leaves 0xFF";
  f.queueRead(kTty, "\x20");
  EXPECT_EQ(comportqueryprinter(), 0x20);

  f.setUsbPaths({usbPath()});
  f.queueRead(usbPath(), "\x80");
  EXPECT_EQ(usbportqueryprinter(), -128);
  EXPECT_EQ(f.wire(usbPath()), "\x1b!?");
  f.setUsbPaths({});
  EXPECT_EQ(usbportqueryprinter(), -1);
  EXPECT_STREQ(usbprinterstatus(), "-1");
  EXPECT_EQ(connection().usbOneShotHandle, kInvalidHandle);
}

TEST_F(StatusTest, FailedSerialReadGivesZeroAndMinusTwo) {
  // No port open: the write and the read fail; the cleared buffer stays.
  EXPECT_EQ(comportqueryprinter(), 0);
  EXPECT_STREQ(comportprinterstatus(), "-2");
}

TEST_F(StatusTest, QueryOnAPortOfItsOwn) {
  f.addDevice("/dev/ttyS1");
  f.queueRead("/dev/ttyS1", "\x04");
  EXPECT_EQ(comportqueryprinter_port("/dev/ttyS1"), 4);
  EXPECT_EQ(f.sleeps(), (std::vector<long>{50, 500, 100}));
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_FALSE(f.isOpen("/dev/ttyS1"));
  EXPECT_EQ(comportqueryprinter_port(nullptr), 0);
}

TEST_F(StatusTest, PrinterStatusByConnection) {
  EXPECT_STREQ(printerstatus(), "-1");
  f.addDevice("/dev/lp0");
  ASSERT_EQ(openport("/dev/lp0"), 1);
  f.clearJournal();
  EXPECT_STREQ(printerstatus(), "");
  EXPECT_TRUE(f.writes().empty());
  closeport();

  openNetwork();
  f.queueRecv(kPrinterPeer, "\x10");
  EXPECT_STREQ(printerstatus(), "10");
  // Marked open with no transport left: nothing is sent.
  closeethernetport(0);
  f.clearJournal();
  EXPECT_STREQ(printerstatus(), "-1");
  EXPECT_TRUE(f.writes().empty());
}

TEST_F(StatusTest, NetworkErrorIsStickyUntilReconnect) {
  openNetwork();
  f.queueRecvError(kPrinterPeer, kNetConnReset);
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  f.queueRecv(kPrinterPeer, std::string(1, '\0'));
  EXPECT_STREQ(ethernetprinterstatus(), "-1") << "the error stays recorded";
  EXPECT_EQ(openethernet("127.0.0.1", 9100), 1);
  EXPECT_EQ(replies().NetworkError, 0);
  f.queueRecv(kPrinterPeer, std::string(1, '\0'));
  EXPECT_STREQ(ethernetprinterstatus(), "00");
}

TEST_F(StatusTest, NetworkStatusEndsOnSilenceCloseAndWouldBlock) {
  openNetwork();
  std::uint64_t t0 = f.now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");  // silent: the 1 s receive time-out
  EXPECT_EQ(f.now() - t0, 1050u);

  openNetwork();
  f.queueRecvClosed(kPrinterPeer);
  t0 = f.now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  EXPECT_LE(f.now() - t0, 100u);

  openNetwork();
  for (int i = 0; i < 10000; ++i) f.queueRecvError(kPrinterPeer, kNetWouldBlock);
  t0 = f.now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  EXPECT_LE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs) + 100);
}

}  // namespace
}  // namespace paloma::test
