// A printer's side of a loopback TCP connection, on Winsock, for the Windows
// integration tests. Every wait is bounded; sockets close with the object.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace paloma::test {

class WinsockScope {
 public:
  WinsockScope() { WSAStartup(MAKEWORD(2, 2), &data_); }
  ~WinsockScope() { WSACleanup(); }

 private:
  WSADATA data_{};
};

// One connected socket with bounded reads.
class PeerSocket {
 public:
  PeerSocket() = default;
  explicit PeerSocket(SOCKET s) : s_(s) {}
  ~PeerSocket() { close(); }
  PeerSocket(const PeerSocket&) = delete;
  PeerSocket& operator=(const PeerSocket&) = delete;
  PeerSocket& operator=(PeerSocket&& o) noexcept {
    close();
    s_ = o.s_;
    o.s_ = INVALID_SOCKET;
    return *this;
  }

  bool valid() const { return s_ != INVALID_SOCKET; }
  void close() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    s_ = INVALID_SOCKET;
  }

  // Connects to 127.0.0.1:port.
  static SOCKET connectLoopback(std::uint16_t port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) {
      closesocket(s);
      return INVALID_SOCKET;
    }
    return s;
  }

  // Waits at most `ms` for readable data; false on time-out.
  bool readable(int ms) const {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s_, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) == 1;
  }

  // Reads until `n` bytes have come, the peer closes, or `ms` pass.
  std::string readAtLeast(std::size_t n, int ms) {
    std::string out;
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
    while (out.size() < n) {
      ULONGLONG now = GetTickCount64();
      if (now >= deadline || !readable(static_cast<int>(deadline - now))) break;
      char buf[4096];
      int r = recv(s_, buf, sizeof buf, 0);
      if (r <= 0) break;
      out.append(buf, static_cast<std::size_t>(r));
    }
    return out;
  }

  // Reads until `ms` pass with no new bytes for `quietMs`, or the peer closes.
  std::string readUntilQuiet(int quietMs, int ms) {
    std::string out;
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
    for (;;) {
      ULONGLONG now = GetTickCount64();
      if (now >= deadline) break;
      int wait = static_cast<int>(std::min<ULONGLONG>(deadline - now, static_cast<ULONGLONG>(quietMs)));
      if (!readable(wait)) break;
      char buf[4096];
      int r = recv(s_, buf, sizeof buf, 0);
      if (r <= 0) break;
      out.append(buf, static_cast<std::size_t>(r));
    }
    return out;
  }

  bool sendBytes(std::string_view bytes) {
    return send(s_, bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
  }

  // True when the other side has closed within `ms`.
  bool closedWithin(int ms) {
    if (!readable(ms)) return false;
    char c;
    return recv(s_, &c, 1, 0) == 0;
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

// Listens on 127.0.0.1 on a port of the system's choice.
class LoopbackListener {
 public:
  LoopbackListener() {
    s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    bind(s_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(s_, 4);
    int len = sizeof sa;
    getsockname(s_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~LoopbackListener() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t port() const { return port_; }

  // Accepts one connection within `ms`; invalid socket on time-out.
  SOCKET accept(int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s_, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return INVALID_SOCKET;
    return ::accept(s_, nullptr, nullptr);
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
inline std::uint16_t closedLoopbackPort() {
  LoopbackListener l;
  return l.port();
}

}  // namespace paloma::test
