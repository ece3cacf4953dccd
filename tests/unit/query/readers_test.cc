// Framing of replies on each transport, the string reads, and the bounds that
// end a wait for a printer that never finishes.
#include <cstring>

#include "query/readers.h"
#include "replies_fixture.h"

namespace paloma::test {
namespace {

const bool kRegistered = (registerStateReset(&resetReplyState), true);

using ReadersTest = RepliesTest;
ReplyState& rs() { return replies(); }

TEST_F(ReadersTest, SerialReplyFraming) {
  openSerial();
  struct Case {
    const char* name;
    std::string reply;
    int lineMode, frameMode;
    std::string kept;
  } cases[] = {
      {"up to STX, line ends kept", "NAME\r\n\x02\r\n", 0, 0, "NAME\r\n"},
      {"CR ends a line reply", "SN12\rrest\x02", 1, 0, "SN12"},
      {"frame without STX or ETX", "\x02" "abc\x03zz", 0, 1, "abc"},
      {"frame cut by the block's end", "\x02" "ab\x02" "c", 0, 1, "abc"},
  };
  for (const auto& c : cases) {
    std::memset(rs().ReplyBuffer, 0, sizeof rs().ReplyBuffer);
    rs().ReplyPosition = 0;
    rs().LineMode = c.lineMode;
    rs().FrameMode = c.frameMode;
    f.queueRead(kTty, c.reply);
    ReadSerialReply(replies(), connection().handle);
    EXPECT_EQ(replyText(), c.kept) << c.name;
    EXPECT_EQ(rs().LineMode, 0) << c.name;
  }
  EXPECT_EQ(rs().FrameMode, 1) << "no ETX came in the last frame";
  // Appending wraps at the end of the buffer.
  std::memset(rs().ReplyBuffer, 0, sizeof rs().ReplyBuffer);
  rs().FrameMode = 0;
  rs().ReplyPosition = 65535;
  f.queueRead(kTty, "XY\x02");
  ReadSerialReply(replies(), connection().handle);
  EXPECT_EQ(rs().ReplyBuffer[65535], 'X');
  EXPECT_EQ(rs().ReplyBuffer[0], 'Y');
  EXPECT_EQ(rs().ReplyPosition, 1);
  EXPECT_EQ(rs().ReplyBufferEnd, 0);
}

TEST_F(ReadersTest, NetworkReplyLooksAtItsFirstByte) {
  openNetwork();
  rs().FrameMode = 1;
  f.queueRecv(kPrinterPeer, "\x02" "A\x02" "B\x03" "C");
  EXPECT_TRUE(ReadNetworkReply(replies(), connection().socket));
  EXPECT_EQ(replyText(), "AB");
  EXPECT_EQ(rs().FrameMode, 0);

  rs().StatusByteMode = 1;
  f.queueRecv(kPrinterPeer, "Q rest");
  EXPECT_TRUE(ReadNetworkReply(replies(), connection().socket));
  EXPECT_EQ(rs().StatusByteMode, 0);
  EXPECT_EQ(rs().ReplyBuffer[0], 'Q');
  EXPECT_STREQ(reinterpret_cast<char*>(rs().NetworkReceiveBuffer), "Q rest");

  // A full 65,536-byte block still reads as a terminated text.
  f.queueRecv(kPrinterPeer, std::string(65536, 'z'));
  EXPECT_TRUE(ReadNetworkSetting(replies(), connection().socket));
  EXPECT_EQ(std::strlen(reinterpret_cast<char*>(rs().NetworkReceiveBuffer)), 65536u);

  f.queueRecvClosed(kPrinterPeer);
  EXPECT_FALSE(ReadNetworkReply(replies(), connection().socket));
  EXPECT_EQ(rs().NetworkError, 1);
}

TEST_F(ReadersTest, UsbQueryReader) {
  Handle h = openUsbHandle();
  // Name and CR in one packet: kept with the CR, no wait for a time-out.
  f.queueRead(usbPath(), "NAME\rmore");
  usbReadWhile(&usbReadDataToBuffer, replies(), h);
  EXPECT_EQ(replyText(), "NAME\r");
  EXPECT_EQ(f.now(), 100u);

  // A reply over several packets, then silence.
  std::memset(rs().ReplyBuffer, 0, sizeof rs().ReplyBuffer);
  rs().ReplyPosition = 0;
  rs().LineMode = 1;
  f.queueRead(usbPath(), std::string(64, 'a'));
  f.queueRead(usbPath(), "bb\rcc");
  std::uint64_t t0 = f.now();
  usbReadWhile(&usbReadDataToBuffer, replies(), h);
  EXPECT_EQ(replyText(), std::string(64, 'a') + "bb");
  EXPECT_EQ(rs().LineMode, 0);
  EXPECT_EQ(f.now() - t0, 100u + 100u + 100u + 2000u);

  // A printer that keeps sending without CR is cut off at the bound.
  for (int i = 0; i < 200; ++i) f.queueRead(usbPath(), std::string(64, 'x'));
  t0 = f.now();
  usbReadWhile(&usbReadDataToBuffer, replies(), h);
  EXPECT_LE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs) + 100);
}

