#include "support/posix/private_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
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

namespace {

bool writeFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

// Without the right to make a network namespace (not root), first a user
// namespace in which this user is root, as `unshare -rn` does: the user and
// group map to 0 inside, and setgroups is denied so that the group map may be
// written without privilege.
std::string enterUserAndNetworkNamespaces() {
  uid_t uid = geteuid();
  gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    int e = errno;
    std::string why = std::string("unshare(CLONE_NEWUSER | CLONE_NEWNET): ") + std::strerror(e);
    if (e == EINVAL) why += " (this process already runs more than one thread)";
    if (e == EPERM || e == ENOSPC)
      why += " (the kernel does not let this user make namespaces: see "
             "user.max_user_namespaces and kernel.apparmor_restrict_unprivileged_userns)";
    return why;
  }
  if (!writeFile("/proc/self/setgroups", "deny") && errno != ENOENT)
    return std::string("writing /proc/self/setgroups: ") + std::strerror(errno);
  if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n"))
    return std::string("writing /proc/self/uid_map: ") + std::strerror(errno);
  if (!writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
    return std::string("writing /proc/self/gid_map: ") + std::strerror(errno);
  return "";
}

}  // namespace

std::string enterPrivateNetwork() {
  // Root, or already root of a user namespace entered before: a network
  // namespace alone.
  if (unshare(CLONE_NEWNET) != 0) {
    if (errno != EPERM) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    std::string why = enterUserAndNetworkNamespaces();
    if (!why.empty()) return why;
  }
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
