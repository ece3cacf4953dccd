// The discovery probe on the fake: bytes and destination, which answers
// count, the setup failures and their messages, and the bounded wait.
#include <gtest/gtest.h>

#include <string>

#include "discovery/broadcast.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOsScope;

const std::string kProbe(
    "\x00\x20\x00\x01\x00\x01\x08\x00\x00\x02\x00\x00\x00\x01\x00\x00"
    "\x01\x00\x00\x00\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x00",
    32);

TEST(Broadcast, ProbeGoesToTheLimitedBroadcastFromPort22368) {
  FakeOsScope scope;
  auto& f = scope.fake();
  f.queueDatagram(kProbe);                 // our own probe, looped back
  f.queueDatagram(std::string(32, 'x'));   // as long as the probe: not an answer
  f.queueDatagram(std::string(33, 'y'));
  EXPECT_STREQ(broadcast(), "123456");
  auto w = f.writes("255.255.255.255:22368");
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].data, kProbe);
  EXPECT_EQ(f.entries("bind")[0].value, 22368);
  EXPECT_EQ(f.entries("broadcast-on").size(), 1u);
  EXPECT_EQ(f.entries("recvfrom").size(), 3u);
  EXPECT_EQ(f.entries("recvfrom")[0].value, 511);
  EXPECT_EQ(f.entries("close-socket").size(), 1u);
  EXPECT_TRUE(f.messages().empty());
}

TEST(Broadcast, SilenceEndsWithinTheBound) {
  FakeOsScope scope;
  auto& f = scope.fake();
  EXPECT_STREQ(broadcast(), "-1");
  EXPECT_GE(f.now(), static_cast<std::uint64_t>(kDiscoveryWaitMs));
  EXPECT_LE(f.now(), static_cast<std::uint64_t>(kDiscoveryWaitMs) + 200);
  EXPECT_EQ(f.entries("close-socket").size(), 1u);
}

TEST(Broadcast, SetupFailuresSpeakAndGiveZero) {
  {
    FakeOsScope scope;
    scope.fake().failBind(true);
    EXPECT_STREQ(broadcast(), "0");
    EXPECT_EQ(scope.fake().messages(),
              (std::vector<std::string>{"Error Message|sock ERROR binding in the server socket2"}));
    EXPECT_TRUE(scope.fake().writes().empty());
    EXPECT_EQ(scope.fake().entries("close-socket").size(), 1u);
  }
  {
    FakeOsScope scope;
    scope.fake().failSocket(true);
    EXPECT_STREQ(broadcast(), "0");
    EXPECT_EQ(scope.fake().messages(),
              (std::vector<std::string>{"Error Message|sock ERROR binding in the server socket2",
                                        "Error Message|Error in creating socket"}));
  }
}

}  // namespace
}  // namespace paloma
