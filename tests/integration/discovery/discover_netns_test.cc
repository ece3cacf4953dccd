// paloma_discover on the real backend, inside a network namespace of the
// test's own: who answered is reported once per sender, answers of the
// probe's length are ignored, and the wait is kept.
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
#include <vector>

#include "discovery/broadcast.h"
#include "paloma.h"

namespace {

std::string enterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  if (std::system("ip link set lo up && "
                  "ip route add broadcast 255.255.255.255 dev lo src 127.0.0.1") != 0)
    return "could not set up loopback in the new namespace (is iproute2 installed?)";
  return "";
}

// Sees every probe on a raw socket (the library holds the discovery port)
// and answers each with the given datagrams, from a UDP port of its own.
class Responder {
 public:
  explicit Responder(std::vector<std::string> answers) : answers_(std::move(answers)) {
    raw_ = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    out_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(out_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(out_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Responder() {
    stop_ = true;
    thread_.join();
    close(raw_);
    close(out_);
  }
  int probesSeen() const { return probes_; }
  int port() const { return port_; }

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
      // Another responder's 32-byte answer to the library's port is no probe.
      if (dport != paloma::kDiscoveryPort || payload != paloma::kDiscoveryProbeSize ||
          std::memcmp(pkt + ihl + 8, paloma::kDiscoveryProbe, payload) != 0)
        continue;
      ++probes_;
      sockaddr_in to{};
      to.sin_family = AF_INET;
      std::memcpy(&to.sin_addr, pkt + 12, 4);
      to.sin_port = htons(sport);
      for (const std::string& answer : answers_)
        sendto(out_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  }
  std::vector<std::string> answers_;
  int raw_ = -1, out_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> probes_{0};
  std::thread thread_;
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
