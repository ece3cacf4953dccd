// The exact bytes every information query puts on the wire, per transport.
#include <string>

#include "info_fixture.h"
#include "paloma.h"

namespace paloma::test {
namespace {

const bool kReplyStateReset = (registerStateReset(&resetReplyState), true);

using Query = const char* (*)();
struct RequestCase {
  const char* name;
  Query query;
  std::string request;
};

const std::string kDpi = "OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT \"\x02\"\r\n";
const std::string kLabels = "OUT @LABEL\r\nOUT \"\x02\"\r\n";

const RequestCase kSerialCases[] = {
    {"codepage", comportprintercodepage, "~!I\n OUT \"\x02\"\n"},
    {"completestatus", comportprintercompletestatus, "\x1b!S\n\rOUT \"\x02\"\n\r"},
    {"dpi", comportprinterdpi, kDpi},
    {"file", comportprinterfile, "~!F\n OUT \"\x02\"\n"},
    {"freememory", comportprinterfreememory, "~!A\n OUT \"\x02\"\n"},
    {"mileage", comportprintermileage, "~!@\n OUT \"\x02\"\n"},
    {"name", comportprintername, "~!T\n OUT \"\x02\"\n"},
    {"peel", comportprinterpeel, "OUT GETSENSOR(\"PEEL\")\n OUT \"\x02\"\n"},
    {"quantity", comportprinterquantity, kLabels},
    {"serial", comportprinterserial, "OUT _SERIAL$\r\nOUT \"\x02\"\r\n"},
};

const RequestCase kNetworkCases[] = {
    {"codepage", ethernetprintercodepage, "~!I\n OUT \"\x02\"\n"},
    {"completestatus", ethernetprintercompletestatus, "\x1b!S\r\n"},
    {"dpi", ethernetprinterdpi, kDpi},
    {"file", ethernetprinterfile, "~!F\n OUT \"\x02\"\n"},
    {"freememory", ethernetprinterfreememory, "~!A\n OUT \"\x02\"\n"},
    {"mileage", ethernetprintermileage, "~!@\n OUT \"\x02\"\n"},
    {"name", ethernetprintername, "~!T\n OUT \"\x02\"\n"},
    {"peel", ethernetprinterpeel, "OUT GETSENSOR(\"PEEL\")\n OUT \"\x02\"\n"},
    {"quantity", ethernetprinterquantity, kLabels},
    {"serial", ethernetprinterserial, "OUT _SERIAL$\r\n"},
};

const RequestCase kUsbCases[] = {
    {"codepage", usbprintercodepage, "~!I\n\rOUT \"\x02\"\n\r"},
    {"completestatus", usbprintercompletestatus, "\x1b!S\n\rOUT \"\x02\"\n\r"},
    {"dpi", usbprinterdpi, kDpi},
    {"file", usbprinterfile, "~!F\n\rOUT \"\x02\"\n\r"},
    {"freememory", usbprinterfreememory, "~!A\n\rOUT \"\x02\"\n\r"},
    {"mileage", usbprintermileage, "~!@\n\rOUT \"\x02\"\n\r"},
    {"name", usbprintername, "~!T\n\rOUT \"\x02\"\n\r"},
    {"peel", usbprinterpeel, "OUT GETSENSOR(\"PEEL\")\n\rOUT \"\x02\"\n\r"},
    {"quantity", usbprinterquantity, kLabels},
    {"serial", usbprinterserial, "OUT _SERIAL$\r\n"},
};

class InfoRequestTest : public InfoTest {};

TEST_F(InfoRequestTest, SerialQueriesWriteTheirRequestOnTheConnectionsPort) {
  for (const auto& c : kSerialCases) {
    SCOPED_TRACE(c.name);
    openSerial();
    c.query();
    EXPECT_EQ(onlyWrite(kSerialPort), c.request);
    EXPECT_EQ(f.writes(kSerialPort).front().detail, "overlapped");
    // The reply is read after a 500 ms pause.
    ASSERT_FALSE(f.sleeps().empty());
    EXPECT_EQ(f.sleeps().front(), 500);
  }
}

TEST_F(InfoRequestTest, NetworkQueriesSendOneBlockOf200Bytes) {
  for (const auto& c : kNetworkCases) {
    SCOPED_TRACE(c.name);
    openNetwork();
    c.query();
    EXPECT_EQ(onlyWrite(kPeer), block(c.request, 200));
  }
}

TEST_F(InfoRequestTest, UsbQueriesWriteTheExactRequestOnAHandleOfTheirOwn) {
  // The USB requests are 14, 14, 56, 14, 14, 14, 14, 32, 21 and 14 bytes long.
  const std::size_t lengths[] = {14, 14, 56, 14, 14, 14, 14, 32, 21, 14};
  std::size_t i = 0;
  for (const auto& c : kUsbCases) {
    SCOPED_TRACE(c.name);
    attachUsb();
    f.clearJournal();
    c.query();
    std::string sent = onlyWrite(usbPrinterPath());
    EXPECT_EQ(sent, c.request);
    EXPECT_EQ(sent.size(), lengths[i++]);
    auto opens = f.entries("open");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].target, usbPrinterPath());
    // Read and write, no sharing, create-always, overlapped.
    EXPECT_EQ(opens[0].detail, "access=3 share=0 disp=1 overlapped");
    EXPECT_FALSE(f.isOpen(usbPrinterPath())) << "the query handle is closed";
  }
}

