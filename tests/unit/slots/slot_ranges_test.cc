// Slot numbers at both ends and one past, on every transport a slot takes:
// 1 and 5 open and carry a command to their own printer, 0 and 6 open nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "paloma.h"
#include "slots/slot_table.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const bool kRegistered = (test::registerStateReset(&resetSlotTable), true);

std::string usbPath(int i) {
  return std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID + "&pid_0001#loc" +
         std::to_string(i) + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

struct SlotTransport {
  const char* what;
  std::function<int(int n)> open;
  std::function<std::string(int n)> target;  // where slot n's bytes go, as the fake names it
  std::function<int(int n)> close;
};

TEST(Slots, FirstAndLastSlotOnEveryTransport) {
  const SlotTransport transports[] = {
      {"spooler", [](int n) { return openportmult(n, ("Q" + std::to_string(n)).c_str()); },
       [](int n) { return "spooler:Q" + std::to_string(n); }, [](int n) { return closeportmult(n); }},
      {"USB", [](int n) { return openusbportmult(n); }, [](int n) { return usbPath(n); },
       [](int n) { return closeportmult(n); }},
      {"network", [](int n) { return openethernetmult(n, "127.0.0.1", 9100 + n); },
       [](int n) { return "127.0.0.1:" + std::to_string(9100 + n); },
       [](int n) { return closeethernetportmult(n, 0); }},
  };
  for (const SlotTransport& t : transports) {
    SCOPED_TRACE(t.what);
    FakeOsScope scope;
    FakeOs& f = scope.fake();
    std::vector<std::string> usb;
    for (int n = 0; n <= 6; ++n) {
      f.addPrinter("Q" + std::to_string(n), "p" + std::to_string(n));
      f.addTcpPeer("127.0.0.1:" + std::to_string(9100 + n));
      if (n >= 1) usb.push_back(usbPath(n));
    }
    f.setUsbPaths(usb);  // six printers: a sixth slot would have one to take
    for (int n : {1, 5}) {
      ASSERT_EQ(t.open(n), 1) << "slot " << n;
      EXPECT_TRUE(f.isOpen(t.target(n))) << "slot " << n;
      EXPECT_EQ(sendcommandmult(n, "CLS"), 1) << "slot " << n;
      EXPECT_NE(f.wire(t.target(n)).find("CLS"), std::string::npos) << "slot " << n;
    }
    for (int n : {0, 6, -1}) {
      EXPECT_EQ(t.open(n), 0) << "slot " << n;
      EXPECT_EQ(sendcommandmult(n, "CLS"), 0) << "slot " << n;
      if (n >= 0) {
        EXPECT_FALSE(f.isOpen(t.target(n))) << "slot " << n;
      }
    }
    for (int n : {5, 1}) {
      EXPECT_EQ(t.close(n), 1) << "slot " << n;
      EXPECT_FALSE(f.isOpen(t.target(n))) << "slot " << n;
    }
    // closeportmult answers 1 for any number; the network close says 0.
    const int outside = std::string(t.what) == "network" ? 0 : 1;
    EXPECT_EQ(t.close(6), outside);
    EXPECT_EQ(t.close(0), outside);
  }
}

}  // namespace
}  // namespace paloma
