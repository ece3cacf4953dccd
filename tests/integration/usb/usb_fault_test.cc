// Faults of the USB link: a halted endpoint, a slow or silent printer, a
// printer pulled out in the middle of a transfer and plugged in again.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "paloma.h"
#include "usb_fixture.h"

namespace paloma_test {
namespace {

using UsbFaults = UsbTest;
using Clock = std::chrono::steady_clock;

TEST_F(UsbFaults, HaltedOutEndpointIsClearedAndTheNextWriteWorks) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  p.haltOut();
  EXPECT_EQ(0, sendcommand("CLS"));
  EXPECT_GE(p.clearHaltCount(), 1);
  EXPECT_EQ(1, sendcommand("HOME"));
  const std::string got = p.received();
  ASSERT_GE(got.size(), 6u);
  EXPECT_EQ("HOME\r\n", got.substr(got.size() - 6));
  EXPECT_EQ(std::string::npos, got.find("CLS"));  // the stalled body never arrived
}

TEST_F(UsbFaults, HaltedInEndpointIsClearedAndTheNextQueryWorks) {
  UsbPrinterSpec s = printerAt(1);
  s.status = 0x04;
  EmulatedPrinter& p = bench().plug(s);
  p.haltIn();
  usbprinterstatus();  // its read stalls
  EXPECT_GE(p.clearHaltCount(), 1);
  EXPECT_STREQ("04", usbprinterstatus());
}

TEST_F(UsbFaults, ASilentPrinterGivesMinusOneWithinTheBound) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  p.setSilent(true);
  Clock::time_point t0 = Clock::now();
  EXPECT_STREQ("-1", usbprintername());
  EXPECT_LT(secondsSince(t0), 6.0);

  t0 = Clock::now();
  EXPECT_STREQ("00", usbprinterstatus());  // the documented reading of silence
  EXPECT_LT(secondsSince(t0), 4.0);

  ASSERT_EQ(1, openport("USB"));
  t0 = Clock::now();
  EXPECT_STREQ("-1", usb_getstring("OUT \"X\"", 0));
  EXPECT_LT(secondsSince(t0), 9.0);
  EXPECT_EQ(0, usbportqueryprinter());
}

TEST_F(UsbFaults, ADelayedReplyStillArrives) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  p.setReplyDelay(700);
  EXPECT_STREQ("PALOMA VP-203\r", usbprintername());
  ASSERT_EQ(1, openport("USB"));
  EXPECT_STREQ("LATE\r\n", usb_getstring("OUT \"LATE\"", 0));
}

TEST_F(UsbFaults, APrinterThatStopsTakingDataMidWriteGetsEachByteOnce) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  std::string data;
  for (int i = 0; i < 200; ++i) data.push_back(static_cast<char>('A' + i % 26));
  p.setAcceptLimit(100);
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(0, sendBinaryDataNoCRLF(reinterpret_cast<const unsigned char*>(data.data()),
                                    static_cast<int>(data.size())));
  EXPECT_LT(secondsSince(t0), 8.0);
  EXPECT_EQ(data.substr(0, 100), p.received());  // nothing lost, nothing twice
  p.setAcceptLimit(-1);
  p.clearReceived();
  EXPECT_EQ(1, sendcommand("CLS"));
  EXPECT_EQ("CLS\r\n", p.received());
}

TEST_F(UsbFaults, UnplugMidTransferEndsTheCallWithAFailure) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  p.setStalledOut(true);  // the printer takes nothing: the write waits
  const std::string data(8192, 'D');
  int result = -99;
  std::string reason;
  Clock::time_point unplugged;
  std::thread writer([&] {
    paloma_clear_error();
    result = sendBinaryDataNoCRLF(reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()));
    reason = paloma_last_error();
  });
  bool pending = p.waitForPendingOut(3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  unplugged = Clock::now();
  bench().unplug(p);
  writer.join();
  ASSERT_TRUE(pending);
  EXPECT_EQ(0, result);
  EXPECT_LT(secondsSince(unplugged), 3.0);
  // The failure reason, where the backend records one, is for a person.
  if (!reason.empty()) {
    EXPECT_NE(std::string::npos, reason.find_first_not_of(' '));
  }
  // The dead device refuses what follows, at once.
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(0, sendcommand("CLS"));
  EXPECT_LT(secondsSince(t0), 2.0);
}

// A printer gone from under a held handle is never reported ready.
TEST_F(UsbFaults, AnUnpluggedPrinterIsNeverReportedReady) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openusbportmult(1));
  EXPECT_STREQ("00", usbprinterstatusmult(1));
  bench().unplug(p);
  paloma_clear_error();
  EXPECT_STREQ("-1", usbprinterstatusmult(1));
  EXPECT_STRNE("", paloma_last_error());
  closeportmult(1);
}

TEST_F(UsbFaults, AfterReplugTheNextOpenReachesTheNewDevice) {
  EmulatedPrinter& old = bench().plug(printerAt(3));
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, sendcommand("A"));
  bench().unplug(old);
  EXPECT_EQ(0, sendcommand("B"));  // the connection still holds the dead handle

  EmulatedPrinter& fresh = bench().plug(printerAt(3));  // same place, new device
  ASSERT_EQ(old.interfacePath(), fresh.interfacePath());
  EXPECT_EQ(0, usbportwrite("C"));
  EXPECT_EQ("C \r\n\r\n", fresh.received());
  EXPECT_STREQ("PALOMA VP-203\r", usbprintername());

  closeport();
  ASSERT_EQ(1, openport("USB"));
  EXPECT_EQ(1, sendcommand("D"));
  EXPECT_EQ("A\r\n", old.received());
  const std::string got = fresh.received();
  EXPECT_EQ("D\r\n", got.substr(got.size() - 3));
}

TEST_F(UsbFaults, RepliesFillingWholePacketsLeaveNothingBehind) {
  bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  // The text and its CR LF fill one packet exactly: the printer ends that
  // reply with a zero-length packet before the marker comes.
  const std::string text(62, 'Q');
  EXPECT_EQ(text + "\r\n", std::string(usb_getstring(("OUT \"" + text + "\"").c_str(), 0)));
  EXPECT_STREQ("NEXT\r\n", usb_getstring("OUT \"NEXT\"", 0));
  EXPECT_STREQ("PALOMA VP-203\r", usbprintername());
}

TEST_F(UsbFaults, UnplugDuringAReadEndsTheQuery) {
  EmulatedPrinter& p = bench().plug(printerAt(1));
  ASSERT_EQ(1, openport("USB"));
  p.setSilent(true);
  std::string result;
  std::thread reader([&] { result = usb_getstring("OUT \"X\"", 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  Clock::time_point unplugged = Clock::now();
  bench().unplug(p);
  reader.join();
  EXPECT_EQ("-1", result);
  EXPECT_LT(secondsSince(unplugged), 3.0);
}

}  // namespace
}  // namespace paloma_test
