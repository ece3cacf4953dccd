// The serial transport on a real COM port: Wine maps the port to a pty whose
// other side is bridged to a loopback TCP socket (scripts/wine-tests.sh sets
// this up and names the port and the bridge in PALOMA_WIN32_COM and
// PALOMA_WIN32_COM_PEER). Without them the tests are skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "connection/connection_state.h"
#include "paloma.h"
#include "peer.h"
#include "platform/os.h"

namespace paloma::test {
namespace {

class Win32Serial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* com = std::getenv("PALOMA_WIN32_COM");
    const char* peer = std::getenv("PALOMA_WIN32_COM_PEER");
    if (!com || !peer) return;
    winsock_ = new WinsockScope;
    port_ = com;
    printer_ = new PeerSocket(PeerSocket::connectLoopback(
        static_cast<std::uint16_t>(std::atoi(peer))));
  }
  static void TearDownTestSuite() {
    delete printer_;
    printer_ = nullptr;
    delete winsock_;
    winsock_ = nullptr;
  }
  void SetUp() override {
    if (!printer_) GTEST_SKIP() << "no COM port bridged (run scripts/wine-tests.sh)";
    ASSERT_TRUE(printer_->valid());
    printer_->readUntilQuiet(50, 500);  // nothing left from an earlier test
  }
  void TearDown() override {
    while (closeport() == 1) {
    }
  }

  static WinsockScope* winsock_;
  static PeerSocket* printer_;
  static std::string port_;
};
WinsockScope* Win32Serial::winsock_ = nullptr;
PeerSocket* Win32Serial::printer_ = nullptr;
std::string Win32Serial::port_;

TEST_F(Win32Serial, OpenportWritesAndReadsTheStatusByte) {
  ASSERT_EQ(openport(port_.c_str()), 1);
  ASSERT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(printer_->readAtLeast(5, 3000), "CLS\r\n");
  ASSERT_EQ(sendcommandnocrlf("SIZE 4,2"), 1);
  EXPECT_EQ(printer_->readAtLeast(8, 3000), "SIZE 4,2");

  // The status byte must be there within the reader's 500 ms pause.
  std::string request;
  std::thread answer([&] {
    request = printer_->readAtLeast(3, 2000);
    printer_->sendBytes(std::string("\x04", 1));
  });
  std::string status = comportprinterstatus();
  answer.join();
  EXPECT_EQ(request.substr(0, 3), "\x1b!?");
  EXPECT_EQ(status, "04");

  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(closeport(), 1);
  EXPECT_GE(GetTickCount64() - start, 90u);
}

TEST_F(Win32Serial, LineSettingsReachThePort) {
  // A pty keeps the baud rate and the stop bits; Linux holds every pty at
  // eight data bits without parity, and Wine does not keep DSR sensitivity,
  // so those three are not read back here.
  ASSERT_EQ(openport(port_.c_str()), 1);
  ASSERT_EQ(SetRS232("19200", "E", "7", "2"), 1);
  SerialSettings s;
  ASSERT_TRUE(platformOs().serialGetState(connection().handle, &s));
  EXPECT_EQ(s.baudRate, 19200u);
  EXPECT_EQ(s.stopBits, 2);

  // A text outside the table leaves its field alone; the others apply.
  ASSERT_EQ(SetRS232("9601", "N", "8", "1"), 1);
  ASSERT_TRUE(platformOs().serialGetState(connection().handle, &s));
  EXPECT_EQ(s.baudRate, 19200u);
  EXPECT_EQ(s.stopBits, 0);

  // The port still carries data after the changes.
  ASSERT_EQ(sendcommand("PRINT 1,1"), 1);
  EXPECT_EQ(printer_->readAtLeast(11, 3000), "PRINT 1,1\r\n");
}

TEST_F(Win32Serial, OpencomportSetsTheDefaultsAndWrites) {
  EXPECT_STREQ(opencomport(port_.c_str()), "1");
  SerialSettings s;
  ASSERT_TRUE(platformOs().serialGetState(connection().handle, &s));
  EXPECT_EQ(s.baudRate, 9600u);
  EXPECT_EQ(s.byteSize, 8);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.stopBits, 0);
  ASSERT_EQ(ComportSendData("~!T"), 1);
  EXPECT_EQ(printer_->readAtLeast(3, 3000), "~!T");
}

// A port name that is a file's name opens nothing: the file is neither
// created nor emptied. Needs no COM port, so it runs without the bridge.
TEST(Win32SerialNames, AFileNameIsNoPort) {
  char dir[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
  const std::string file = std::string(dir) + "paloma-serial-name.txt";
  const std::string missing = std::string(dir) + "paloma-serial-missing.txt";
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, "data", 4, &written, nullptr);
  CloseHandle(h);
  DeleteFileA(missing.c_str());

  EXPECT_STREQ(opencomport(file.c_str()), "0");
  EXPECT_EQ(SetRS232_port(file.c_str(), "9600", "N", "8", "1"), 0);
  EXPECT_STREQ(opencomport(missing.c_str()), "0");
  WIN32_FILE_ATTRIBUTE_DATA info{};
  ASSERT_TRUE(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ(info.nFileSizeLow, 4u);
  EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(file.c_str());
}

TEST_F(Win32Serial, ReopeningClosesThePortItReplaces) {
  ASSERT_STREQ(opencomport(port_.c_str()), "1");
  Handle first = connection().handle;
  // Where a port opens only once at a time the second open fails and the
  // first connection stays; where it opens, the first handle is closed.
  if (std::string(opencomport(port_.c_str())) == "1") {
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(reinterpret_cast<HANDLE>(first), &flags));
  } else {
    EXPECT_EQ(connection().handle, first);
  }
  ASSERT_EQ(ComportSendData("~!T"), 1);
  EXPECT_EQ(printer_->readAtLeast(3, 3000), "~!T");
}

TEST_F(Win32Serial, ReadsReturnWhatHasArrivedWithoutWaiting) {
  ASSERT_EQ(openport(port_.c_str()), 1);
  Handle h = connection().handle;
  char buf[64];
  ULONGLONG start = GetTickCount64();
  IoResult none = platformOs().readFile(h, buf, sizeof buf, ReadWait::Arrived, 0);
  EXPECT_LT(GetTickCount64() - start, 500u);
  EXPECT_EQ(none.count, 0u);

  ASSERT_TRUE(printer_->sendBytes("OK\r"));
  std::string got;
  for (int i = 0; i < 40 && got.size() < 3; ++i) {
    IoResult r = platformOs().readFile(h, buf, sizeof buf, ReadWait::Arrived, 0);
    got.append(buf, r.count);
    if (got.size() < 3) Sleep(50);
  }
  EXPECT_EQ(got, "OK\r");
}

}  // namespace
}  // namespace paloma::test
