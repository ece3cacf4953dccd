// The broadcast probe on the real backend, inside a network namespace that
// the test makes for itself: nothing leaves this process's own loopback.
//
// The library binds port 22368 itself without address reuse, so the
// responder here must not bind it: it sees the probe on a raw socket and
// answers from a port of its own to the probe's source.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "discovery/broadcast.h"
#include "paloma.h"
#include "support/posix/private_network.h"

namespace {

using paloma::test::enterPrivateNetwork;

// Answers every probe it sees with `answerSize` bytes, until stopped.
class Responder : public paloma::test::ProbeResponder {
 public:
  explicit Responder(std::size_t answerSize)
      : ProbeResponder({{std::string(answerSize, 'A')}}) {}
};

class BroadcastNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = enterPrivateNetwork();
    if (!why.empty()) GTEST_SKIP() << "no private network namespace: " << why;
  }
};

TEST_F(BroadcastNetns, AnswerLongerThanTheProbeIsFound) {
  Responder responder(33);
  EXPECT_STREQ(broadcast(), "123456");
  EXPECT_EQ(responder.probesSeen(), 1);
  EXPECT_EQ(responder.lastProbe(),
            std::string(reinterpret_cast<const char*>(paloma::kDiscoveryProbe), 32));
  // The socket was released: a second call binds again.
  EXPECT_STREQ(broadcast(), "123456");
}

TEST_F(BroadcastNetns, AnswersOfProbeSizeAreIgnoredAndSilenceEnds) {
  Responder responder(32);
  auto start = std::chrono::steady_clock::now();
  EXPECT_STREQ(broadcast(), "-1");
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(paloma::kDiscoveryWaitMs + 2000));
  EXPECT_GE(responder.probesSeen(), 1);
}

TEST_F(BroadcastNetns, PortAlreadyBoundGivesZero) {
  int holder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(paloma::kDiscoveryPort);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  std::string seen;
  paloma_set_message_handler(
      [](const char* text, const char* caption, int, void* user) {
        *static_cast<std::string*>(user) += std::string(caption) + "|" + text + "\n";
      },
      &seen);
  EXPECT_STREQ(broadcast(), "0");
  paloma_set_message_handler(nullptr, nullptr);
  EXPECT_EQ(seen, "Error Message|sock ERROR binding in the server socket2\n");
  close(holder);
}

}  // namespace