TEST_F(InfoRequestTest, NetworkSettingSendsA1024ByteBlock) {
  openNetwork();
  f.queueRecv(kPeer, "203\r\n\x02\r\n");
  EXPECT_STREQ(ethernetprintersetting("SYSTEM", "INFORMATION", "DPI"), "203\r\n\x02\r\n");
  EXPECT_EQ(onlyWrite(kPeer),
            block("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT CHR$(02)\r\n", 1024));
}

TEST_F(InfoRequestTest, UsbSettingWritesTheTextOnTheOpenConnection) {
  openUsbConnection();
  f.queueRead(usbPrinterPath(), "203\r\n\x02\r\n");
  EXPECT_STREQ(usbprintersetting("SYSTEM", "INFORMATION", "DPI"), "203");
  EXPECT_EQ(onlyWrite(usbPrinterPath()),
            "OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT CHR$(02)\r\n");
  EXPECT_TRUE(f.entries("open").empty()) << "no handle of its own";
}

TEST_F(InfoRequestTest, SettingRequestsThatDoNotFitOrLackAnArgumentAreRefusedUnsent) {
  openNetwork();
  // 1023 bytes of text fill the block with its NUL; one more does not fit.
  const std::size_t frame = std::string("OUT GETSETTING$(\"\",\"\",\"\")\r\nOUT CHR$(02)\r\n").size();
  const std::string fits(1023 - frame, 'x');
  const std::string tooLong(1024 - frame, 'x');
  f.queueRecv(kPeer, "ok");
  EXPECT_STREQ(ethernetprintersetting(fits.c_str(), "", ""), "ok");
  EXPECT_EQ(f.writes(kPeer).size(), 1u);
  f.clearJournal();

  EXPECT_STREQ(ethernetprintersetting(tooLong.c_str(), "", ""), "-1");
  EXPECT_STREQ(ethernetprintersetting("a", nullptr, "c"), "-1");
  EXPECT_TRUE(f.writes(kPeer).empty());

  openUsbConnection();
  EXPECT_STREQ(usbprintersetting(tooLong.c_str(), "", ""), "");
  EXPECT_STREQ(usbprintersetting(nullptr, "b", "c"), "");
  EXPECT_TRUE(f.writes().empty());
}

// A line end or a double quote in any of the three quoted fields would
// close the field or the command and let the rest run as commands of its own.
TEST_F(InfoRequestTest, SettingArgumentsWithALineEndOrQuoteAreRefusedUnsent) {
  const char* bad[] = {"X\r\nPRINT 9,9\r\n", "A\nB", "A\rB", "C\")X"};
  for (int arg = 0; arg < 3; ++arg) {
    for (const char* text : bad) {
      const char* args[3] = {"SYSTEM", "INFORMATION", "DPI"};
      args[arg] = text;
      const std::string argName(1, static_cast<char>('a' + arg));
      openNetwork();
      paloma_clear_error();
      EXPECT_STREQ(ethernetprintersetting(args[0], args[1], args[2]), "-1") << text;
      EXPECT_NE(std::string(paloma_last_error()).find("argument " + argName), std::string::npos)
          << paloma_last_error();
      openUsbConnection();
      EXPECT_STREQ(usbprintersetting(args[0], args[1], args[2]), "") << text;
      EXPECT_TRUE(f.writes().empty()) << text;
    }
  }
}

TEST_F(InfoRequestTest, RestartsSendTheirBytesAndTellWhetherTheyWereTaken) {
  openSerial();
  EXPECT_EQ(comportprinterrestart(), 1);
  EXPECT_EQ(onlyWrite(kSerialPort), "\x1b!R\n");

  openNetwork();
  EXPECT_EQ(ethernetprinterrestart(), 1);
  EXPECT_EQ(onlyWrite(kPeer), block("\x1b!R\n", 200));
  EXPECT_TRUE(f.entries("recv").empty()) << "no reply is read";

  attachUsb();
  f.clearJournal();
  EXPECT_EQ(usbprinterrestart(), 1);
  EXPECT_EQ(onlyWrite(usbPrinterPath()), "\x1b!R\r");
  EXPECT_EQ(f.writes(usbPrinterPath()).front().detail, "file") << "one synchronous write";
  EXPECT_EQ(f.entries("open").at(0).detail, "access=3 share=0 disp=0");
  EXPECT_FALSE(f.isOpen(usbPrinterPath()));
  EXPECT_EQ(connection().usbOneShotHandle, kInvalidHandle);

  // Refused writes are reported, not hidden.
  f.failWritesAfter(kSerialPort, 0);
  f.failWritesAfter(kPeer, 0);
  f.failWritesAfter(usbPrinterPath(), 0);
  EXPECT_EQ(comportprinterrestart(), 0);
  EXPECT_EQ(ethernetprinterrestart(), 0);
  EXPECT_EQ(usbprinterrestart(), 0);
}

// A USB printer that is listed but cannot be opened.
class UnopenableUsbOs : public FakeOs {
 public:
  Handle openFile(std::string_view path, const OpenMode& mode) override {
    if (path == usbPrinterPath()) return kInvalidHandle;
    return FakeOs::openFile(path, mode);
  }
};

TEST_F(InfoRequestTest, UsbRestartWithoutPrinterOrUnopenedDevice) {
  EXPECT_EQ(usbprinterrestart(), -1);
  EXPECT_TRUE(f.entries("open").empty());

  UnopenableUsbOs unopenable;
  unopenable.setUsbPaths({usbPrinterPath()});
  setOs(&unopenable);
  EXPECT_EQ(usbprinterrestart(), -2);
  EXPECT_TRUE(unopenable.writes().empty());
  setOs(&f);
}

}  // namespace
}  // namespace paloma::test
