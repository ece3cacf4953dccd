// The write path: transport order per writer family, line ends, one write
// versus two, the open test, and results that tell the truth.
#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "connection/write_path.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const std::string kCom = "\\\\.\\COM1";

// Opens the given transports by setting the flags on handles the fake knows.
struct Rig {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  Handle handle = kInvalidHandle;
  Socket sock = kInvalidSocket;

  void openDevice(const std::string& path, TransportKind kind) {
    f.addDevice(path);
    OpenMode m;
    handle = f.openFile(path, m);
    connection().handle = handle;
    connection().flag(kind) = 1;
    connection().isOpen = 1;
  }
  void openSocket() {
    f.addTcpPeer("127.0.0.1:9100");
    sock = f.tcpSocket();
    f.tcpConnect(sock, 0x7F000001, 9100);
    connection().socket = sock;
    connection().networkMode = 1;
    connection().isOpen = 1;
  }
};

std::vector<std::string> writesOn(const FakeOs& f, const std::string& target) {
  std::vector<std::string> out;
  for (const auto& w : f.writes(target)) out.push_back(w.data);
  return out;
}

TEST(WritePath, CommandWritersOnEachTransport) {
  struct Row {
    TransportKind kind;
    std::string target;
    std::vector<std::string> sendcommand, sendcommandW, binary;
  };
  const std::string nul("\r\n\0", 3);
  const std::vector<Row> rows = {
      {TransportKind::LptFile, "LPT1", {"CLS", "\r\n"}, {"CLS", "\r\n"}, {"AB", "\r\n"}},
      {TransportKind::UsbDevice, "usbdev", {"CLS", "\r\n"}, {"CLS", "\r\n"}, {"AB", "\r\n"}},
      {TransportKind::Serial, kCom, {"CLS\r\n"}, {"CLS\r\n"}, {"AB", "\r\n"}},
      {TransportKind::Network, "127.0.0.1:9100", {"CLS", "\r\n"}, {"CLS", nul}, {"AB", nul}},
  };
  const paloma_wchar wide[] = {u'C', u'L', u'S', 0};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    Rig rig;
    if (row.kind == TransportKind::Network) rig.openSocket();
    else rig.openDevice(row.target, row.kind);
    EXPECT_EQ(sendcommand("CLS"), 1);
    EXPECT_EQ(writesOn(rig.f, row.target), row.sendcommand);
    rig.f.clearJournal();
    EXPECT_EQ(sendcommandW(wide), 1);
    EXPECT_EQ(writesOn(rig.f, row.target), row.sendcommandW);
    rig.f.clearJournal();
    const unsigned char ab[] = {'A', 'B'};
    EXPECT_EQ(sendBinaryData(ab, 2), 1);
    EXPECT_EQ(writesOn(rig.f, row.target), row.binary);
    rig.f.clearJournal();
    EXPECT_EQ(sendcommandnocrlf("X"), 1);
    EXPECT_EQ(sendBinaryDataNoCRLF(ab, 2), 1);
    EXPECT_EQ(writesOn(rig.f, row.target), (std::vector<std::string>{"X", "AB"}));
  }
}

TEST(WritePath, SpoolerWritesTextThenLineEnd) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Shelf", "socket://127.0.0.1:9100");
  ASSERT_EQ(openport("Shelf"), 1);
  EXPECT_EQ(sendcommand("PRINT 1,1"), 1);
  EXPECT_EQ(sendcommandutf8("caf\xe9"), 1);
  EXPECT_EQ(writesOn(f, "spooler:Shelf"),
            (std::vector<std::string>{"PRINT 1,1", "\r\n", "caf\xc3\xa9", "\r\n"}));
}

TEST(WritePath, NetworkAndSerialBothSetSplitByFamily) {
  Rig rig;
  rig.openDevice(kCom, TransportKind::Serial);
  rig.openSocket();
  EXPECT_EQ(sendcommand("CLS"), 1);
  const unsigned char b[] = {'Z'};
  EXPECT_EQ(sendBinaryData(b, 1), 1);
  EXPECT_EQ(writesOn(rig.f, "127.0.0.1:9100"), (std::vector<std::string>{"CLS", "\r\n"}));
  EXPECT_EQ(writesOn(rig.f, kCom), (std::vector<std::string>{"Z", "\r\n"}));
}

TEST(WritePath, ClosedOrFlaglessConnectionWritesNothing) {
  Rig rig;
  rig.openDevice("LPT1", TransportKind::LptFile);
  const paloma_wchar w[] = {u'A', 0};
  const unsigned char b[] = {1};
  connection().isOpen = 0;  // a flag still set does not count
  EXPECT_EQ(sendcommand("A"), 0);
  EXPECT_EQ(sendcommandnocrlf("A"), 0);
  EXPECT_EQ(sendcommandW(w), 0);
  EXPECT_EQ(sendcommandutf8("A"), 0);
  EXPECT_EQ(sendBinaryData(b, 1), 0);
  EXPECT_EQ(sendBinaryDataNoCRLF(b, 1), 0);
  connection().isOpen = 1;
  connection().lptMode = 0;  // open, but no transport
  EXPECT_EQ(sendcommand("A"), 0);
  EXPECT_EQ(sendBinaryData(b, 1), 0);
  EXPECT_TRUE(rig.f.writes().empty());
}

