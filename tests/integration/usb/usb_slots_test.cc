// The five printer slots on emulated USB printers: handed out in enumeration
// order, each slot's commands and queries reaching its own printer.
#include <gtest/gtest.h>

#include <string>

#include "paloma.h"
#include "support/wide_text.h"
#include "usb_fixture.h"

namespace paloma_test {
namespace {

using UsbSlots = UsbTest;

TEST_F(UsbSlots, SlotsTakeThePrintersInEnumerationOrder) {
  UsbPrinterSpec a = printerAt(2, 0x0010), b = printerAt(6, 0x0020);
  a.status = 0x01;
  b.status = 0x04;
  a.settings["APP/SEC/KEY"] = "first";
  b.settings["APP/SEC/KEY"] = "second";
  EmulatedPrinter& first = bench().plug(a);
  EmulatedPrinter& second = bench().plug(b);

  ASSERT_EQ(1, openusbportmult(1));
  ASSERT_EQ(1, openusbportmult(2));
  EXPECT_EQ(0, openusbportmult(3));  // only two printers

  EXPECT_EQ(1, sendcommandmult(2, "CLS"));
  EXPECT_EQ(1, sendcommandmult(1, "HOME"));
  EXPECT_EQ(1, printerfontmult(2, "1", "2", "3", "0", "1", "1", "B"));
  EXPECT_EQ("HOME\r\n", first.received());
  EXPECT_EQ("CLS\r\nTEXT 1,2,\"3\",0,1,1,\"B\"\r\n", second.received());

  EXPECT_STREQ("01", usbprinterstatusmult(1));
  EXPECT_STREQ("04", usbprinterstatusmult(2));
  EXPECT_STREQ("second", usbprintersettingmult(2, "APP", "SEC", "KEY"));
  EXPECT_STREQ("first", usbprintersettingmult(1, "APP", "SEC", "KEY"));
  EXPECT_STREQ("-1", usbprinterstatusmult(3));  // nothing open there

  EXPECT_EQ(1, closeportmult(2));
  first.clearReceived();
  second.clearReceived();
  EXPECT_EQ(0, sendcommandmult(2, "CLS"));
  EXPECT_EQ(1, sendcommandmult(1, "CLS"));
  EXPECT_EQ("", second.received());
  EXPECT_EQ("CLS\r\n", first.received());
}

TEST_F(UsbSlots, SlotFilesAndHostFontTextReachTheSlotPrinter) {
  EmulatedPrinter& first = bench().plug(printerAt(2));
  EmulatedPrinter& second = bench().plug(printerAt(3));
  ASSERT_EQ(1, openusbportmult(1));
  ASSERT_EQ(1, openusbportmult(2));
  std::string image = std::string("PCX\r\n\0\xff", 7) + std::string(100, '\x55');
  std::string path = tempFile(image);
  EXPECT_EQ(1, downloadpcxmult(2, path.c_str(), "A.PCX"));
  EXPECT_EQ("DOWNLOAD \"A.PCX\"," + std::to_string(image.size()) + "," + image + "\r\n",
            second.received());
  EXPECT_EQ(1, windowsfontmult(1, 5, 5, 24, 0, 0, 0, "DejaVu Sans", "slot"));
  EXPECT_EQ(0, first.received().rfind("BITMAP 5,5,", 0));
  EXPECT_EQ(0u, first.interpreterErrors());
}

TEST_F(UsbSlots, SlotBuildersAndFilesGoOnlyToTheirPrinter) {
  EmulatedPrinter& first = bench().plug(printerAt(2));
  EmulatedPrinter& second = bench().plug(printerAt(3));
  ASSERT_EQ(1, openusbportmult(1));
  ASSERT_EQ(1, openusbportmult(2));
  EXPECT_EQ(1, setupmult(2, "50", "30", "4", "8", "0", "3", "0"));
  EXPECT_EQ(1, clearbuffermult(2));
  EXPECT_EQ(1, barcodemult(2, "10", "10", "128", "50", "1", "0", "2", "2", "USB-2"));
  EXPECT_EQ(1, windowsfontMmult(2, 10, 80, 24, 0, 0, 0, "DejaVu Sans",
                                paloma::test::wide(u"M").c_str()));
  EXPECT_EQ(1, windowsfontUnicodemult(2, 10, 120, 24, 0, 0, 0, "DejaVu Sans",
                                      paloma::test::wide(u"\u00e9").c_str()));
  EXPECT_EQ(1, printlabelmult(2, "1", "1"));
  EXPECT_EQ(1, formfeedmult(2));
  EXPECT_EQ(1, nobackfeedmult(2));
  EXPECT_EQ(1u, second.labelsPrinted());
  EXPECT_EQ(0u, second.interpreterErrors());
  EXPECT_EQ("", first.received());

  const std::string bytes = std::string("BM\0\r\n", 5) + std::string(40, 'z');
  std::string path = tempFile(bytes);
  EXPECT_EQ(1, downloadbmpmult(1, path.c_str(), "S.BMP"));
  EXPECT_EQ("DOWNLOAD \"S.BMP\",45," + bytes + "\r\n", first.received());
  first.clearReceived();
  // Slot 1's USB state is the single connection's, which it marked open.
  EXPECT_EQ(1, sendfilemult(1, path.c_str()));
  EXPECT_EQ(1, downloadmemorymult(1, "F", path.c_str(), "M.BMP"));
  EXPECT_EQ(bytes + "\r\nDOWNLOAD F,\"M.BMP\",45," + bytes + "\r\n", first.received());
}

TEST_F(UsbSlots, AfterReplugTheSlotOpensTheNewDevice) {
  EmulatedPrinter& old = bench().plug(printerAt(2));
  ASSERT_EQ(1, openusbportmult(1));
  bench().unplug(old);
  EXPECT_EQ(0, sendcommandmult(1, "A"));
  EmulatedPrinter& fresh = bench().plug(printerAt(2));
  ASSERT_EQ(1, openusbportmult(1));
  EXPECT_EQ(1, sendcommandmult(1, "B"));
  EXPECT_EQ("B\r\n", fresh.received());
  EXPECT_EQ("", old.received());
}

}  // namespace
}  // namespace paloma_test
