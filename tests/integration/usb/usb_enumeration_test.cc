// Finding the maker's printer among the USB devices, and what the printer
// receives from the writers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paloma.h"
#include "platform/os.h"
#include "support/wide_text.h"
#include "usb_fixture.h"

namespace paloma_test {
namespace {

using UsbEnumeration = UsbTest;
using UsbWrites = UsbTest;

TEST_F(UsbEnumeration, LastMakerPrinterWinsAndAnotherVendorIsNeverChosen) {
  EmulatedPrinter& first = bench().plug(printerAt(3, 0x0001));
  EmulatedPrinter& last = bench().plug(printerAt(5, 0x0002));
  UsbPrinterSpec other = printerAt(7, 0x0003);
  other.vendor = 0x1234;  // enumerated after both, a printer too
  EmulatedPrinter& stranger = bench().plug(other);

  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, sendcommand("CLS"));
  EXPECT_EQ(1, closeport());
  EXPECT_EQ(0, usbportwrite("HOME"));
  EXPECT_EQ("", first.received());
  EXPECT_EQ("CLS\r\nHOME \r\n\r\n", last.received());
  EXPECT_EQ("", stranger.received());
}

TEST_F(UsbEnumeration, AnotherVendorAloneIsNoPrinter) {
  UsbPrinterSpec other = printerAt(2);
  other.vendor = 0x1234;
  EmulatedPrinter& stranger = bench().plug(other);
  EXPECT_EQ(0, openport("USB"));
  EXPECT_EQ(-1, usbportwrite("HOME"));
  EXPECT_STREQ("-1", usbprinterstatus());
  EXPECT_EQ(-1, usbportqueryprinter());
  EXPECT_EQ(-1, usbprinterrestart());
  EXPECT_EQ(0, openusbportmult(1));
  EXPECT_EQ("", stranger.received());
}

TEST_F(UsbEnumeration, DevicesAreListedByWindowsFormInterfacePaths) {
  EmulatedPrinter& p = bench().plug(printerAt(4, 0x00ab));
  const std::string expected = std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID +
                               "&pid_00ab#b001p4#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  EXPECT_EQ(expected, p.interfacePath());
  std::vector<std::string> paths;
  ASSERT_TRUE(paloma::platformOs().usbInterfaces(&paths));
  EXPECT_EQ(std::vector<std::string>{expected}, paths);
  // The vendor sits at characters 8 to 15, where the search looks for it.
  EXPECT_EQ(std::string("vid_") + PALOMA_USB_VENDOR_ID, expected.substr(8, 8));
}

TEST_F(UsbEnumeration, TheKernelPrinterDriverIsDetachedWhileOpenAndGivenBack) {
  UsbPrinterSpec s = printerAt(1);
  s.kernelDriver = "usblp";
  EmulatedPrinter& p = bench().plug(s);
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ("", p.kernelDriver());
  EXPECT_EQ(1, sendcommand("CLS"));
  EXPECT_STREQ("00", usbprinterstatus());  // a second handle on the same device
  EXPECT_EQ("", p.kernelDriver());
  EXPECT_EQ(1, closeport());
  EXPECT_EQ("usblp", p.kernelDriver());
  EXPECT_EQ(0, usbportwrite("HOME"));
  EXPECT_EQ("usblp", p.kernelDriver());
  EXPECT_EQ("CLS\r\n\x1b!?\r\nHOME \r\n\r\n", p.received());
}

TEST_F(UsbEnumeration, AnInterfaceHeldByAnotherProgramDoesNotOpen) {
  UsbPrinterSpec s = printerAt(1);
  s.kernelDriver = "usblp";
  EmulatedPrinter& p = bench().plug(s);
  p.setClaimedElsewhere(true);
  EXPECT_EQ(0, openport("USB"));
  EXPECT_EQ(-2, usbportwrite("HOME"));
  EXPECT_EQ(-2, usbprinterrestart());
  EXPECT_EQ(0, openusbportmult(1));
  EXPECT_EQ("", p.received());
  p.setClaimedElsewhere(false);  // released
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, sendcommand("CLS"));
  EXPECT_EQ("CLS\r\n", p.received());
}

