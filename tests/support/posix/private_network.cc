#include "support/posix/private_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "discovery/broadcast.h"

namespace paloma::test {

std::string enterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  if (std::system("ip link set lo up && "
                  "ip route add broadcast 255.255.255.255 dev lo src 127.0.0.1") != 0)
    return "could not set up loopback in the new namespace (is iproute2 installed?)";
  return "";
}

ProbeResponder::ProbeResponder(Options options) : options_(std::move(options)) {
  raw_ = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
  out_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(out_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(out_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { run(); });
}

ProbeResponder::~ProbeResponder() {
  stop_ = true;
  thread_.join();
  if (raw_ >= 0) close(raw_);
  if (out_ >= 0) close(out_);
}

std::string ProbeResponder::lastProbe() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_;
}

void ProbeResponder::run() {
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
    if (dport != kDiscoveryPort || payload != kDiscoveryProbeSize) continue;
    std::string bytes(reinterpret_cast<char*>(pkt + ihl + 8), payload);
    if (!options_.probe.empty() && bytes != options_.probe) continue;
    {
      std::lock_guard<std::mutex> lock(mu_);
      last_ = bytes;
    }
    ++probes_;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, pkt + 12, 4);
    to.sin_port = htons(sport);
    for (const std::string& answer : options_.answers)
      sendto(out_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
}

}  // namespace paloma::test
