// Opening by name, by the spooler's port, closing one transport per call,
// and the USB search.
#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "connection/usb_search.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

std::string usbPath(const std::string& vid, const std::string& loc) {
  return "\\\\?\\usb#vid_" + vid + "&pid_0001#" + loc + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}
const std::string kVid = PALOMA_USB_VENDOR_ID;

TEST(OpenPort, SpoolerIsTriedFirstWithTheNameUnchanged) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("LPT1", "lpt-port");
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
  EXPECT_EQ(connection().spoolerMode, 1);
  EXPECT_EQ(connection().lptMode, 0);
  auto docs = f.entries("spooler-start-doc");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(docs[0].data, "Printing...");
  EXPECT_EQ(f.entries("spooler-start-page").size(), 1u);
}

TEST(OpenPort, PortNamesAreUpperCasedAndTrimmed) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.setUsbPaths({usbPath(kVid, "a")});
  EXPECT_EQ(openport("  usb\t"), 1);
  EXPECT_EQ(connection().usbMode, 1);
  EXPECT_EQ(f.targetOf(connection().handle), usbPath(kVid, "a"));
  EXPECT_STREQ(connection().portName, "USB");

  f.addDevice("LPT2");
  EXPECT_EQ(openport(" lpt2 "), 1);
  EXPECT_EQ(connection().lptMode, 1);
  EXPECT_EQ(connection().usbMode, 0);
  EXPECT_EQ(openport("LPT5"), 0);
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_TRUE(f.messages().empty());
}

TEST(OpenPort, SerialBranchPreparesThePort) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addDevice("\\\\.\\COM12");
  ASSERT_EQ(openport("com12"), 1);
  EXPECT_EQ(connection().serialMode, 1);
  EXPECT_EQ(f.targetOf(connection().handle), "\\\\.\\COM12");
  ASSERT_EQ(f.entries("serial-purge").size(), 1u);
  EXPECT_EQ(f.entries("serial-purge")[0].value, 0x0F);
  EXPECT_EQ(f.entries("serial-mask")[0].value, 0x83);
  auto esc = f.entries("serial-escape");
  ASSERT_EQ(esc.size(), 2u);
  EXPECT_EQ(esc[0].detail, "DTR");
  EXPECT_EQ(esc[1].detail, "RTS");
  EXPECT_EQ(f.entries("serial-timeouts")[0].detail, "4294967295,0,0,10,100");
  // Missing port: 0, and openport says nothing.
  EXPECT_EQ(openport("COM7"), 0);
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_TRUE(f.messages().empty());
}

TEST(OpenPort, WideVariantKnowsOnlyCom1To5AndSpeaksUp) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  const std::u16string com12 = u"com12";
  EXPECT_EQ(openportW(reinterpret_cast<const paloma_wchar*>(com12.c_str())), 0);
  EXPECT_EQ(f.messages(),
            (std::vector<std::string>{"Error Message|com12",
                                      "Error Message|Can't Find Printer Driver, Please check Driver Name"}));
  f.clearJournal();
  const std::u16string com3 = u"COM3";
  EXPECT_EQ(openportW(reinterpret_cast<const paloma_wchar*>(com3.c_str())), 0);
  EXPECT_EQ(f.messages(), (std::vector<std::string>{"Message|Couldn't open the specific COM port."}));
  f.addDevice("COM3");
  f.clearJournal();
  EXPECT_EQ(openportW(reinterpret_cast<const paloma_wchar*>(com3.c_str())), 1);
  EXPECT_EQ(connection().serialMode, 1);
  EXPECT_TRUE(f.entries("serial-purge").empty());  // the plain open prepares nothing
  EXPECT_EQ(f.entries("open")[0].target, "COM3");
}

TEST(OpenPort, DevicePathsAreTakenAsTheyAre) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addDevice("/dev/pts/7");
  f.addDevice("/dev/usb/lp0");
  ASSERT_EQ(openport("/dev/pts/7"), 1);
  EXPECT_EQ(connection().serialMode, 1);
  ASSERT_EQ(openport("/dev/usb/lp0"), 1);
  EXPECT_EQ(connection().lptMode, 1);
  EXPECT_EQ(openport("/dev/null"), 0);
}

TEST(OpenPort, RefusesNamesThatDoNotFit) {
  FakeOsScope scope;
  EXPECT_EQ(openport(nullptr), 0);
  EXPECT_EQ(openportW(nullptr), 0);
  EXPECT_EQ(openport(std::string(32, 'A').c_str()), 0);
  EXPECT_TRUE(scope.fake().entries("spooler-open").empty());
}

TEST(ClosePort, OneTransportPerCallWithItsPause) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addDevice("\\\\.\\COM1");
  f.addTcpPeer("127.0.0.1:9100");
  ASSERT_EQ(openport("COM1"), 1);
  // A network connection added beside it.
  Socket s = f.tcpSocket();
  f.tcpConnect(s, 0x7F000001, 9100);
  connection().socket = s;
  connection().networkMode = 1;

  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(f.sleeps(), (std::vector<long>{100}));
  EXPECT_EQ(connection().serialMode, 0);
  EXPECT_EQ(connection().networkMode, 1);
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_EQ(closeport(), 0);  // isOpen is 0 though the network flag is set
  connection().isOpen = 1;
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(f.sleeps(), (std::vector<long>{100, 1000}));
  EXPECT_FALSE(f.isOpen("127.0.0.1:9100"));
  connection().isOpen = 1;
  EXPECT_EQ(closeport(), 0);  // open, but no flag
  EXPECT_EQ(connection().isOpen, 1);
}

