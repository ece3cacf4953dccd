// A device of the maker's that has no printer-class interface is listed (the
// search sees every device) but never opened: label data must not reach an
// interface of some other purpose.
#include <gtest/gtest.h>

#include "paloma.h"
#include "usb_fixture.h"

namespace paloma_test {
namespace {

using UsbEnumeration = UsbTest;

TEST_F(UsbEnumeration, AMakerDeviceWithoutAPrinterInterfaceIsNeverWrittenTo) {
  UsbPrinterSpec spec = printerAt(2);
  spec.printerClass = false;  // a vendor-specific interface with bulk endpoints
  EmulatedPrinter& device = bench().plug(spec);
  EXPECT_EQ(0, openport("USB"));
  EXPECT_EQ(0, sendcommand("CLS"));
  EXPECT_EQ(-2, usbportwrite("HOME"));
  EXPECT_EQ(0, openusbportmult(1));
  EXPECT_EQ(0, device.claims());
  EXPECT_EQ("", device.received());
}

}  // namespace
}  // namespace paloma_test
