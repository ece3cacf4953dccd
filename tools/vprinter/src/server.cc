#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace vprinter {

namespace {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Writes all of `data` to a non-blocking or blocking descriptor within
// `timeoutMs`; false when it could not.
bool writeAllFd(int fd, const std::string& data, int timeoutMs, bool socket) {
  size_t done = 0;
  long long deadline = nowMs() + timeoutMs;
  while (done < data.size()) {
    ssize_t n = socket ? ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)
                       : ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      long long left = deadline - nowMs();
      if (left <= 0) return false;
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(left));
      continue;
    }
    return false;
  }
  return true;
}

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int f = -1) {
    if (fd >= 0) ::close(fd);
    fd = f;
  }
};

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

std::string discoveryReply(const std::string& name, int tcpPort) {
  std::string r = "paloma-vprinter;name=" + name + ";tcp=" + std::to_string(tcpPort) + ";";
  while (r.size() < 64) r.push_back('\0');
  return r;
}

int runServer(Printer& printer, const ServerOptions& opt, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& announce) {
  Fd listener, client, ptyMaster, ptySlave, raw;
  int tcpPort = opt.port;

  if (opt.tcp) {
    listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.fd < 0) {
      announce(std::string("error: socket: ") + std::strerror(errno));
      return 1;
    }
    int one = 1;
    ::setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(opt.port));
    if (::inet_pton(AF_INET, opt.host.c_str(), &a.sin_addr) != 1) {
      announce("error: not an IPv4 address: " + opt.host);
      return 1;
    }
    if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener.fd, 8) != 0) {
      announce("error: cannot listen on " + opt.host + ":" + std::to_string(opt.port) + ": " +
               std::strerror(errno));
      return 1;
    }
    socklen_t len = sizeof a;
    ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &len);
    tcpPort = ntohs(a.sin_port);
    announce("listening on " + opt.host + ":" + std::to_string(tcpPort));
  }

  std::unique_ptr<Session> serialSession;
  long long serialLast = nowMs();
  if (opt.serial) {
    ptyMaster.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (ptyMaster.fd < 0 || ::grantpt(ptyMaster.fd) != 0 || ::unlockpt(ptyMaster.fd) != 0) {
      announce(std::string("error: cannot create a pseudo-terminal: ") + std::strerror(errno));
      return 1;
    }
    const char* path = ::ptsname(ptyMaster.fd);
    std::string slavePath = path ? path : "";
    // Holding the other side open keeps the line up between the program's
    // opens and closes; raw mode, so no byte is changed or echoed.
    ptySlave.reset(::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (ptySlave.fd >= 0) {
      termios t;
      if (::tcgetattr(ptySlave.fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(ptySlave.fd, TCSANOW, &t);
      }
    }
    ::fcntl(ptyMaster.fd, F_SETFL, ::fcntl(ptyMaster.fd, F_GETFL) | O_NONBLOCK);
    serialSession = std::make_unique<Session>(printer, "serial", opt.limits);
    announce("serial port " + slavePath);
  }

  if (opt.discovery) {
    // The program binds the discovery port itself, without address reuse, so
    // the probe is taken from a raw socket instead of a bound one.
    raw.reset(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP));
    if (raw.fd < 0) {
      announce(std::string("error: raw socket for discovery: ") + std::strerror(errno));
      return 1;
    }
    announce("discovery on udp port " + std::to_string(opt.discoveryPort));
  }

  std::unique_ptr<Session> tcpSession;
  long long clientLast = 0;
  uint64_t connections = 0;
  std::vector<uint8_t> buf(kReadChunk);

  auto closeClient = [&](const char* why) {
    if (client.fd < 0) return;
    tcpSession->finish();
    std::string rest = tcpSession->takeReply();
    if (!rest.empty()) writeAllFd(client.fd, rest, opt.sendTimeoutMs, true);
    printer.event("tcp#" + std::to_string(connections), why);
    client.reset();
    tcpSession.reset();
  };

  while (!stop.load()) {
    std::vector<pollfd> fds;
    enum Slot { kListen, kClient, kPty, kRaw };
    std::vector<Slot> slots;
    if (listener.fd >= 0 && client.fd < 0) {
      fds.push_back({listener.fd, POLLIN, 0});
      slots.push_back(kListen);
    }
    if (client.fd >= 0) {
      fds.push_back({client.fd, POLLIN, 0});
      slots.push_back(kClient);
    }
    if (ptyMaster.fd >= 0) {
      fds.push_back({ptyMaster.fd, POLLIN, 0});
      slots.push_back(kPty);
    }
    if (raw.fd >= 0) {
      fds.push_back({raw.fd, POLLIN, 0});
      slots.push_back(kRaw);
    }
    int rc = ::poll(fds.data(), fds.size(), 200);
    if (rc < 0 && errno != EINTR) {
      announce(std::string("error: poll: ") + std::strerror(errno));
      return 1;
    }
    long long now = nowMs();
    for (size_t i = 0; rc > 0 && i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      switch (slots[i]) {
        case kListen: {
          int c = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
          if (c < 0) break;
          client.reset(c);
          ++connections;
          tcpSession = std::make_unique<Session>(printer, "tcp#" + std::to_string(connections),
                                                 opt.limits);
          clientLast = now;
          printer.event("tcp#" + std::to_string(connections), "connected");
          break;
        }
        case kClient: {
          ssize_t n = ::recv(client.fd, buf.data(), buf.size(), 0);
          if (n > 0) {
            clientLast = now;
            tcpSession->feed(buf.data(), static_cast<size_t>(n));
            std::string reply = tcpSession->takeReply();
            if (!reply.empty() && !writeAllFd(client.fd, reply, opt.sendTimeoutMs, true)) {
              closeClient("closed: the reply was not taken");
            }
          } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            closeClient("closed by the peer");
          }
          break;
        }
        case kPty: {
          ssize_t n = ::read(ptyMaster.fd, buf.data(), buf.size());
          if (n > 0) {
            serialLast = now;
            serialSession->feed(buf.data(), static_cast<size_t>(n));
            std::string reply = serialSession->takeReply();
            if (!reply.empty()) writeAllFd(ptyMaster.fd, reply, opt.sendTimeoutMs, false);
          } else if (fds[i].revents & (POLLHUP | POLLERR)) {
            // No side is open right now; do not spin.
            struct timespec ts{0, 50 * 1000000};
            nanosleep(&ts, nullptr);
          }
          break;
        }
        case kRaw: {
          sockaddr_in from{};
          socklen_t flen = sizeof from;
          ssize_t n = ::recvfrom(raw.fd, buf.data(), buf.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &flen);
          if (n < static_cast<ssize_t>(sizeof(iphdr))) break;
          const iphdr* ip = reinterpret_cast<const iphdr*>(buf.data());
          size_t ihl = ip->ihl * 4u;
          if (ihl < sizeof(iphdr) || static_cast<size_t>(n) < ihl + sizeof(udphdr)) break;
          const udphdr* udp = reinterpret_cast<const udphdr*>(buf.data() + ihl);
          size_t payload = static_cast<size_t>(n) - ihl - sizeof(udphdr);
          const uint8_t* p = buf.data() + ihl + sizeof(udphdr);
          if (ntohs(udp->dest) != opt.discoveryPort || payload != 32 || p[0] != 0x00 ||
              p[1] != 0x20) {
            break;
          }
          Fd out(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
          if (out.fd < 0) break;
          sockaddr_in to{};
          to.sin_family = AF_INET;
          to.sin_addr.s_addr = ip->saddr;
          to.sin_port = udp->source;
          std::string reply = discoveryReply(printer.options().name, tcpPort);
          ::sendto(out.fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to);
          char addr[INET_ADDRSTRLEN] = "";
          ::inet_ntop(AF_INET, &to.sin_addr, addr, sizeof addr);
          printer.event("discovery", std::string("answered the probe from ") + addr + ":" +
                                         std::to_string(ntohs(udp->source)));
          break;
        }
      }
    }
    if (client.fd >= 0 && now - clientLast > opt.idleTimeoutMs) {
      closeClient("closed: idle");
    }
    if (serialSession && serialSession->midCommand() && now - serialLast > opt.idleTimeoutMs) {
      serialSession->finish();
      serialSession->takeReply();
    }
  }
  if (client.fd >= 0) closeClient("closed: the printer stopped");
  if (serialSession) serialSession->finish();
  return 0;
}

}  // namespace vprinter
