// The strings the vb6 functions hand over, and the RFID data fetch per
// transport. Run under AddressSanitizer, a wrong release is caught here.
#include <cstring>
#include <string>

#include "info_fixture.h"
#include "paloma.h"

namespace paloma::test {
namespace {

class InfoVb6Test : public InfoTest {};

std::string bytesOf(paloma_bstr s) { return std::string(s, paloma_bstr_bytelen(s)); }

TEST_F(InfoVb6Test, NameVb6HoldsTheWholeReplyBufferAndIsReleasable) {
  attachUsb();
  f.queueRead(usbPrinterPath(), "PRINTER-X\r\n");
  paloma_bstr s = usbprinternamevb6();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(paloma_bstr_bytelen(s), 65536u);
  EXPECT_STREQ(s, "PRINTER-X\r");
  EXPECT_EQ(s[65535], '\0');
  EXPECT_EQ(s[65536], '\0') << "terminated after its bytes";
  paloma_bstr_free(s);
}

TEST_F(InfoVb6Test, FailuresAreAllocatedTextsTooAndNullIsIgnored) {
  paloma_bstr name = usbprinternamevb6();  // no printer
  paloma_bstr serial = usbprinterserialvb6();
  ASSERT_NE(name, nullptr);
  ASSERT_NE(serial, nullptr);
  EXPECT_EQ(bytesOf(name), "-1");
  EXPECT_EQ(bytesOf(serial), "-1");
  EXPECT_NE(name, serial);
  paloma_bstr_free(name);
  paloma_bstr_free(serial);
  paloma_bstr_free(nullptr);
  EXPECT_EQ(paloma_bstr_bytelen(nullptr), 0u);
}

const std::string kMarkerRequest = "OUT \"ENDLINE\"\r\n";

TEST_F(InfoVb6Test, RfidDataOverSerialIsTheTextBeforeTheMarker) {
  openSerial();
  f.queueRead(kSerialPort, "E2003411\r\nENDLINE\r\n");
  EXPECT_STREQ(rfidGetReadData(), "E2003411\r\n");
  // The empty request, its line end and the marker request.
  EXPECT_EQ(f.wire(kSerialPort), "\r\n" + kMarkerRequest);
}

TEST_F(InfoVb6Test, RfidDataOverTheNetworkAndItsFailure) {
  openNetwork();
  f.queueRecv(kPeer, "E2003411\r\nENDLINE\r\n");
  EXPECT_STREQ(rfidGetReadData(), "E2003411\r\n");
  EXPECT_EQ(f.wire(kPeer), std::string("\r\n\0", 3) + kMarkerRequest + std::string(1, '\0'));

  f.queueRecvError(kPeer, kNetConnReset);
  EXPECT_STREQ(rfidGetReadData(), "-1");
}

TEST_F(InfoVb6Test, RfidDataOverUsbTakesPrecedence) {
  openSerial();  // serial flag set as well
  openUsbConnection();
  f.queueRead(usbPrinterPath(), "E2003411\r\nENDLINE\r\n");
  EXPECT_STREQ(rfidGetReadData(), "E2003411\r\n");
  EXPECT_EQ(f.wire(usbPrinterPath()), "\r\n" + kMarkerRequest);
  EXPECT_TRUE(f.writes(kSerialPort).empty());
}

TEST_F(InfoVb6Test, RfidDataWithoutAReadingTransportIsEmptyAndSendsNothing) {
  EXPECT_STREQ(rfidGetReadData(), "");
  connection().spoolerMode = 1;
  connection().lptMode = 1;
  connection().isOpen = 1;
  EXPECT_STREQ(rfidGetReadData(), "");
  paloma_bstr s = rfidGetReadDatavb6();
  EXPECT_EQ(paloma_bstr_bytelen(s), 0u);
  EXPECT_STREQ(s, "");
  paloma_bstr_free(s);
  EXPECT_TRUE(f.writes().empty());
}

TEST_F(InfoVb6Test, RfidVb6ReadsEveryActiveTransportAndKeepsTheLast) {
  openSerial();
  openNetwork();
  f.queueRead(kSerialPort, "SERIAL\r\nENDLINE\r\n");
  f.queueRecv(kPeer, "NET-DATA\r\nENDLINE\r\n");
  paloma_bstr s = rfidGetReadDatavb6();
  EXPECT_EQ(bytesOf(s), "NET-DATA\r\n") << "byte length equals the text's length";
  EXPECT_FALSE(f.writes(kSerialPort).empty());
  EXPECT_FALSE(f.writes(kPeer).empty());
  paloma_bstr_free(s);
}

}  // namespace
}  // namespace paloma::test