TEST(WritePath, EmptyTextAndZeroLengthData) {
  Rig rig;
  rig.openDevice("LPT1", TransportKind::LptFile);
  EXPECT_EQ(sendcommand(""), 1);
  EXPECT_EQ(sendcommandnocrlf(""), 1);
  EXPECT_EQ(sendBinaryData(nullptr, 0), 1);
  const unsigned char zeros[] = {0, 'a', 0};
  EXPECT_EQ(sendBinaryDataNoCRLF(zeros, 3), 1);
  EXPECT_EQ(rig.f.wire("LPT1"), std::string("\r\n\r\n\0a\0", 7));
}

TEST(WritePath, ShortWritesAreContinuedAndFailuresReported) {
  Rig rig;
  rig.openDevice("LPT1", TransportKind::LptFile);
  rig.f.limitWrite("LPT1", 2);
  EXPECT_EQ(sendcommand("ABCDE"), 1);
  EXPECT_EQ(rig.f.wire("LPT1"), "ABCDE\r\n");
  EXPECT_EQ(writesOn(rig.f, "LPT1"), (std::vector<std::string>{"AB", "CD", "E", "\r\n"}));

  Rig failing;
  failing.openDevice("LPT2", TransportKind::LptFile);
  failing.f.failWritesAfter("LPT2", 0);
  EXPECT_EQ(sendcommand("CLS"), 0);
  const unsigned char b[] = {1};
  EXPECT_EQ(sendBinaryData(b, 1), 0);
}

TEST(WritePath, SerialEventFailureWritesNothing) {
  Rig rig;
  rig.openDevice(kCom, TransportKind::Serial);
  rig.f.failEvents(true);
  const paloma_wchar w[] = {u'A', 0};
  EXPECT_EQ(sendcommand("CLS"), 0);
  EXPECT_EQ(sendcommandW(w), 0);
  EXPECT_EQ(sendcommandutf8("A"), 0);
  EXPECT_EQ(binaryBufferWrite("BITMAP "), 0);
  EXPECT_TRUE(rig.f.writes().empty());
  // The event-less writers never need one.
  const unsigned char b[] = {'Z'};
  EXPECT_EQ(sendcommandnocrlf("CLS"), 1);
  EXPECT_EQ(sendBinaryData(b, 1), 1);
  EXPECT_EQ(sendBinaryDataNoCRLF(b, 1), 1);
  EXPECT_EQ(writesOn(rig.f, kCom), (std::vector<std::string>{"CLS", "Z", "\r\n", "Z"}));
}

TEST(WritePath, BinaryBufferWriteNeedsNoOpenConnection) {
  Rig rig;
  rig.openDevice(kCom, TransportKind::Serial);
  rig.openSocket();
  connection().isOpen = 0;
  EXPECT_EQ(binaryBufferWrite("DOWNLOAD \"A\",1,"), 1);  // serial before network
  EXPECT_EQ(writesOn(rig.f, kCom), (std::vector<std::string>{"DOWNLOAD \"A\",1,"}));
  EXPECT_STREQ(connection().commandBuffer, "DOWNLOAD \"A\",1,");
  connection().serialMode = connection().networkMode = 0;
  EXPECT_EQ(binaryBufferWrite("X"), 0);
}

TEST(WritePath, RefusesWhatDoesNotFitOrIsNull) {
  Rig rig;
  rig.openDevice(kCom, TransportKind::Serial);
  EXPECT_EQ(sendcommand(nullptr), 0);
  EXPECT_EQ(sendcommandW(nullptr), 0);
  EXPECT_EQ(sendBinaryData(nullptr, 4), 0);
  EXPECT_EQ(sendBinaryData(reinterpret_cast<const unsigned char*>("x"), -1), 0);
  // commandBuffer holds 655,349 bytes and the NUL; the line end is not kept there.
  std::string big(ConnectionState::kCommandBufferSize, 'A');
  EXPECT_EQ(sendcommand(big.c_str()), 0);
  EXPECT_EQ(sendcommandnocrlf(big.c_str()), 0);
  big.pop_back();
  EXPECT_EQ(sendcommand(big.c_str()), 1);
  EXPECT_EQ(rig.f.writes().back().data, big + "\r\n");
  rig.f.clearJournal();
  // 253 narrowed bytes and CR LF fill the 256-byte working buffer; 254 do not.
  std::u16string w253(253, u'A'), w254(254, u'A');
  EXPECT_EQ(sendcommandW(reinterpret_cast<const paloma_wchar*>(w253.c_str())), 1);
  EXPECT_EQ(sendcommandW(reinterpret_cast<const paloma_wchar*>(w254.c_str())), 0);
  // A character above U+00FF has no byte: refused rather than sent wrong.
  const paloma_wchar cjk[] = {u'A', static_cast<paloma_wchar>(0x57D7), 0};
  EXPECT_EQ(sendcommandW(cjk), 0);
  EXPECT_EQ(rig.f.writes().size(), 1u);
}

