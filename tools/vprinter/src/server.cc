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
#include <algorithm>
#include <list>
#include <memory>
#include <thread>
#include <vector>

namespace vprinter {

namespace {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Writes all of `data` to a non-blocking or blocking descriptor within
// `timeoutMs`; false when it could not, or when `stop` was set meanwhile.
bool writeAllFd(int fd, const std::string& data, int timeoutMs, bool socket,
                const std::atomic<bool>* stop = nullptr) {
  size_t done = 0;
  long long deadline = nowMs() + timeoutMs;
  while (done < data.size()) {
    ssize_t n = socket ? ::send(fd, data.data() + done, data.size() - done,
                                MSG_NOSIGNAL | MSG_DONTWAIT)
                       : ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      long long left = deadline - nowMs();
      if (left <= 0 || (stop && stop->load())) return false;
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
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

std::string discoveryReply(const std::string& name, int tcpPort, int httpPort) {
  std::string safe;
  static const char* hex = "0123456789ABCDEF";
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool escape = c < 0x20 || c == ';' || c == '=' || c == '%';
    if (safe.size() + (escape ? 3 : 1) > 200) break;  // whole escapes only
    if (escape) {
      safe += '%';
      safe += hex[c >> 4];
      safe += hex[c & 15];
    } else {
      safe += ch;
    }
  }
  std::string r = "paloma-vprinter;name=" + safe + ";tcp=" + std::to_string(tcpPort) + ";";
  if (httpPort > 0) r += "http=" + std::to_string(httpPort) + ";";
  while (r.size() < 64) r.push_back('\0');
  return r;
}

namespace {

// Serves one stream (a TCP connection, the pseudo-terminal) until it ends, it
// stays silent too long, or the printer stops. Returns why it ended.
std::string serveStream(Printer& printer, const ServerOptions& opt, const std::atomic<bool>& stop,
                        int fd, bool socket, Session& session) {
  std::vector<uint8_t> buf(kReadChunk);
  long long last = nowMs();
  while (!stop.load()) {
    pollfd p{fd, POLLIN, 0};
    int rc = ::poll(&p, 1, 100);
    if (rc < 0 && errno != EINTR) return "closed: " + std::string(std::strerror(errno));
    if (rc > 0) {
      ssize_t n = socket ? ::recv(fd, buf.data(), buf.size(), 0)
                         : ::read(fd, buf.data(), buf.size());
      if (n > 0) {
        last = nowMs();
        session.feed(buf.data(), static_cast<size_t>(n));
        std::string reply = session.takeReply();
        if (!reply.empty() && !writeAllFd(fd, reply, opt.sendTimeoutMs, socket, &stop) &&
            socket) {
          return "closed: the reply was not taken";
        }
        continue;
      }
      if (socket && (n == 0 || (errno != EINTR && errno != EAGAIN))) return "closed by the peer";
      if (!socket && (p.revents & (POLLHUP | POLLERR))) {
        // No side of the pseudo-terminal is open right now; do not spin.
        struct timespec ts{0, 50 * 1000000};
        nanosleep(&ts, nullptr);
      }
    }
    long long idle = nowMs() - last;
    if (opt.idleTimeoutMs > 0 && idle > opt.idleTimeoutMs) {
      if (socket) return "closed: idle";
      if (session.midCommand()) {
        // The serial line stays; a command cut short by silence is reported.
        session.finish();
        session.takeReply();
      }
    }
  }
  (void)printer;
  return "closed: the printer stopped";
}

struct Worker {
  std::thread thread;
  std::atomic<bool> done{false};
};

}  // namespace

int runServer(Printer& printer, const ServerOptions& opt, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& announce, int stopWithinMs) {
  Fd listener, ptyMaster, ptySlave, raw;
  int tcpPort = opt.tcp ? opt.port : 0;  // the discovery answer says 0 without TCP

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
        ::listen(listener.fd, 64) != 0) {
      announce("error: cannot listen on " + opt.host + ":" + std::to_string(opt.port) + ": " +
               std::strerror(errno));
      return 1;
    }
    socklen_t len = sizeof a;
    ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &len);
    tcpPort = ntohs(a.sin_port);
    announce("listening on " + opt.host + ":" + std::to_string(tcpPort));
  }

