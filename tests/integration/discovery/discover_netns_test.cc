// paloma_discover on the real backend, inside a network namespace of the
// test's own: who answered is reported once per sender, answers of the
// probe's length are ignored, and the wait is kept.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "discovery/broadcast.h"
#include "paloma.h"
#include "support/posix/private_network.h"

namespace {

using paloma::test::enterPrivateNetwork;

// Answers every probe (only the probe's exact bytes count as one) with the
// given datagrams.
class Responder : public paloma::test::ProbeResponder {
 public:
  explicit Responder(std::vector<std::string> answers)
      : ProbeResponder({std::move(answers),
                        std::string(reinterpret_cast<const char*>(paloma::kDiscoveryProbe),
                                    paloma::kDiscoveryProbeSize)}) {}
};

class DiscoverNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = enterPrivateNetwork();
    if (!why.empty()) GTEST_SKIP() << "no private network namespace: " << why;
  }
};

TEST_F(DiscoverNetns, EachAnsweringSenderOnceWithinTheWait) {
  Responder silent({});
  Responder twice({std::string(40, 'B'), std::string(41, 'b')});
  Responder probeSized({std::string(32, 'C')});
  paloma_printer_found found[8];
  auto start = std::chrono::steady_clock::now();
  int n = paloma_discover(800, found, 8);
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(n, 1) << paloma_last_error();
  EXPECT_STREQ(found[0].address, "127.0.0.1");
  EXPECT_EQ(found[0].port, twice.port());
  EXPECT_EQ(found[0].length, 40);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(found[0].answer), 40), std::string(40, 'B'));
  EXPECT_EQ(silent.probesSeen(), 1);
  EXPECT_EQ(probeSized.probesSeen(), 1);
  // The wait is kept after the first answer, and not much longer.
  EXPECT_GE(took, std::chrono::milliseconds(790));
  EXPECT_LT(took, std::chrono::milliseconds(1800));
}

TEST_F(DiscoverNetns, NobodyAnsweringIsZeroAndThePortIsFreeAgain) {
  auto start = std::chrono::steady_clock::now();
  paloma_printer_found found[2];
  EXPECT_EQ(paloma_discover(300, found, 2), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1300));
  // The socket was released: the next discovery binds the port again.
  EXPECT_EQ(paloma_discover(0, found, 2), 0);
}

TEST_F(DiscoverNetns, PortTakenIsMinusOneWithAReason) {
  int holder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(paloma::kDiscoveryPort);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  paloma_printer_found found[2];
  paloma_clear_error();
  EXPECT_EQ(paloma_discover(100, found, 2), -1);
  EXPECT_NE(std::string(paloma_last_error()).find("22368"), std::string::npos);
  close(holder);
}

}  // namespace