TEST(LibraryInfo, ConstantsAndMessages) {
  FakeOsScope scope;
  EXPECT_STREQ(dllversion(), "1.00");
  EXPECT_EQ(muta1()[0], static_cast<paloma_wchar>(0x57D7));
  EXPECT_EQ(muta1()[1], 0);
  EXPECT_EQ(about(), 1);
  const paloma_wchar abc[] = {u'a', u'b', u'c', 0};
  EXPECT_EQ(showunicode(abc, 5), 1);
  EXPECT_EQ(showunicode(abc, 2), 1);
  const char* t = testthread();
  auto msgs = scope.fake().messages();
  ASSERT_EQ(msgs.size(), 4u);
  EXPECT_EQ(msgs[0], "DLL Version|Windows DLL Version V1.0.0.2");
  EXPECT_EQ(msgs[1], "|abc");
  EXPECT_EQ(msgs[2], "|ab");
  EXPECT_EQ(msgs[3], std::string("|") + t);
}

}  // namespace
}  // namespace paloma

namespace paloma {
namespace {

// With no connection open (never opened, closed again, or only a network
// connection closed by closeethernetport), every writer fails, whatever the
// length: an empty text or zero bytes included.
TEST(WritePath, NothingOpenFailsEvenForNothingToWrite) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addDevice("/dev/ttyS0");
  f.addTcpPeer("127.0.0.1:9100");
  const paloma_wchar empty[] = {0};
  const unsigned char b[] = {'x'};
  auto expectAllFail = [&](const char* when) {
    SCOPED_TRACE(when);
    for (const char* text : {"", "CLS"}) {
      EXPECT_EQ(sendcommand(text), 0);
      EXPECT_EQ(sendcommandnocrlf(text), 0);
      EXPECT_EQ(sendcommandutf8(text), 0);
      EXPECT_EQ(ComportSendData(text), 0);
    }
    EXPECT_EQ(sendcommandW(empty), 0);
    for (int n : {0, 1}) {
      EXPECT_EQ(sendBinaryData(n ? b : nullptr, n), 0);
      EXPECT_EQ(sendBinaryDataNoCRLF(n ? b : nullptr, n), 0);
    }
  };
  expectAllFail("never opened");
  ASSERT_STREQ(opencomport("/dev/ttyS0"), "1");
  EXPECT_EQ(ComportSendData(""), 1);  // open: nothing to write is done at once
  ASSERT_EQ(closeport(), 1);
  expectAllFail("serial port closed");
  ASSERT_EQ(openethernet("127.0.0.1", 9100), 1);
  ASSERT_EQ(closeethernetport(0), 1);
  expectAllFail("network closed");
  EXPECT_TRUE(f.writes().empty());
}

}  // namespace
}  // namespace paloma

namespace paloma {
namespace {

// The line end goes out even when the body's write failed (the printer then
// sees the command end instead of taking the next command as part of it),
// and the call still reports the failure. Only the first write fails here,
// so a line end that is skipped after a failure shows.
TEST(WritePath, LineEndFollowsAFailedBody) {
  Rig rig;
  rig.openDevice("LPT1", TransportKind::LptFile);
  rig.f.failOneWrite("LPT1", 0);
  EXPECT_EQ(sendcommand("CLS"), 0);
  EXPECT_EQ(rig.f.wire("LPT1"), "\r\n");

  Rig net;
  net.openSocket();
  net.f.failOneWrite("127.0.0.1:9100", 0);
  const unsigned char b[] = {'Z', 'Z'};
  EXPECT_EQ(sendBinaryData(b, 2), 0);
  EXPECT_EQ(net.f.wire("127.0.0.1:9100"), std::string("\r\n\0", 3));
  EXPECT_EQ(sendBinaryData(b, 2), 1);  // the next command goes through whole
}

// A failed connect leaves no socket of the call's own open, and the
// connection held before stays as it was.
TEST(Network, AFailedConnectLeavesNoSocketOpen) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addTcpPeer("127.0.0.1:9100");
  ASSERT_EQ(openethernet("127.0.0.1", 9100), 1);
  const Socket held = connection().socket;
  ASSERT_EQ(f.openSockets(), 1);
  EXPECT_EQ(openethernet("127.0.0.1", 9101), 0);  // nobody listens there
  EXPECT_EQ(openethernet("127.0.0.300", 9100), 0);  // no address
  EXPECT_EQ(f.openSockets(), 1);
  EXPECT_EQ(connection().socket, held);
  EXPECT_EQ(f.entries("close-socket").size(), 1u);
  EXPECT_EQ(f.entries("close-socket")[0].target, "tcp#" + std::to_string(held + 1));
}

}  // namespace
}  // namespace paloma
