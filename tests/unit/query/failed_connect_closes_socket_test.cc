// A connect that fails leaves no socket of its own open, whether or not a
// connection was held before it.
#include "replies_fixture.h"

namespace paloma::test {
namespace {

using NetworkTest = RepliesTest;

TEST_F(NetworkTest, AFailedConnectClosesTheSocketItMade) {
  EXPECT_EQ(openethernet("127.0.0.2", 9100), 0);  // nobody there
  std::vector<JournalEntry> closes = f.entries("close-socket");
  ASSERT_EQ(closes.size(), 1u);

  openNetwork();
  f.clearJournal();
  EXPECT_EQ(openethernet("127.0.0.2", 9100), 0);
  closes = f.entries("close-socket");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_NE(closes[0].target, kPrinterPeer);  // the held connection stays
  EXPECT_TRUE(f.isOpen(kPrinterPeer));
}

}  // namespace
}  // namespace paloma::test
