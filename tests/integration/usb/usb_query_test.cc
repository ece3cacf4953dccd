// Status, information, setting and string queries answered by the emulated
// printer, and the packet readers they are built on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "paloma.h"
#include "platform/os.h"
#include "query/reply_state.h"
#include "usb_fixture.h"

namespace paloma_test {
namespace {

using UsbQueries = UsbTest;
using UsbReaders = UsbTest;
using Clock = std::chrono::steady_clock;

TEST_F(UsbQueries, StatusByteOnItsOwnHandleAndSynchronously) {
  UsbPrinterSpec s = printerAt(1);
  s.status = 0x0A;
  EmulatedPrinter& p = bench().plug(s);
  EXPECT_STREQ("0A", usbprinterstatus());
  EXPECT_EQ("\x1b!?\r\n", p.received());
  p.clearReceived();
  EXPECT_EQ(0x0A, usbportqueryprinter());
  EXPECT_EQ("\x1b!?", p.received());
  EXPECT_STREQ("0A", usbprintercompletestatus());
}

TEST_F(UsbQueries, StatusBytesOutsideTheTableAndSignedValues) {
  EmulatedPrinter& p = bench().plug(scriptedAt(1));
  p.queuePackets({"\x06"});
  EXPECT_STREQ("other error", usbprinterstatus());
  p.queuePackets({"\x80"});
  EXPECT_EQ(-128, usbportqueryprinter());
  p.queuePackets({"\xff"});
  EXPECT_EQ(-1, usbportqueryprinter());
}

TEST_F(UsbQueries, InformationQueriesNeedNoOpenConnection) {
  UsbPrinterSpec s = printerAt(1);
  s.serial = "SN-4711";
  s.settings["SYSTEM/INFORMATION/DPI"] = "203";
  bench().plug(s);
  // A reply is read up to and including its first CR.
  EXPECT_STREQ("PALOMA VP-203\r", usbprintername());
  EXPECT_STREQ("SN-4711", usbprinterserial());
  EXPECT_STREQ("203", usbprinterdpi());
  EXPECT_STREQ("1252\r", usbprintercodepage());
  EXPECT_STREQ("67108864\r", usbprinterfreememory());
  EXPECT_STREQ("0\r", usbprinterquantity());
  EXPECT_STREQ("0.0000\r", usbprintermileage());
  EXPECT_STREQ("0\r", usbprinterpeel());
  EXPECT_STREQ("\r", usbprinterfile());  // no files: an empty line
}

TEST_F(UsbQueries, Vb6FormsHoldTheWholeReplyBufferOrMinusOne) {
  UsbPrinterSpec s = printerAt(1);
  s.serial = "SN-9";
  EmulatedPrinter& p = bench().plug(s);
  paloma_bstr name = usbprinternamevb6();
  ASSERT_NE(nullptr, name);
  EXPECT_EQ(65536u, paloma_bstr_bytelen(name));
  EXPECT_STREQ("PALOMA VP-203\r", reinterpret_cast<const char*>(name));
  paloma_bstr_free(name);
  paloma_bstr serial = usbprinterserialvb6();
  ASSERT_NE(nullptr, serial);
  EXPECT_STREQ("SN-9", reinterpret_cast<const char*>(serial));
  paloma_bstr_free(serial);
  bench().unplug(p);
  paloma_bstr none = usbprinternamevb6();
  ASSERT_NE(nullptr, none);
  EXPECT_EQ(2u, paloma_bstr_bytelen(none));
  EXPECT_EQ(0, std::memcmp(none, "-1", 2));
  paloma_bstr_free(none);
}

TEST_F(UsbQueries, SettingOnTheOpenConnectionJoinsPackets) {
  UsbPrinterSpec s = printerAt(1);
  s.settings["APP/SECTION/KEY"] = "brain value";
  EmulatedPrinter& p = bench().plug(s);
  ASSERT_EQ(1, openport("USB"));
  EXPECT_STREQ("brain value", usbprintersetting("APP", "SECTION", "KEY"));
  EXPECT_EQ("OUT GETSETTING$(\"APP\",\"SECTION\",\"KEY\")\r\nOUT CHR$(02)\r\n", p.received());
  EXPECT_STREQ("", usbprintersetting(nullptr, "SECTION", "KEY"));
  closeport();
  bench().unplug(p);

  EmulatedPrinter& scripted = bench().plug(scriptedAt(2));
  ASSERT_EQ(1, openport("USB"));
  std::string first(64, 'x');
  scripted.queuePackets({first, "yz\r\n\x02\r\n"});
  EXPECT_EQ(first + "yz", usbprintersetting("A", "B", "C"));
}

TEST_F(UsbQueries, StringReadFindsTheMarkerSplitAcrossPackets) {
  EmulatedPrinter& p = bench().plug(scriptedAt(1));
  ASSERT_EQ(1, openport("USB"));
  // Each short packet ends one read: the marker comes in three.
  p.queuePackets({"TAG 1234\r\nEND", "LINE\r", "\n"});
  EXPECT_STREQ("TAG 1234\r\n", usb_getstring("OUT RFID$", 0));
  EXPECT_EQ((std::vector<std::string>{"TAG 1234\r\nEND", "LINE\r", "\n"}), p.inTransfers());
  EXPECT_EQ("OUT RFID$\r\nOUT \"ENDLINE\"\r\n", p.received());
}

TEST_F(UsbQueries, StringReadAnsweredByTheInterpreter) {
  bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  EXPECT_STREQ("HELLO\r\n", usb_getstring("OUT \"HELLO\"", 10));
}

TEST_F(UsbQueries, AHighSpeedPrinterWithLargePacketsAnswersTheSame) {
  UsbPrinterSpec s = printerAt(1);
  s.packetSize = 512;
  s.status = 0x02;
  s.settings["APP/SECTION/KEY"] = std::string(150, 'v');
  EmulatedPrinter& p = bench().plug(s);
  EXPECT_STREQ("02", usbprinterstatus());
  EXPECT_EQ(0x02, usbportqueryprinter());
  EXPECT_STREQ("PALOMA VP-203\r", usbprintername());
  ASSERT_EQ(1, openport("USB"));
  // One packet holds the whole reply; the readers take it 64 bytes at a time.
  EXPECT_EQ(std::string(150, 'v'), usbprintersetting("APP", "SECTION", "KEY"));
  const std::string text(300, 't');
  EXPECT_EQ(text + "\r\n", std::string(usb_getstring(("OUT \"" + text + "\"").c_str(), 0)));
  EXPECT_STREQ("PALOMA VP-203\r", usbprintername());
  (void)p;
}

TEST_F(UsbQueries, RfidDataComesThroughTheStringRead) {
  EmulatedPrinter& p = bench().plug(scriptedAt(1));
  EXPECT_STREQ("", rfidGetReadData());  // nothing open: nothing written
  EXPECT_EQ("", p.received());
  ASSERT_EQ(1, openport("USB"));
  p.queuePackets({"E280116060000209A1B2C3D4\r\nENDLINE\r\n"});
  EXPECT_STREQ("E280116060000209A1B2C3D4\r\n", rfidGetReadData());
  EXPECT_EQ("\r\nOUT \"ENDLINE\"\r\n", p.received());
  p.queuePackets({"TAG\r\nENDLINE\r\n"});
  paloma_bstr tag = rfidGetReadDatavb6();
  ASSERT_NE(nullptr, tag);
  EXPECT_EQ(5u, paloma_bstr_bytelen(tag));
  EXPECT_EQ(0, std::memcmp(tag, "TAG\r\n", 5));
  paloma_bstr_free(tag);
  EXPECT_STREQ("-1", usbprinterfile());  // nothing came
}

TEST_F(UsbReaders, ReadDataJoinsPacketsUntilStx) {
  EmulatedPrinter& p = bench().plug(scriptedAt(1));
  paloma::Handle h = paloma::os().openFile(p.interfacePath(), {});
  ASSERT_NE(paloma::kInvalidHandle, h);
  void* device = reinterpret_cast<void*>(h);
  paloma::clearReply();
  p.queuePackets({"AB\r", "\nCD\x02"});
  EXPECT_TRUE(UsbReadData(device, false));
  EXPECT_FALSE(UsbReadData(device, false));  // STX ends the reply
  EXPECT_STREQ("ABCD", reinterpret_cast<const char*>(paloma::replies().ReplyBuffer));
  paloma::clearReply();
  p.queuePackets({"status\r"});
  EXPECT_FALSE(UsbReadDataToBuffer(device, false));  // a CR ends the line
  EXPECT_STREQ("status\r", reinterpret_cast<const char*>(paloma::replies().ReplyBuffer));
  paloma::os().closeHandle(h);
}

TEST_F(UsbReaders, StatusJudgeAndSlotReadersOnADeviceHandle) {
  EmulatedPrinter& p = bench().plug(scriptedAt(1));
  paloma::Handle h = paloma::os().openFile(p.interfacePath(), {});
  ASSERT_NE(paloma::kInvalidHandle, h);
  void* device = reinterpret_cast<void*>(h);

  paloma::clearReply();
  p.queuePackets({"AB"});
  EXPECT_TRUE(UsbReadStatus(device, false));  // without the status flag: call again
  EXPECT_EQ('B', paloma::replies().ReplyBuffer[0]);

  p.queuePackets({"TEXT\r\nENDL", "INE\r\n"});
  EXPECT_TRUE(UsbRead_judge(device));
  EXPECT_STREQ("TEXT\r\n", paloma::replies().StringResult);

  paloma::clearReply();
  p.queuePackets({"V1", "V2\x02"});
  EXPECT_TRUE(UsbReadData_mult(device, false));
  EXPECT_FALSE(UsbReadData_mult(device, false));
  EXPECT_STREQ("V1V2", reinterpret_cast<const char*>(paloma::replies().ReplyBuffer));
  paloma::os().closeHandle(h);
}

}  // namespace
}  // namespace paloma_test
