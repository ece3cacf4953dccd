// A printer's device and network links are apart: dropping one transport of
// a slot or of the single connection leaves the other ones as they were.
#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "paloma.h"
#include "slots/slot_table.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

const bool kRegistered = (test::registerStateReset(&resetSlotTable), true);

std::string wire(FakeOs& f, const std::string& target) {
  std::string out;
  for (const auto& w : f.writes(target)) out += w.data;
  return out;
}

TEST(SlotLinks, AFailedUsbOpenOrANetworkCloseKeepsTheSpoolerJob) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addPrinter("A", "a");
  ASSERT_EQ(openportmult(3, "A"), 1);
  f.setUsbPaths({});
  EXPECT_EQ(openusbportmult(3), 0);  // no USB printer: the slot's USB state is dropped
  EXPECT_EQ(closeethernetportmult(3, 0), 1);
  f.clearJournal();
  EXPECT_EQ(sendcommandmult(3, "CLS"), 1);
  EXPECT_EQ(wire(f, "spooler:A"), "CLS\r\n");
  EXPECT_EQ(slot(3).spoolerMode, 1);
  // Slot 3's job is its own: the single connection has nothing open.
  EXPECT_EQ(connection().spoolerMode, 0);
}

TEST(SlotLinks, ClosingTheNetworkLeavesTheSerialPort) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  f.addDevice("\\\\.\\COM1");
  f.addTcpPeer("127.0.0.1:9100");
  ASSERT_EQ(openport("COM1"), 1);
  ASSERT_EQ(openethernet("127.0.0.1", 9100), 1);
  EXPECT_EQ(closeethernetport(0), 1);
  f.clearJournal();
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(wire(f, "\\\\.\\COM1"), "CLS\r\n");
  EXPECT_EQ(connection().serialMode, 1);
  EXPECT_EQ(connection().networkMode, 0);
}

}  // namespace
}  // namespace paloma
