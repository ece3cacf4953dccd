// Several emulated printers on the bus, one picked by the serial number its
// device reports: the backend reads the numbers, paloma_open("usb:SERIAL")
// reaches that printer and no other.
#include <gtest/gtest.h>

#include <string>

#include "paloma.h"
#include "platform/os.h"
#include "usb_fixture.h"

namespace paloma_test {
namespace {

using UsbSerial = UsbTest;

// Closes a handle when the test ends, however it ends.
struct HandleGuard {
  paloma_printer* p = nullptr;
  ~HandleGuard() { paloma_close(p); }
};

TEST_F(UsbSerial, BackendReadsEachDevicesNumberAndNoneWhereThereIsNone) {
  EmulatedPrinter& a = bench().plug(printerAt(1));
  UsbPrinterSpec bare = printerAt(2);
  bare.serial = "";
  EmulatedPrinter& b = bench().plug(bare);
  std::string serial;
  EXPECT_TRUE(paloma::platformOs().usbSerialNumber(a.interfacePath(), &serial));
  EXPECT_EQ(serial, "EMU1");
  EXPECT_FALSE(paloma::platformOs().usbSerialNumber(b.interfacePath(), &serial));
  EXPECT_EQ(serial, "");
  const std::string gone = a.interfacePath();
  bench().unplug(a);
  EXPECT_FALSE(paloma::platformOs().usbSerialNumber(gone, &serial));
  EXPECT_FALSE(paloma::platformOs().usbSerialNumber("not a path", &serial));
}

TEST_F(UsbSerial, OpensThePrinterWithThatSerialAndTalksToItAlone) {
  UsbPrinterSpec first = printerAt(1), second = printerAt(2), bare = printerAt(3);
  first.status = 0x04;
  second.status = 0x02;
  bare.serial = "";
  EmulatedPrinter& p1 = bench().plug(first);
  EmulatedPrinter& p2 = bench().plug(second);
  EmulatedPrinter& p3 = bench().plug(bare);

  HandleGuard h;
  ASSERT_EQ(paloma_open("usb:EMU1", &h.p), PALOMA_OK) << paloma_last_error();
  ASSERT_EQ(paloma_send_command(h.p, "PRINT 1"), PALOMA_OK) << paloma_last_error();
  std::uint8_t byte = 0xFF;
  ASSERT_EQ(paloma_status(h.p, &byte), PALOMA_OK) << paloma_last_error();
  EXPECT_EQ(byte, 0x04);  // the first printer's answer, not the last one's
  EXPECT_NE(p1.received().find("PRINT 1\r\n"), std::string::npos) << p1.received();
  EXPECT_EQ(p2.received(), "");
  EXPECT_EQ(p3.received(), "");

  // While this process holds the first, the second is still found by its
  // number (the first is asked over the handle already open).
  HandleGuard h2;
  ASSERT_EQ(paloma_open("usb:EMU2", &h2.p), PALOMA_OK) << paloma_last_error();
  ASSERT_EQ(paloma_status(h2.p, &byte), PALOMA_OK) << paloma_last_error();
  EXPECT_EQ(byte, 0x02);
}

TEST_F(UsbSerial, UnknownAndSharedSerialsAreRefusedSayingWhatWasSeen) {
  HandleGuard h;
  EXPECT_EQ(paloma_open("usb:EMU1", &h.p), PALOMA_ERROR_OS);
  EXPECT_STREQ(paloma_last_error(),
               "no USB printer with serial number \"EMU1\": no USB printer of the maker is "
               "connected");

  bench().plug(printerAt(1));
  UsbPrinterSpec twin = printerAt(2);
  twin.serial = "EMU1";
  bench().plug(twin);
  UsbPrinterSpec bare = printerAt(3);
  bare.serial = "";
  bench().plug(bare);
  EXPECT_EQ(paloma_open("usb:NOPE", &h.p), PALOMA_ERROR_OS);
  EXPECT_EQ(h.p, nullptr);
  EXPECT_STREQ(paloma_last_error(),
               "no USB printer of the maker has serial number \"NOPE\"; serial numbers seen: "
               "\"EMU1\", \"EMU1\"; 1 printer without one that could be read");
  EXPECT_EQ(paloma_open("usb:EMU1", &h.p), PALOMA_ERROR_OS);
  EXPECT_STREQ(paloma_last_error(),
               "2 USB printers of the maker have serial number \"EMU1\", so it names none of "
               "them: pick one by its bus place instead (1-1, 1-2)");
  ASSERT_EQ(paloma_open("usb:1-2", &h.p), PALOMA_OK) << paloma_last_error();
}

}  // namespace
}  // namespace paloma_test
