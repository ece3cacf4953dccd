// The Linux backend's sockets: BSD sockets over IPv4.
#include "platform/posix/posix_internal.h"
#include "platform/last_error.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <string>
#include <memory>
#include <utility>

namespace paloma {

using namespace posix_internal;

namespace {

constexpr int kConnectTimeoutMs = 5000;  // TCP connect

// ---- sockets -----------------------------------------------------------------

int netErrorOf(int e) {
  switch (e) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
      return kNetTimedOut;
    case ECONNRESET:
    case EPIPE:
      return kNetConnReset;
    default:
      return kNetOther;
  }
}

NetResult netFailed(int e) { return {-1, netErrorOf(e), e}; }

// Sets a socket's time-out for `option` (SO_SNDTIMEO, SO_RCVTIMEO) and
// records it beside the socket; 0 or less means the default.
void setTimeoutOption(Resource& r, int option, int ms) {
  if (ms <= 0) ms = kSocketDefaultTimeoutMs;
  timeval tv{ms / 1000, static_cast<suseconds_t>((ms % 1000) * 1000)};
  if (setsockopt(r.fd, SOL_SOCKET, option, &tv, sizeof tv) != 0) return;
  (option == SO_SNDTIMEO ? r.sendTimeoutMs : r.recvTimeoutMs).store(ms);
}

// A new socket in the table, bounded by the default time-outs until the
// caller sets its own.
Socket addSocket(int fd, bool bounded) {
  if (fd < 0) return kInvalidSocket;
  auto r = std::make_shared<Resource>();
  r->kind = Resource::Socket;
  r->fd = fd;
  if (bounded) {
    setTimeoutOption(*r, SO_SNDTIMEO, kSocketDefaultTimeoutMs);
    setTimeoutOption(*r, SO_RCVTIMEO, kSocketDefaultTimeoutMs);
  }
  return resources().add(std::move(r));
}

std::shared_ptr<Resource> socketOf(Socket s) { return findKind(s, {Resource::Socket}); }

int socketFd(Socket s) {
  std::shared_ptr<Resource> r = socketOf(s);
  return r ? r->fd : -1;
}

sockaddr_in ipv4(std::uint32_t addr, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  sa.sin_port = htons(port);
  return sa;
}

}  // namespace

// ---- sockets -----------------------------------------------------------------

void PosixOs::netStartup() {}
void PosixOs::netCleanup() {}

Socket PosixOs::tcpSocket() {
  return addSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), /*bounded=*/true);
}

NetResult PosixOs::tcpConnect(Socket s, std::uint32_t addr, std::uint16_t port) {
  return tcpConnectWithin(s, addr, port, kConnectTimeoutMs);
}