TEST_F(UsbWrites, CommandsAndBinaryDataArriveExactlyWithTheirLineEnds) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  std::string binary;
  for (int i = 0; i < 200; ++i) binary.push_back(static_cast<char>(i * 7));  // NUL, CR, LF inside
  EXPECT_EQ(1, sendcommand("SIZE 50 mm, 30 mm"));
  EXPECT_EQ(1, sendBinaryData(reinterpret_cast<const unsigned char*>(binary.data()),
                              static_cast<int>(binary.size())));
  EXPECT_EQ(1, sendcommandnocrlf("CLS"));
  EXPECT_EQ("SIZE 50 mm, 30 mm\r\n" + binary + "\r\nCLS", p.received());
  // Each text and its line end are transfers of their own.
  EXPECT_EQ((std::vector<std::size_t>{17, 2, 200, 2, 3}), p.outTransfers());
}

TEST_F(UsbWrites, ALabelIsInterpretedAsOverTcp) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, setup("50", "30", "4", "8", "0", "3", "0"));
  EXPECT_EQ(1, clearbuffer());
  EXPECT_EQ(1, printerfont("10", "10", "3", "0", "1", "1", "USB"));
  EXPECT_EQ(1, windowsfont(10, 60, 32, 0, 0, 0, "DejaVu Sans", "Host font"));
  EXPECT_EQ(1, printlabel("1", "1"));
  EXPECT_EQ(1, closeport());
  EXPECT_EQ(1u, p.labelsPrinted());
  EXPECT_EQ(0u, p.interpreterErrors());
  EXPECT_NE(std::string::npos, p.received().find("BITMAP 10,60,"));
}

TEST_F(UsbWrites, WideOpenerDownloadsAndTheConnectionStatus) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  EXPECT_STREQ("-1", printerstatus());
  ASSERT_EQ(1, openportW(paloma::test::wide(u"usb").c_str()));
  EXPECT_STREQ("", printerstatus());  // a USB-device connection is not asked
  const std::string bmp = std::string("BM\0\0\r\n", 6) + std::string(70, '\x7f');
  std::string path = tempFile(bmp);
  EXPECT_EQ(1, downloadbmp(path.c_str(), "A.BMP"));
  EXPECT_EQ(1, downloadmemory("F", path.c_str(), "B.BMP"));
  EXPECT_EQ("DOWNLOAD \"A.BMP\",76," + bmp + "\r\nDOWNLOAD F,\"B.BMP\",76," + bmp + "\r\n",
            p.received());
  EXPECT_EQ(0u, p.interpreterErrors());
}

TEST_F(UsbWrites, TheOneShotWriterSharesTheDeviceWithTheOpenConnection) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, sendcommand("A"));
  EXPECT_EQ(0, usbportwrite("B"));
  EXPECT_EQ(1, sendcommand("C"));  // the connection outlives the writer's handle
  EXPECT_EQ("A\r\nB \r\n\r\nC\r\n", p.received());
}

TEST_F(UsbWrites, LargeDataCrossesManyPacketsIntact) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  std::string data(300000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) >> 3);
  EXPECT_EQ(1, sendBinaryDataNoCRLF(reinterpret_cast<const unsigned char*>(data.data()),
                                    static_cast<int>(data.size())));
  EXPECT_EQ(data, p.received());
}

TEST_F(UsbWrites, FilesAndDownloadsCarryTheFileUnchanged) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  std::string image = "\x0a\x05\x01\x01";
  for (int i = 0; i < 250; ++i) image.push_back(static_cast<char>(i % 3 ? '\r' : (i & 0xff)));
  std::string path = tempFile(image);
  EXPECT_EQ(0, downloadpcx(path.c_str(), "LOGO.PCX"));  // nothing open yet
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, downloadpcx(path.c_str(), "LOGO.PCX"));
  EXPECT_EQ("DOWNLOAD \"LOGO.PCX\"," + std::to_string(image.size()) + "," + image + "\r\n",
            p.received());
  p.clearReceived();
  EXPECT_EQ(1, sendfile(path.c_str()));
  EXPECT_EQ(image + "\r\n", p.received());
}

TEST_F(UsbWrites, OneShotWriterNeedsNoConnectionAndRefusesOversizedText) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  EXPECT_EQ(0, usbportwrite("PRINT 1"));
  EXPECT_EQ(0, usbportwrite(""));
  std::string longest(4092, 'A');
  EXPECT_EQ(0, usbportwrite(longest.c_str()));
  EXPECT_EQ(-2, usbportwrite((longest + "A").c_str()));
  EXPECT_EQ("PRINT 1 \r\n\r\n \r\n\r\n" + longest + " \r\n\r\n", p.received());
  EXPECT_EQ(1, usbprinterrestart());
  EXPECT_EQ("\x1b!R\r", p.received().substr(p.received().size() - 4));
}

}  // namespace
}  // namespace paloma_test
