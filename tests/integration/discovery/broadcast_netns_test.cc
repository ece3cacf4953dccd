// The broadcast probe on the real backend, inside a network namespace that
// the test makes for itself: nothing leaves this process's own loopback.
//
// The library binds port 22368 itself without address reuse, so the
// responder here must not bind it: it sees the probe on a raw socket and
// answers from a port of its own to the probe's source.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "discovery/broadcast.h"
#include "paloma.h"

namespace {

// Moves this test process into a fresh network namespace with loopback up
// and a limited-broadcast route on it. Returns an empty text on success, or
// why it could not.
std::string enterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  if (std::system("ip link set lo up && "
                  "ip route add broadcast 255.255.255.255 dev lo src 127.0.0.1") != 0)
    return "could not set up loopback in the new namespace (is iproute2 installed?)";
  return "";
}

// Answers every probe it sees with `answerSize` bytes, until stopped.
class Responder {
 public:
  explicit Responder(std::size_t answerSize) : answerSize_(answerSize) {
    raw_ = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    out_ = socket(AF_INET, SOCK_DGRAM, 0);
    thread_ = std::thread([this] { run(); });
  }
  ~Responder() {
    stop_ = true;
    thread_.join();
    close(raw_);
    close(out_);
  }
  int probesSeen() const { return probes_; }
  std::string lastProbe() const { return last_; }

 private:
  void run() {
    unsigned char pkt[2048];
    while (!stop_) {
      pollfd p{raw_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = recv(raw_, pkt, sizeof pkt, 0);
      if (n < 28) continue;
      std::size_t ihl = static_cast<std::size_t>(pkt[0] & 0x0F) * 4;
      if (static_cast<std::size_t>(n) < ihl + 8) continue;
      std::uint16_t sport = static_cast<std::uint16_t>(pkt[ihl] << 8 | pkt[ihl + 1]);
      std::uint16_t dport = static_cast<std::uint16_t>(pkt[ihl + 2] << 8 | pkt[ihl + 3]);
      std::size_t payload = static_cast<std::size_t>(n) - ihl - 8;
      if (dport != paloma::kDiscoveryPort || payload != paloma::kDiscoveryProbeSize) continue;
      ++probes_;
      last_.assign(reinterpret_cast<char*>(pkt + ihl + 8), payload);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      std::memcpy(&to.sin_addr, pkt + 12, 4);
      to.sin_port = htons(sport);
      std::string answer(answerSize_, 'A');
      sendto(out_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  }
  std::size_t answerSize_;
  int raw_ = -1, out_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> probes_{0};
  std::string last_;
  std::thread thread_;
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
