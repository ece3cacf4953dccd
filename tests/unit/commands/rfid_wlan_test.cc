// rfidDetect, rfidRead, rfidWrite and the WiFi_ settings.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "connection/connection_state.h"

namespace paloma::test {
namespace {

using RfidWlan = CommandTest;

TEST_F(RfidWlan, RfidCommandsEndWithTwoLineEnds) {
  EXPECT_EQ(rfidDetect(), 1);
  EXPECT_EQ(rfidRead("", "", "", "", ""), 1);
  EXPECT_EQ(rfidRead("EPC", "2", "0", "6", "@x"), 1);
  EXPECT_EQ(wire(), "RFIDDETECT\r\n\r\n"
                    "RFID READ,,,,,,\"\"\r\n\r\n"
                    "RFID READ,EPC,2,0,6,@x,\"\"\r\n\r\n");
  EXPECT_TRUE(f().sleeps().empty());
}

TEST_F(RfidWlan, RfidWriteQuotesItsDataAndPausesAfterTheWrite) {
  EXPECT_EQ(rfidWrite("EPC", "2", "0", "6", "H", "@1234"), 1);
  EXPECT_EQ(wire(), "RFID WRITE,EPC,2,0,6,H,\"@1234\"\r\n\r\n");
  const auto& j = f().journal();
  ASSERT_FALSE(j.empty());
  EXPECT_EQ(j.back().op, "sleep");
  EXPECT_EQ(j.back().value, 500);
  EXPECT_EQ(f().sleeps(), std::vector<long>{500});
}

TEST_F(RfidWlan, RfidWithoutAConnectionStillPausesAfterAWrite) {
  closeConnection();
  EXPECT_EQ(rfidDetect(), 0);
  EXPECT_EQ(rfidRead("1", "2", "3", "4", "5"), 0);
  EXPECT_EQ(rfidWrite("1", "2", "3", "4", "5", "6"), 0);
  EXPECT_EQ(f().sleeps(), std::vector<long>{500});
  EXPECT_TRUE(f().writes().empty());
}

TEST_F(RfidWlan, RfidRefusesNullAndOverlongArgumentsWithoutPausing) {
  // "RFID WRITE,1,2,3,4,5,\"\"\r\n" has 25 characters: 998 more fill 1023.
  std::string d998(998, 'd'), d999(999, 'd');
  EXPECT_EQ(rfidWrite("1", "2", "3", "4", "5", d999.c_str()), 0);
  EXPECT_EQ(rfidWrite("1", "2", nullptr, "4", "5", "6"), 0);
  EXPECT_EQ(rfidRead("1", "2", "3", "4", nullptr), 0);
  EXPECT_TRUE(f().sleeps().empty());
  EXPECT_EQ(wire(), "");
  EXPECT_EQ(rfidWrite("1", "2", "3", "4", "5", d998.c_str()), 1);
  EXPECT_EQ(wire(), "RFID WRITE,1,2,3,4,5,\"" + d998 + "\"\r\n\r\n");
}

struct WlanRow {
  const char* name;
  std::function<int()> call;
  std::string wire;
};

std::vector<WlanRow> wlanRows() {
  return {
      {"dhcp", [] { return WiFi_DHCP(); }, "WLAN DHCP\r\n"},
      {"port", [] { return WiFi_Port(9100); }, "WLAN PORT 9100\r\n"},
      {"port -1", [] { return WiFi_Port(-1); }, "WLAN PORT -1\r\n"},
      {"ssid", [] { return WiFi_SSID("shop floor"); }, "WLAN SSID \"shop floor\"\r\n"},
      {"ip",
       [] { return WiFi_StaticIP("192.168.1.20", "255.255.255.0", "192.168.1.1"); },
       "WLAN IP \"192.168.1.20\", \"255.255.255.0\", \"192.168.1.1\"\r\n"},
      {"wep", [] { return WiFi_WEP(1, "0123456789"); }, "WLAN WEP 1,\"0123456789\"\r\n"},
      {"wep min", [] { return WiFi_WEP(-2147483647 - 1, "k"); },
       "WLAN WEP -2147483648,\"k\"\r\n"},
      {"wpa", [] { return WiFi_WPA("pass\"word"); }, "WLAN WPA \"pass\"word\"\r\n"},
      {"default", [] { return WiFi_Default(); },
       std::string("WLAN DEFAULT\r\n\x1b!R\r\0\r\n", 21)},
  };
}

TEST_F(RfidWlan, WlanCommands) {
  for (const auto& r : wlanRows()) {
    SCOPED_TRACE(r.name);
    f().clearJournal();
    EXPECT_EQ(r.call(), 1);
    EXPECT_EQ(wire(), r.wire);
  }
}

TEST_F(RfidWlan, WlanReportsZeroWhenNothingWasWritten) {
  // Closed: refused by the guard.
  closeConnection();
  for (const auto& r : wlanRows()) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.call(), 0);
  }
  // A transport flag left without an open connection passes the guard, but
  // nothing is written, so the result is 0 too.
  connection().networkMode = 1;
  for (const auto& r : wlanRows()) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.call(), 0);
  }
  EXPECT_TRUE(f().writes().empty());
}

TEST_F(RfidWlan, WlanRefusesNullAndOverlongArguments) {
  std::string ssid1011(1011, 's'), ssid1012(1012, 's');  // "WLAN SSID \"\"": 12 characters
  EXPECT_EQ(WiFi_SSID(ssid1012.c_str()), 0);
  EXPECT_EQ(WiFi_SSID(nullptr), 0);
  EXPECT_EQ(WiFi_StaticIP("1", nullptr, "3"), 0);
  EXPECT_EQ(WiFi_WEP(1, nullptr), 0);
  EXPECT_EQ(WiFi_WPA(nullptr), 0);
  EXPECT_EQ(wire(), "");
  EXPECT_EQ(WiFi_SSID(ssid1011.c_str()), 1);
  EXPECT_EQ(wire(), "WLAN SSID \"" + ssid1011 + "\"\r\n");
}

TEST_F(RfidWlan, WlanDefaultReportsAFailedRestart) {
  f().failWritesAfter("spooler:P", 2);  // the command and its CR LF only
  EXPECT_EQ(WiFi_Default(), 0);
  EXPECT_EQ(wire(), "WLAN DEFAULT\r\n");
}

TEST_F(RfidWlan, WlanDefaultRestartsEvenWhenItsCommandWasRefused) {
  f().failWritesAfter("spooler:P", 0);
  EXPECT_EQ(WiFi_Default(), 0);
  std::vector<std::string> tried;
  for (const auto& e : f().entries("write-failed")) tried.push_back(e.data);
  ASSERT_GE(tried.size(), 2u);
  EXPECT_EQ(tried.front(), "WLAN DEFAULT");
  EXPECT_NE(std::find(tried.begin(), tried.end(), std::string("\x1b!R\r\0", 5)), tried.end());
}

}  // namespace
}  // namespace paloma::test
