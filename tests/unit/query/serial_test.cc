// Serial port opening and line settings.
#include "replies_fixture.h"

namespace paloma::test {
namespace {

const bool kRegistered = (registerStateReset(&resetReplyState), true);

using SerialTest = RepliesTest;

// A machine on which ports under /missing/ do not exist.
class MissingPortsOs : public FakeOs {
 public:
  Handle openFile(std::string_view path, const OpenMode& mode) override {
    if (path.rfind("/missing/", 0) == 0) return kInvalidHandle;
    return FakeOs::openFile(path, mode);
  }
};

std::string line(const SerialSettings& s) {
  return std::to_string(s.baudRate) + "," + std::to_string(s.byteSize) + "," +
         std::to_string(s.parity) + "," + std::to_string(s.stopBits) +
         (s.parityCheck ? ",check" : "") + (s.dsrSensitivity ? ",dsr" : "");
}

TEST_F(SerialTest, OpenSetsDefaultsAndKeepsTheNameAsGiven) {
  f.addDevice(kTty);
  Handle other = f.openFile(kTty, OpenMode{});
  SerialSettings odd{19200, 7, 2, 2, true, true};
  f.serialSetState(other, odd);
  EXPECT_STREQ(opencomport(kTty.c_str()), "1");
  EXPECT_EQ(line(f.serialStateOf(kTty)), "9600,8,0,0,dsr") << "DSR sensitivity kept";
  EXPECT_EQ(connection().isOpen, 1);
  EXPECT_EQ(connection().serialMode, 1);
  auto opens = f.entries("open");
  // An existing terminal only: never created, never truncated.
  EXPECT_EQ(opens.back().detail, "access=3 share=2 disp=3 overlapped");
}

// A serial port name that is a file's name (or a device name without /dev/)
// opens nothing: the file is neither created nor emptied, and the opener
// fails with its own result and says why.
TEST_F(SerialTest, SerialOpenersNeverTouchAFile) {
  f.addDevice("a.txt", "the user's data");
  paloma_clear_error();
  EXPECT_STREQ(opencomport("a.txt"), "0");
  EXPECT_NE(std::string(paloma_last_error()).find("a.txt"), std::string::npos);
  EXPECT_STREQ(opencomport("ttyUSB0"), "0");
  EXPECT_EQ(SetRS232_port("a.txt", "9600", "N", "8", "1"), 0);
  EXPECT_EQ(SetRS232_port("b.txt", "9600", "N", "8", "1"), 0);
  EXPECT_EQ(openport("COM1"), 0);  // \\.\COM1 was not added: no port there
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_TRUE(f.entries("open").empty());
  EXPECT_TRUE(f.writes().empty());
  // The real backend's side (a regular file, a pty) is in the integration tests.
}

// Each opencomport replaces the connection's port: the one it replaces is
// closed (after the usual pause for the port to drain), so a thousand opens
// hold one port, and closeport frees it.
TEST_F(SerialTest, ReopeningClosesThePortItReplaces) {
  f.addDevice(kTty);
  f.addDevice("/dev/lp0");
  ASSERT_EQ(openport("/dev/lp0"), 1);  // a file port, replaced too
  for (int i = 0; i < 1000; ++i) ASSERT_STREQ(opencomport(kTty.c_str()), "1");
  EXPECT_EQ(f.entries("open").size(), 1001u);
  EXPECT_EQ(f.entries("close").size(), 1000u);
  EXPECT_EQ(connection().lptMode, 0) << "the file port it closed is no transport any more";
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(f.entries("close").size(), 1001u);
  EXPECT_FALSE(f.isOpen(kTty));
  EXPECT_FALSE(f.isOpen("/dev/lp0"));
}

TEST_F(SerialTest, OpenFailureLeavesTheConnection) {
  MissingPortsOs missing;
  setOs(&missing);
  missing.addTcpPeer(kPrinterPeer);
  ASSERT_EQ(openethernet("127.0.0.1", 9100), 1);
  Socket s = connection().socket;
  EXPECT_STREQ(opencomport("/missing/ttyS9"), "0");
  EXPECT_EQ(connection().serialMode, 0);
  EXPECT_EQ(connection().networkMode, 1);
  EXPECT_EQ(connection().socket, s);
  EXPECT_EQ(connection().handle, kInvalidHandle);
  EXPECT_STREQ(opencomport(nullptr), "0");
  setOs(&f);
}

TEST_F(SerialTest, SettingTextsMatchWhole) {
  openSerial();
  struct Case {
    const char *baud, *parity, *data, *stop;
    std::string result;
  } cases[] = {
      {"19200", "E", "7", "2", "19200,7,2,2,dsr"},
      {"9600", "N", "8", "1", "9600,8,0,0,dsr"},
      {"115200", "O", "7", "2", "115200,7,1,2,dsr"},
      {"96000", "e", "8 ", "3", "115200,7,1,2,dsr"},  // none match: all kept
      {"2400", "x", "8", "1", "2400,8,1,0,dsr"},      // only parity kept
      {"", "E", "", "", "2400,8,2,0,dsr"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetRS232(c.baud, c.parity, c.data, c.stop), 1);
    EXPECT_EQ(line(f.serialStateOf(kTty)), c.result) << c.baud << " " << c.parity;
    EXPECT_EQ(line(connection().serialSettings), c.result);
  }
  EXPECT_EQ(comportdefault(), 1);
  EXPECT_EQ(line(f.serialStateOf(kTty)), "9600,8,0,0,dsr");
  EXPECT_EQ(SetRS232(nullptr, "N", "8", "1"), 0);
}

TEST_F(SerialTest, PortOfItsOwn) {
  f.addDevice("/dev/ttyS3");
  EXPECT_EQ(SetRS232_port("/dev/ttyS3", "57600", "N", "8", "2"), 1);
  EXPECT_EQ(line(f.serialStateOf("/dev/ttyS3")), "57600,8,0,2,dsr");
  EXPECT_FALSE(f.isOpen("/dev/ttyS3"));
  EXPECT_EQ(connection().isOpen, 0);
  MissingPortsOs missing;
  setOs(&missing);
  EXPECT_EQ(SetRS232_port("/missing/ttyS9", "9600", "N", "8", "1"), 0);
  setOs(&f);
}

TEST_F(SerialTest, SettingsThatCannotBeReadGiveZero) {
  // No port behind the connection's handle.
  EXPECT_EQ(SetRS232("9600", "N", "8", "1"), 0);
  EXPECT_EQ(comportdefault(), 0);
  openSerial();
  closeport();  // the handle is closed now
  EXPECT_EQ(SetRS232("9600", "N", "8", "1"), 0);
}

}  // namespace
}  // namespace paloma::test