TEST_F(ReadersTest, UsbSettingReaderJoinsPackets) {
  Handle h = openUsbHandle();
  f.queueRead(usbPath(), "123\r\n\x02\r\n");
  usbReadWhile(&usbReadData, replies(), h);
  EXPECT_EQ(replyText(), "123");

  std::memset(rs().ReplyBuffer, 0, sizeof rs().ReplyBuffer);
  rs().ReplyPosition = 0;
  f.queueRead(usbPath(), std::string(64, 'p'));
  f.queueRead(usbPath(), "q\r\n\x02");
  usbReadWhile(&usbReadData, replies(), h);
  EXPECT_EQ(replyText(), std::string(64, 'p') + "q");

  // Silence: the position starts over.
  EXPECT_FALSE(usbReadData(replies(), h));
  EXPECT_EQ(rs().ReplyPosition, 0);
  // The appending stops at the end of the buffer.
  rs().ReplyPosition = 65534;
  f.queueRead(usbPath(), "ABCD");
  EXPECT_FALSE(usbReadData(replies(), h));
  EXPECT_EQ(rs().ReplyBuffer[65535], 'B');
  EXPECT_EQ(rs().ReplyBufferEnd, 0);
}

TEST_F(ReadersTest, UsbRequestWrite) {
  Handle h = openUsbHandle();
  rs().ReplyBuffer[7] = 'x';
  rs().ReplyPosition = 9;
  f.limitWrite(usbPath(), 2);
  EXPECT_EQ(usbOverlappedWrite(replies(), h, "\x1b!?\r\n", 5), 5);  // continued after a part
  EXPECT_EQ(f.wire(usbPath()), "\x1b!?\r\n");
  EXPECT_EQ(rs().ReplyBuffer[7], 0);
  EXPECT_EQ(rs().ReplyPosition, 0);

  rs().ReplyBuffer[7] = 'x';
  f.failWritesAfter(usbPath(), 0);
  EXPECT_EQ(usbOverlappedWrite(replies(), h, "abc", 3), 0);
  EXPECT_EQ(rs().ReplyBuffer[7], 0) << "cleared even when the write fails";

  f.failEvents(true);
  EXPECT_EQ(usbOverlappedWrite(replies(), h, "abc", 3), 0);
  EXPECT_FALSE(usbReadDataToBuffer(replies(), h));
  EXPECT_EQ(f.entries("write-failed").size(), 1u) << "nothing written without an event";
}

TEST_F(ReadersTest, SerialStringRead) {
  EXPECT_STREQ(rs().StringResult, "");
  openSerial();
  f.queueRead(kTty, "ABC\r\nEND");
  f.queueRead(kTty, "");  // a pause in the printer's output
  f.queueRead(kTty, "LINE\r\n");
  const char* first = comport_getstring("OUT \"ABC\"", 30);
  EXPECT_STREQ(first, "ABC\r\n");
  auto w = f.writes(kTty);
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0].data, "OUT \"ABC\"");
  EXPECT_EQ(w[1].data, "\r\n");
  EXPECT_EQ(w[2].data, "OUT \"ENDLINE\"\r\n");
  EXPECT_EQ(f.sleeps(), (std::vector<long>{30, 100, 100, 100}));

  // The text after the marker is kept up to a NUL; the first result stays.
  f.queueRead(kTty, std::string("xy\r\nENDLINE\r\nz\0q", 16));
  const char* second = comport_getstring("C", 0);
  EXPECT_STREQ(second, "xy\r\nz");
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, "ABC\r\n");

  // A text longer than the block is cut at 1023 bytes.
  f.queueRead(kTty, std::string(400, 'L'));
  f.queueRead(kTty, std::string(400, 'L'));
  f.queueRead(kTty, std::string(400, 'L') + "ENDLINE\r\n");
  EXPECT_EQ(std::string(comport_getstring("C", 0)), std::string(1023, 'L'));
}