TEST(ClosePort, SpoolerEndsPageAndDocument) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("P", "p");
  ASSERT_EQ(openport("P"), 1);
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(f.entries("spooler-end-page").size(), 1u);
  EXPECT_EQ(f.entries("spooler-end-doc").size(), 1u);
  EXPECT_FALSE(f.isOpen("spooler:P"));
  EXPECT_EQ(closeport(), 0);
}

TEST(ComparePort, MatchesThePortExactly) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Upper", "SOCKET://h");
  f.addPrinter("Two", "usb://a,usb://b");
  f.addPrinter("Lower", "socket://h");
  ASSERT_EQ(compareport("socket://h"), 1);
  EXPECT_EQ(f.targetOf(connection().handle), "spooler:Lower");
  EXPECT_EQ(connection().isOpen, 1);
  EXPECT_EQ(f.entries("spooler-start-doc").size(), 1u);
  f.clearJournal();
  EXPECT_EQ(compareport("usb://a"), 0);
  EXPECT_EQ(f.messages(),
            (std::vector<std::string>{"Error Message|usb://a",
                                      "Error Message|Can't Find Printer Driver, Please check Driver Name"}));
  EXPECT_EQ(connection().isOpen, 0);
}

TEST(ComparePort, PrinterThatWillNotOpenGivesMinusOne) {
  FakeOsScope scope;
  scope.fake().addPrinter("Stuck", "lpd://x", /*openable=*/false);
  EXPECT_EQ(compareport("lpd://x"), -1);
  EXPECT_TRUE(scope.fake().messages().empty());
}

TEST(ReturnDriver, NamesThePrinterAndLeavesItUnopened) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("Caf\xe9", "ipp://q");
  EXPECT_STREQ(returndriver("ipp://q"), "Caf\xc3\xa9");
  EXPECT_EQ(connection().spoolerMode, 1);
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_EQ(sendcommand("CLS"), 0);
  EXPECT_EQ(closeport(), 0);
  EXPECT_TRUE(f.entries("spooler-start-doc").empty());
  EXPECT_STREQ(returndriver("ipp://none"), "-1");
  EXPECT_STREQ(returndriver(nullptr), "-1");
  EXPECT_TRUE(f.messages().empty());
}

TEST(UsbSearch, LastMatchWinsAndOnlyTheMakersDevicesCount) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  std::string upper = kVid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  f.setUsbPaths({usbPath(kVid, "first"), "", usbPath("046d", "mouse"),
                 usbPath(kVid, "second"), "\\\\?\\usb#VID_" + upper + "&pid_0001#x#{g}"});
  UsbDeviceRecord r;
  EXPECT_EQ(findUsbDevice(r), 1);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(std::string(r.devicePath), usbPath(kVid, "second"));

  f.setUsbPaths({usbPath("046d", "mouse")});
  EXPECT_EQ(findUsbDevice(r), 1);
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.devicePath[0], '\0');

  f.setUsbPaths({}, /*listOk=*/false);
  EXPECT_EQ(findUsbDevice(r), 0);
  EXPECT_EQ(openport("USB"), 0);
}

TEST(UsbPortWrite, TextSpaceAndTwoLineEnds) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  EXPECT_EQ(usbportwrite("CLS"), -1);
  f.setUsbPaths({usbPath(kVid, "p")});
  EXPECT_EQ(usbportwrite(""), 0);
  EXPECT_EQ(usbportwrite("CLS"), 0);
  std::vector<std::string> w;
  for (const auto& e : f.writes()) w.push_back(e.data);
  EXPECT_EQ(w, (std::vector<std::string>{" \r\n", "\r\n", "CLS \r\n", "\r\n"}));
  EXPECT_FALSE(f.isOpen(usbPath(kVid, "p")));
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_EQ(connection().usbMode, 0);
  EXPECT_EQ(usbportwrite(std::string(4093, 'x').c_str()), -2);
  EXPECT_EQ(usbportwrite(std::string(4092, 'x').c_str()), 0);
}

TEST(UsbPortWrite, ShortWritesAreContinuedAndARefusingDeviceIsNoSuccess) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  const std::string path = usbPath(kVid, "p");
  f.setUsbPaths({path});
  f.limitWrite(path, 2);
  EXPECT_EQ(usbportwrite("CLS"), 0);
  EXPECT_EQ(f.wire(path), "CLS \r\n\r\n");
  f.clearJournal();
  f.failWritesAfter(path, 0);
  EXPECT_EQ(usbportwrite("CLS"), -2);
  EXPECT_FALSE(f.isOpen(path));
  EXPECT_EQ(connection().usbOneShotHandle, kInvalidHandle);
}

TEST(UsbPortWrite, DeviceThatWillNotOpen) {
  struct NoOpen : FakeOs {
    Handle openFile(std::string_view, const OpenMode&) override { return kInvalidHandle; }
  } fake;
  test::resetLibraryState();
  setOs(&fake);
  fake.setUsbPaths({usbPath(kVid, "p")});
  EXPECT_EQ(usbportwrite("A"), -2);
  setOs(nullptr);
}

}  // namespace
}  // namespace paloma
