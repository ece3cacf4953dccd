// What closeport sets back, per transport: the transport is closed, closing
// again does nothing, nothing more reaches it, and the next connection's
// writes go to that connection alone (a mode flag left set would send them to
// the closed transport).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

struct Transport {
  const char* what;
  std::string target;                       // as the fake names it
  std::function<void(FakeOs&)> prepare;
  std::function<bool()> open;
};

TEST(ClosePort, EachTransportIsSetBackWhole) {
  const std::string usb = std::string("\\\\?\\usb#vid_") + PALOMA_USB_VENDOR_ID +
                          "&pid_0001#a#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  const Transport transports[] = {
      {"spooler", "spooler:Front", [](FakeOs& f) { f.addPrinter("Front", "p1"); },
       [] { return openport("Front") == 1; }},
      {"parallel port", "LPT2", [](FakeOs& f) { f.addDevice("LPT2"); },
       [] { return openport("LPT2") == 1; }},
      {"USB", usb, [&](FakeOs& f) { f.setUsbPaths({usb}); }, [] { return openport("USB") == 1; }},
      {"serial port", "\\\\.\\COM3", [](FakeOs& f) { f.addDevice("\\\\.\\COM3"); },
       [] { return openport("COM3") == 1; }},
      {"network", "127.0.0.1:9100", [](FakeOs& f) { f.addTcpPeer("127.0.0.1:9100"); },
       [] { return openethernet("127.0.0.1", 9100) == 1; }},
  };
  for (const Transport& t : transports) {
    SCOPED_TRACE(t.what);
    FakeOsScope scope;
    FakeOs& f = scope.fake();
    t.prepare(f);
    f.addDevice("\\\\.\\COM1");
    ASSERT_TRUE(t.open());
    ASSERT_TRUE(f.isOpen(t.target));
    EXPECT_EQ(closeport(), 1);
    EXPECT_FALSE(f.isOpen(t.target));
    EXPECT_EQ(closeport(), 0);
    EXPECT_EQ(sendcommand("LOST"), 0);

    // A serial port opened next takes every byte.
    ASSERT_EQ(openport("COM1"), 1);
    EXPECT_EQ(sendcommand("CLS"), 1);
    EXPECT_EQ(f.wire("\\\\.\\COM1"), "CLS\r\n");
    EXPECT_EQ(f.wire(t.target).find("CLS"), std::string::npos) << f.wire(t.target);
    EXPECT_EQ(f.wire(t.target).find("LOST"), std::string::npos) << f.wire(t.target);
    EXPECT_EQ(closeport(), 1);
    EXPECT_FALSE(f.isOpen("\\\\.\\COM1"));
    EXPECT_EQ(closeport(), 0);
  }
}

}  // namespace
}  // namespace paloma