NetResult PosixOs::tcpConnectWithin(Socket s, std::uint32_t addr, std::uint16_t port,
                                    int timeoutMs) {
  int fd = socketFd(s);
  if (fd < 0) return netFailed(EBADF);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return netFailed(errno);
  sockaddr_in sa = ipv4(addr, port);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int err = rc == 0 ? 0 : errno;
  if (rc != 0 && (err == EINPROGRESS || err == EINTR)) {
    int ready = pollFor(fd, POLLOUT, timeoutMs > 0 ? timeoutMs : kConnectTimeoutMs);
    if (ready == 0) {
      err = ETIMEDOUT;
    } else if (ready < 0) {
      err = errno;
    } else {
      socklen_t len = sizeof err;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  fcntl(fd, F_SETFL, flags);
  if (err != 0) return netFailed(err);
  return {0, kNetOk};
}

bool PosixOs::resolveIPv4(const std::string& host, std::uint32_t* hostOrder) {
  if (ipv4FromText(host.c_str(), hostOrder)) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    setLastError("cannot find the IPv4 address of " + host + ": " + gai_strerror(rc));
    if (res) freeaddrinfo(res);
    return false;
  }
  *hostOrder = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(res);
  return true;
}

bool PosixOs::shutdownSend(Socket s) {
  int fd = socketFd(s);
  return fd >= 0 && ::shutdown(fd, SHUT_WR) == 0;
}

long PosixOs::unsentBytes(Socket s) {
  int fd = socketFd(s);
  int n = 0;
  if (fd < 0 || ioctl(fd, SIOCOUTQ, &n) != 0) return -1;
  return n;
}

bool PosixOs::isBusyError(int osError) { return osError == EBUSY; }

void PosixOs::setSocketTimeouts(Socket s, int sendMs, int recvMs) {
  std::shared_ptr<Resource> r = socketOf(s);
  if (!r) return;
  setTimeoutOption(*r, SO_SNDTIMEO, sendMs);
  setTimeoutOption(*r, SO_RCVTIMEO, recvMs);
}

void PosixOs::setNoDelay(Socket s) {
  int fd = socketFd(s);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

NetResult PosixOs::send(Socket s, const void* data, std::size_t n, bool more) {
  std::shared_ptr<Resource> r = socketOf(s);
  if (!r || (!data && n)) return netFailed(r ? EFAULT : EBADF);
  // The stall rule of every bulk write, with the socket's send time-out as
  // its bound: the call returns once some bytes were taken, and fails only
  // when none moved for the whole bound (signals do not restart the wait).
  IoResult w = writeUnderStallBound(r->fd, data, n,
                                    r->sendTimeoutMs.load(std::memory_order_relaxed),
                                    MSG_NOSIGNAL | (more ? MSG_MORE : 0));
  // A send that stalled after some bytes fails too: the caller would only
  // wait the whole bound again for the rest.
  if (w.ok && !w.timedOut) return {static_cast<long>(w.count), kNetOk};
  return netFailed(w.error);
}

NetResult PosixOs::recv(Socket s, void* buf, std::size_t cap) {
  std::shared_ptr<Resource> r = socketOf(s);
  if (!r || (!buf && cap)) return netFailed(r ? EFAULT : EBADF);
  // As in send: retries after signals stay within the socket's time-out.
  Deadline deadline(r->recvTimeoutMs.load(std::memory_order_relaxed));
  for (;;) {
    ssize_t got = ::recv(r->fd, buf, cap, 0);
    if (got >= 0) return {static_cast<long>(got), kNetOk};
    if (errno != EINTR) return netFailed(errno);  // EAGAIN here is the receive time-out
    if (deadline.passed()) return netFailed(ETIMEDOUT);
  }
}

void PosixOs::closeSocket(Socket s) {
  if (findKind(s, {Resource::Socket})) resources().remove(s);
}

Socket PosixOs::udpSocket() {
  return addSocket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), /*bounded=*/false);
}

void PosixOs::setBroadcast(Socket s) {
  int fd = socketFd(s);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
}

bool PosixOs::bindAny(Socket s, std::uint16_t port) {
  int fd = socketFd(s);
  if (fd < 0) return false;
  sockaddr_in sa = ipv4(INADDR_ANY, port);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

NetResult PosixOs::sendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr,
                          std::uint16_t port) {
  int fd = socketFd(s);
  if (fd < 0 || (!data && n)) return netFailed(fd < 0 ? EBADF : EFAULT);
  sockaddr_in sa = ipv4(addr, port);
  for (;;) {
    ssize_t w = ::sendto(fd, data, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (w >= 0) return {static_cast<long>(w), kNetOk};
    if (errno != EINTR) return netFailed(errno);
  }
}

NetResult PosixOs::recvFrom(Socket s, void* buf, std::size_t cap, int timeoutMs) {
  return recvFromSender(s, buf, cap, timeoutMs, nullptr);
}

NetResult PosixOs::recvFromSender(Socket s, void* buf, std::size_t cap, int timeoutMs,
                                  Sender* sender) {
  if (sender) *sender = Sender{};
  int fd = socketFd(s);
  if (fd < 0 || (!buf && cap)) return netFailed(fd < 0 ? EBADF : EFAULT);
  int ready = pollFor(fd, POLLIN, std::max(0, timeoutMs));
  if (ready == 0) return netFailed(ETIMEDOUT);
  if (ready < 0) return netFailed(errno);
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t got = ::recvfrom(fd, buf, cap, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                             &fromLen);
    if (got >= 0) {
      if (sender && fromLen >= sizeof from && from.sin_family == AF_INET) {
        sender->addr = ntohl(from.sin_addr.s_addr);
        sender->port = ntohs(from.sin_port);
      }
      return {static_cast<long>(got), kNetOk};
    }
    if (errno != EINTR) return netFailed(errno);
  }
}

}  // namespace paloma
