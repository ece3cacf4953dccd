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

using Announce = std::function<void(const std::string&)>;

// The endpoints of one run and the threads serving their streams. A stream's
// thread refers to the printer, the options, the stop flag and `announce`,
// never to the Endpoints, so that a thread still rendering at the stop may
// outlive them.
class Endpoints {
 public:
  Endpoints(Printer& printer, const ServerOptions& opt, const std::atomic<bool>& stop,
            const Announce& announce)
      : printer_(printer), opt_(opt), stop_(stop), announce_(announce),
        tcpPort_(opt.tcp ? opt.port : 0) {}  // the discovery answer says 0 without TCP

  // Each false when the endpoint could not be set up; the reason went to
  // `announce` as "error: ...".
  bool openTcpListener();
  bool openPseudoTerminal();
  bool openDiscoverySocket();

  void serveSerialLine();
  // Accepts connections and answers probes until the stop (or a failed poll).
  void serveUntilStopped();
  // 0 when every stream ended within `stopWithinMs`, else 3 (see runServer).
  int waitForStreamsToEnd(int stopWithinMs);

 private:
  void acceptConnection();
  void answerDiscoveryProbe();
  // Joins the threads whose streams ended; returns how many still run.
  size_t reapFinished();

  Printer& printer_;
  const ServerOptions& opt_;
  const std::atomic<bool>& stop_;
  const Announce& announce_;
  int tcpPort_;
  Fd listener_, ptyMaster_, ptySlave_, raw_;
  std::list<Worker> workers_;
  uint64_t connections_ = 0;
  std::vector<uint8_t> probe_ = std::vector<uint8_t>(kReadChunk);
};

bool Endpoints::openTcpListener() {
  listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener_.fd < 0) {
    announce_(std::string("error: socket: ") + std::strerror(errno));
    return false;
  }
  int one = 1;
  ::setsockopt(listener_.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(opt_.port));
  if (::inet_pton(AF_INET, opt_.host.c_str(), &a.sin_addr) != 1) {
    announce_("error: not an IPv4 address: " + opt_.host);
    return false;
  }
  if (::bind(listener_.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener_.fd, 64) != 0) {
    announce_("error: cannot listen on " + opt_.host + ":" + std::to_string(opt_.port) + ": " +
              std::strerror(errno));
    return false;
  }
  socklen_t len = sizeof a;
  ::getsockname(listener_.fd, reinterpret_cast<sockaddr*>(&a), &len);
  tcpPort_ = ntohs(a.sin_port);
  announce_("listening on " + opt_.host + ":" + std::to_string(tcpPort_));
  return true;
}

bool Endpoints::openPseudoTerminal() {
  ptyMaster_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (ptyMaster_.fd < 0 || ::grantpt(ptyMaster_.fd) != 0 || ::unlockpt(ptyMaster_.fd) != 0) {
    announce_(std::string("error: cannot create a pseudo-terminal: ") + std::strerror(errno));
    return false;
  }
  const char* path = ::ptsname(ptyMaster_.fd);
  std::string slavePath = path ? path : "";
  // Holding the other side open keeps the line up between the program's
  // opens and closes; raw mode, so no byte is changed or echoed.
  ptySlave_.reset(::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (ptySlave_.fd >= 0) {
    termios t;
    if (::tcgetattr(ptySlave_.fd, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(ptySlave_.fd, TCSANOW, &t);
    }
  }
  ::fcntl(ptyMaster_.fd, F_SETFL, ::fcntl(ptyMaster_.fd, F_GETFL) | O_NONBLOCK);
  announce_("serial port " + slavePath);
  return true;
}

bool Endpoints::openDiscoverySocket() {
  // The program binds the discovery port itself, without address reuse, so
  // the probe is taken from a raw socket instead of a bound one.
  raw_.reset(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP));
  if (raw_.fd < 0) {
    announce_(std::string("error: raw socket for discovery: ") + std::strerror(errno));
    return false;
  }
  announce_("discovery on udp port " + std::to_string(opt_.discoveryPort));
  return true;
}

void Endpoints::serveSerialLine() {
  if (ptyMaster_.fd < 0) return;
  Worker& w = workers_.emplace_back();
  int fd = ptyMaster_.fd;
  w.thread = std::thread([&printer = printer_, &opt = opt_, &stop = stop_, fd, &w] {
    Session session(printer, "serial", opt.limits);
    serveStream(printer, opt, stop, fd, false, session);
    session.finish();
    w.done = true;
  });
}

size_t Endpoints::reapFinished() {
  size_t active = 0;
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done.load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++active;
      ++it;
    }
  }
  return active;
}