TEST_F(ReadersTest, SerialStringReadBounds) {
  openSerial();
  std::uint64_t t0 = f.now();
  EXPECT_STREQ(comport_getstring("C", 0), "-1");  // silent
  EXPECT_GE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs));
  EXPECT_LE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs) + 100);

  for (int i = 0; i < 200; ++i) f.queueRead(kTty, std::string(500, 'x'));  // no marker
  t0 = f.now();
  EXPECT_STREQ(comport_getstring("C", 0), "-1");
  EXPECT_LE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs) + 100);
  EXPECT_EQ(rs().ReplyBufferEnd, 0);
  EXPECT_STREQ(comport_getstring(nullptr, 0), "-1");
}

// A read that fails will not succeed by waiting: with no port, or a port
// gone from under the connection (a USB adapter pulled out), the string read
// gives "-1" after its first read instead of after its whole bound.
TEST_F(ReadersTest, SerialStringReadEndsAtAFailedRead) {
  std::uint64_t t0 = f.now();
  EXPECT_STREQ(comport_getstring("C", 0), "-1");  // nothing open
  EXPECT_LE(f.now() - t0, 100u);

  openSerial();
  f.queueRead(kTty, "half a rep");
  ASSERT_TRUE(f.closeHandle(connection().handle));  // the port is gone
  t0 = f.now();
  EXPECT_STREQ(comport_getstring("C", 20), "-1");
  EXPECT_LE(f.now() - t0, 20u + 100u);
  EXPECT_EQ(f.entries("read-failed").size(), 1u);
}

TEST_F(ReadersTest, NetworkStringRead) {
  openNetwork();
  f.queueRecv(kPrinterPeer, "RFID\r\nEND");
  f.queueRecv(kPrinterPeer, "LINE\r\n");
  EXPECT_STREQ(ethernet_getstring("RFIDREAD", 10), "RFID\r\n");
  auto w = f.writes(kPrinterPeer);
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0].data, "RFIDREAD");
  EXPECT_EQ(w[0].detail, "send-more");
  EXPECT_EQ(w[1].data, std::string("\r\n\0", 3));
  EXPECT_EQ(w[1].detail, "send-more");
  EXPECT_EQ(w[2].data, std::string("OUT \"ENDLINE\"\r\n\0", 16));
  EXPECT_EQ(w[2].detail, "send");
  EXPECT_EQ(f.sleeps(), (std::vector<long>{10, 100, 100}));

  // Silent: the receive time-out is an error.
  std::uint64_t t0 = f.now();
  EXPECT_STREQ(ethernet_getstring("C", 0), "-1");
  EXPECT_EQ(f.now() - t0, 1200u);
  // An error left from before spoils even a complete reply.
  f.queueRecv(kPrinterPeer, "OK\r\nENDLINE\r\n");
  EXPECT_STREQ(ethernet_getstring("C", 0), "-1");

  openNetwork();
  f.queueRecv(kPrinterPeer, "half");
  f.queueRecvClosed(kPrinterPeer);
  EXPECT_STREQ(ethernet_getstring("C", 0), "-1");

  openNetwork();
  for (int i = 0; i < 80; ++i) f.queueRecv(kPrinterPeer, std::string(65536, 'f'));
  t0 = f.now();
  EXPECT_STREQ(ethernet_getstring("C", 0), "-1");
  EXPECT_LE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs));
  EXPECT_EQ(rs().ReplyBufferEnd, 0);
}

TEST_F(ReadersTest, UsbStringRead) {
  openUsbConnection();
  f.queueRead(usbPath(), std::string(60, 'u') + "ENDL");
  f.queueRead(usbPath(), "INE\r\n");
  EXPECT_EQ(std::string(usb_getstring("GET", 5)), std::string(60, 'u'));
  EXPECT_EQ(f.wire(usbPath()), "GET\r\nOUT \"ENDLINE\"\r\n");
  EXPECT_EQ(f.writes(usbPath()).size(), 3u);

  std::uint64_t t0 = f.now();
  EXPECT_STREQ(usb_getstring("GET", 0), "-1");  // silent
  EXPECT_LE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs) + 100);
  EXPECT_GE(f.now() - t0, static_cast<std::uint64_t>(kReplyBoundMs));

  f.queueRead(usbPath(), "ok\r\nENDLINE\r\n");
  EXPECT_TRUE(UsbRead_judge(reinterpret_cast<void*>(connection().handle)));
  EXPECT_STREQ(rs().StringResult, "ok\r\n");
}

}  // namespace
}  // namespace paloma::test
