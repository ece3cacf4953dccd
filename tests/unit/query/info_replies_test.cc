// How the information queries frame the printer's replies, per transport and
// reply mode, and how the network error is reported and cleared.
#include <cstring>
#include <string>
#include <vector>

#include "info_fixture.h"
#include "paloma.h"
#include "platform/deadline.h"

namespace paloma::test {
namespace {

class InfoReplyTest : public InfoTest {
 protected:
  ReplyState& r = replies();
  std::size_t timedOutReads() const {
    std::size_t n = 0;
    for (const auto& e : f.entries("read"))
      if (e.detail == "timeout") ++n;
    return n;
  }
};

TEST_F(InfoReplyTest, SerialRepliesKeepTheBytesBeforeTheStx) {
  openSerial();
  f.queueRead(kSerialPort, "PRINTER-X\r\n\x02\r\n");
  EXPECT_STREQ(comportprintername(), "PRINTER-X\r\n");
  // A missing reply is the empty text, never "-1".
  EXPECT_STREQ(comportprintername(), "");
}

TEST_F(InfoReplyTest, CompleteStatusIsTheFrameWithoutStxAndEtxOnEveryTransport) {
  openSerial();
  f.queueRead(kSerialPort, "\x02@AB\x03");
  EXPECT_STREQ(comportprintercompletestatus(), "@AB");
  EXPECT_EQ(r.FrameMode, 0);

  openNetwork();
  f.queueRecv(kPeer, "\x02@CD\x03");
  EXPECT_STREQ(ethernetprintercompletestatus(), "@CD");
  EXPECT_EQ(r.FrameMode, 0);

  attachUsb();
  f.queueRead(usbPrinterPath(), "\x02@EF\x03");
  EXPECT_STREQ(usbprintercompletestatus(), "@EF");
  EXPECT_EQ(r.FrameMode, 0);
}

TEST_F(InfoReplyTest, NetworkErrorIsReportedAsMinusOneOnceAndThenCleared) {
  openNetwork();
  f.queueRecvError(kPeer, kNetConnReset);
  EXPECT_STREQ(ethernetprintername(), "-1");
  EXPECT_EQ(r.NetworkError, 0) << "reporting the error clears it";
  // The raw first block, STX and all.
  f.queueRecv(kPeer, "PRINTER-X\r\n\x02\r\n");
  EXPECT_STREQ(ethernetprintername(), "PRINTER-X\r\n\x02\r\n");
}

TEST_F(InfoReplyTest, NetworkErrorStaysUntilAQueryThatReportsItRuns) {
  openNetwork();
  // The code page query has no failure text: an empty text, the error stays.
  EXPECT_STREQ(ethernetprintercodepage(), "");  // receive time-out
  EXPECT_EQ(r.NetworkError, 1);
  // The setting query answers "-1" while the error stands, without clearing it.
  f.queueRecv(kPeer, "203");
  EXPECT_STREQ(ethernetprintersetting("SYSTEM", "INFORMATION", "DPI"), "-1");
  EXPECT_EQ(r.NetworkError, 1);
  // The peel query neither reports nor clears it.
  f.queueRecv(kPeer, "0");
  EXPECT_STREQ(ethernetprinterpeel(), "0");
  EXPECT_EQ(r.NetworkError, 1);
  // A checking query reports the old error although the printer answered.
  f.queueRecv(kPeer, "PRINTER-X");
  EXPECT_STREQ(ethernetprintername(), "-1");
  EXPECT_EQ(r.NetworkError, 0);
  f.queueRecv(kPeer, "203");
  EXPECT_STREQ(ethernetprintersetting("SYSTEM", "INFORMATION", "DPI"), "203");
}

TEST_F(InfoReplyTest, NetworkSerialNumberArmsLineModeAndDisarmsItOnSuccess) {
  openNetwork();
  f.queueRecv(kPeer, "SN0042\r\n");
  EXPECT_STREQ(ethernetprinterserial(), "SN0042\r\n");
  EXPECT_EQ(r.LineMode, 0);

  EXPECT_STREQ(ethernetprinterserial(), "-1");  // time-out
  EXPECT_EQ(r.LineMode, 1) << "a failed serial-number query leaves LineMode armed";
  EXPECT_EQ(r.NetworkError, 0);
}

TEST_F(InfoReplyTest, NetworkReplyFillingTheWholeBufferIsStillATerminatedText) {
  openNetwork();
  f.queueRecv(kPeer, std::string(ReplyState::kBufferSize, 'x'));
  const char* text = ethernetprintername();
  ASSERT_EQ(std::strlen(text), ReplyState::kBufferSize) << "every byte kept";
  EXPECT_EQ(text[ReplyState::kBufferSize - 1], 'x');
}

TEST_F(InfoReplyTest, UsbQueryStopsAtTheFirstCarriageReturnWithoutWaiting) {
  attachUsb();
  f.queueRead(usbPrinterPath(), "PRINTER-X\r\n\x02\r\n");
  EXPECT_STREQ(usbprintername(), "PRINTER-X\r");
  EXPECT_EQ(timedOutReads(), 0u);
}

TEST_F(InfoReplyTest, UsbDpiReadsOneLineInLineMode) {
  attachUsb();
  f.queueRead(usbPrinterPath(), "203\r\n\x02\r\n");
  EXPECT_STREQ(usbprinterdpi(), "203");
  EXPECT_EQ(r.LineMode, 0);
  // A LineMode reply ends with one further packet time-out.
  EXPECT_EQ(timedOutReads(), 1u);
}

TEST_F(InfoReplyTest, UsbSerialNumberReadsOnePacketOnly) {
  attachUsb();
  const std::string number(70, '7');
  f.queueRead(usbPrinterPath(), number + "\r\n");
  EXPECT_EQ(std::string(usbprinterserial()), number.substr(0, 64));
  EXPECT_EQ(f.entries("read").size(), 1u);
  EXPECT_EQ(r.LineMode, 1) << "its CR never came";
}

TEST_F(InfoReplyTest, UsbSerialNumberEndsAtItsCarriageReturn) {
  attachUsb();
  f.queueRead(usbPrinterPath(), "SN0042\r\n");
  EXPECT_STREQ(usbprinterserial(), "SN0042");
  EXPECT_EQ(r.LineMode, 0);
  // One 100 ms pause of the query and one of the reader before the read.
  EXPECT_EQ(f.sleeps(), (std::vector<long>{100, 100}));
}

TEST_F(InfoReplyTest, UsbFailureTextsWhenNothingCame) {
  // No printer: the checking queries answer "-1", and nothing is opened.
  EXPECT_STREQ(usbprintername(), "-1");
  EXPECT_STREQ(usbprinterquantity(), "-1");
  EXPECT_STREQ(usbprinterpeel(), "");
  EXPECT_TRUE(f.entries("open").empty());

  // A silent printer: the same, after one packet time-out each.
  attachUsb();
  EXPECT_STREQ(usbprinterfile(), "-1");
  EXPECT_STREQ(usbprintercodepage(), "");
  EXPECT_STREQ(usbprintercompletestatus(), "-1");
  EXPECT_EQ(r.FrameMode, 1) << "a frame that never came leaves FrameMode armed";
  EXPECT_FALSE(f.isOpen(usbPrinterPath()));
}

// A printer that keeps sending bytes and never ends its reply.
class EndlessUsbOs : public FakeOs {
 public:
  IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int timeoutMs) override {
    if (targetOf(h) != usbPrinterPath()) return FakeOs::readFile(h, buf, cap, wait, timeoutMs);
    std::memset(buf, 'A', cap);
    return {true, cap, 0, false};
  }
};

TEST_F(InfoReplyTest, UsbQueryOnAnEndlessReplyEndsAtItsDeadline) {
  EndlessUsbOs endless;
  endless.setUsbPaths({usbPrinterPath()});
  setOs(&endless);
  const char* text = usbprintername();
  setOs(&f);
  EXPECT_GE(endless.now(), static_cast<std::uint64_t>(kReplyBoundMs));
  EXPECT_LE(endless.now(), static_cast<std::uint64_t>(kReplyBoundMs) + 2500u);
  EXPECT_GT(std::strlen(text), 64u);
  EXPECT_LT(std::strlen(text), ReplyState::kBufferSize);
  EXPECT_FALSE(endless.isOpen(usbPrinterPath()));
}

TEST_F(InfoReplyTest, UsbSettingDropsLineEndsAndStopsAtTheStx) {
  openUsbConnection();
  f.queueRead(usbPrinterPath(), "ON\r\n\x02\r\n");
  EXPECT_STREQ(usbprintersetting("APP", "PRINTER", "HEAD"), "ON");
  // Silent printer: the empty text.
  EXPECT_STREQ(usbprintersetting("APP", "PRINTER", "HEAD"), "");
}

}  // namespace
}  // namespace paloma::test