void Endpoints::serveUntilStopped() {
  while (!stop_.load()) {
    std::vector<pollfd> fds;
    enum Slot { kListen, kRaw };
    std::vector<Slot> slots;
    if (listener_.fd >= 0) {
      fds.push_back({listener_.fd, POLLIN, 0});
      slots.push_back(kListen);
    }
    if (raw_.fd >= 0) {
      fds.push_back({raw_.fd, POLLIN, 0});
      slots.push_back(kRaw);
    }
    int rc = ::poll(fds.data(), fds.size(), 100);
    if (rc < 0 && errno != EINTR) {
      announce_(std::string("error: poll: ") + std::strerror(errno));
      return;
    }
    for (size_t i = 0; rc > 0 && i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      if (slots[i] == kListen) {
        acceptConnection();
      } else {
        answerDiscoveryProbe();
      }
    }
  }
}

void Endpoints::acceptConnection() {
  sockaddr_in from{};
  socklen_t flen = sizeof from;
  int c = ::accept4(listener_.fd, reinterpret_cast<sockaddr*>(&from), &flen, SOCK_CLOEXEC);
  if (c < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // Out of descriptors: the pending connection stays in the backlog; do
      // not spin on it.
      struct timespec ts{0, 50 * 1000000};
      nanosleep(&ts, nullptr);
    }
    return;
  }
  char addr[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
  std::string peer = std::string(addr) + ":" + std::to_string(ntohs(from.sin_port));
  std::string name = "tcp#" + std::to_string(++connections_);
  size_t active = reapFinished();
  if (opt_.serial && active > 0) --active;  // the serial line is no connection
  if (static_cast<int>(active) >= opt_.maxConnections) {
    ::close(c);
    std::string why =
        "refused: " + std::to_string(active) + " connections are open (--max-connections)";
    printer_.event(name, why, peer);
    if (opt_.verbose) announce_("connection " + name + " from " + peer + " " + why);
    return;
  }
  printer_.event(name, "connected", peer);
  if (opt_.verbose) announce_("connection " + name + " from " + peer + " opened");
  Worker& w = workers_.emplace_back();
  w.thread = std::thread(
      [&printer = printer_, &opt = opt_, &stop = stop_, &announce = announce_, c, name, &w] {
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
}

void Endpoints::answerDiscoveryProbe() {
  sockaddr_in from{};
  socklen_t flen = sizeof from;
  ssize_t n = ::recvfrom(raw_.fd, probe_.data(), probe_.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), &flen);
  if (n < static_cast<ssize_t>(sizeof(iphdr))) return;
  const iphdr* ip = reinterpret_cast<const iphdr*>(probe_.data());
  size_t ihl = ip->ihl * 4u;
  if (ihl < sizeof(iphdr) || static_cast<size_t>(n) < ihl + sizeof(udphdr)) return;
  const udphdr* udp = reinterpret_cast<const udphdr*>(probe_.data() + ihl);
  size_t payload = static_cast<size_t>(n) - ihl - sizeof(udphdr);
  const uint8_t* p = probe_.data() + ihl + sizeof(udphdr);
  if (ntohs(udp->dest) != opt_.discoveryPort || payload != 32 || p[0] != 0x00 || p[1] != 0x20) {
    return;
  }
  Fd out(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (out.fd < 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip->saddr;
  to.sin_port = udp->source;
  std::string reply = discoveryReply(printer_.options().name, tcpPort_, opt_.httpPort);
  ::sendto(out.fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  char addr[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &to.sin_addr, addr, sizeof addr);
  printer_.event("discovery", std::string("answered the probe from ") + addr + ":" +
                                  std::to_string(ntohs(udp->source)));
}

int Endpoints::waitForStreamsToEnd(int stopWithinMs) {
  // Every stream notices the stop within 100 ms unless it is rendering.
  long long deadline = nowMs() + stopWithinMs;
  while (reapFinished() > 0 && nowMs() < deadline) {
    struct timespec ts{0, 10 * 1000000};
    nanosleep(&ts, nullptr);
  }
  if (workers_.empty()) return 0;
  for (Worker& w : workers_) w.thread.detach();
  // The detached threads refer to their Worker; the list must outlive them.
  new std::list<Worker>(std::move(workers_));
  return 3;
}

}  // namespace

int runServer(Printer& printer, const ServerOptions& opt, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& announce, int stopWithinMs) {
  Endpoints endpoints(printer, opt, stop, announce);
  if (opt.tcp && !endpoints.openTcpListener()) return 1;
  if (opt.serial && !endpoints.openPseudoTerminal()) return 1;
  if (opt.discovery && !endpoints.openDiscoverySocket()) return 1;
  endpoints.serveSerialLine();
  endpoints.serveUntilStopped();
  if (endpoints.waitForStreamsToEnd(stopWithinMs) == 3) return 3;
  return stop.load() ? 0 : 1;
}

}  // namespace vprinter