  std::list<Worker> workers;
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

  if (ptyMaster.fd >= 0) {
    Worker& w = workers.emplace_back();
    int fd = ptyMaster.fd;
    w.thread = std::thread([&printer, &opt, &stop, fd, &w] {
      Session session(printer, "serial", opt.limits);
      serveStream(printer, opt, stop, fd, false, session);
      session.finish();
      w.done = true;
    });
  }

  uint64_t connections = 0;
  std::vector<uint8_t> buf(kReadChunk);
  auto reap = [&]() {
    size_t active = 0;
    for (auto it = workers.begin(); it != workers.end();) {
      if (it->done.load()) {
        it->thread.join();
        it = workers.erase(it);
      } else {
        ++active;
        ++it;
      }
    }
    return active;
  };

  while (!stop.load()) {
    std::vector<pollfd> fds;
    enum Slot { kListen, kRaw };
    std::vector<Slot> slots;
    if (listener.fd >= 0) {
      fds.push_back({listener.fd, POLLIN, 0});
      slots.push_back(kListen);
    }
    if (raw.fd >= 0) {
      fds.push_back({raw.fd, POLLIN, 0});
      slots.push_back(kRaw);
    }
    int rc = ::poll(fds.data(), fds.size(), 100);
    if (rc < 0 && errno != EINTR) {
      announce(std::string("error: poll: ") + std::strerror(errno));
      break;
    }
    for (size_t i = 0; rc > 0 && i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      switch (slots[i]) {
        case kListen: {
          sockaddr_in from{};
          socklen_t flen = sizeof from;
          int c = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&from), &flen,
                            SOCK_CLOEXEC);
          if (c < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
              // Out of descriptors: the pending connection stays in the
              // backlog; do not spin on it.
              struct timespec ts{0, 50 * 1000000};
              nanosleep(&ts, nullptr);
            }
            break;
          }
          char addr[INET_ADDRSTRLEN] = "";
          ::inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
          std::string peer = std::string(addr) + ":" + std::to_string(ntohs(from.sin_port));
          std::string name = "tcp#" + std::to_string(++connections);
          size_t active = reap();
          if (opt.serial && active > 0) --active;  // the serial line is no connection
          if (static_cast<int>(active) >= opt.maxConnections) {
            ::close(c);
            std::string why = "refused: " + std::to_string(active) +
                              " connections are open (--max-connections)";
            printer.event(name, why, peer);
            if (opt.verbose) announce("connection " + name + " from " + peer + " " + why);
            break;
          }
          printer.event(name, "connected", peer);
          if (opt.verbose) announce("connection " + name + " from " + peer + " opened");
          Worker& w = workers.emplace_back();
          w.thread = std::thread([&printer, &opt, &stop, &announce, c, name, &w] {
            std::string why;
            {
              Session session(printer, name, opt.limits);
              why = serveStream(printer, opt, stop, c, true, session);
              session.finish();
              std::string rest = session.takeReply();
              if (!rest.empty()) writeAllFd(c, rest, 200, true, &stop);
            }
            ::close(c);
            printer.event(name, why);
            if (opt.verbose) announce("connection " + name + " " + why);
            w.done = true;
          });
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
          std::string reply = discoveryReply(printer.options().name, tcpPort, opt.httpPort);
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
  }
  // Stopping: every stream notices within 100 ms unless it is rendering.
  long long deadline = nowMs() + stopWithinMs;
  while (reap() > 0 && nowMs() < deadline) {
    struct timespec ts{0, 10 * 1000000};
    nanosleep(&ts, nullptr);
  }
  if (!workers.empty()) {
    for (Worker& w : workers) w.thread.detach();
    // The detached threads refer to `workers`; it must outlive them.
    new std::list<Worker>(std::move(workers));
    return 3;
  }
  return stop.load() ? 0 : 1;
}

}  // namespace vprinter
