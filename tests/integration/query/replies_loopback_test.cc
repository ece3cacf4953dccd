// Status, setting and string reads on the real backend: a printer stand-in
// thread on 127.0.0.1, and a pty pair standing in for a serial printer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "paloma.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPeerLifeMs = 10000;

long msSince(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// Reads from `fd` until `text` has come, the other side closes, or `ms`
// pass. True when the text came.
bool readUntil(int fd, const std::string& text, int ms, std::string* got = nullptr) {
  std::string seen;
  auto t0 = Clock::now();
  char buf[4096];
  while (seen.find(text) == std::string::npos) {
    long left = ms - msSince(t0);
    if (left <= 0) return false;
    pollfd q{fd, POLLIN, 0};
    if (poll(&q, 1, static_cast<int>(left)) <= 0) return false;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  if (got) *got = seen;
  return true;
}

// Writes all bytes, waiting at most `ms` for room; false when the other side
// went away or did not take them in time.
bool writeAllBounded(int fd, const std::string& bytes, int ms) {
  auto t0 = Clock::now();
  std::size_t done = 0;
  while (done < bytes.size()) {
    long left = ms - msSince(t0);
    if (left <= 0) return false;
    pollfd q{fd, POLLOUT, 0};
    if (poll(&q, 1, static_cast<int>(left)) <= 0) return false;
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Accepts one connection on an ephemeral loopback port and hands it to the
// script; the connection is closed when the script returns. The thread ends
// by itself within kPeerLifeMs.
class Peer {
 public:
  explicit Peer(std::function<void(int)> script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 1) != 0)
      return;
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      pollfd q{listener_, POLLIN, 0};
      if (poll(&q, 1, kPeerLifeMs) <= 0) return;
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      script_(c);
      close(c);
    });
  }
  ~Peer() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  int port() const { return port_; }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::function<void(int)> script_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

class LoopbackReplies : public ::testing::Test {
 protected:
  void connectTo(const Peer& p) { ASSERT_EQ(openethernet("127.0.0.1", p.port()), 1); }
  void TearDown() override { closeethernetport(0); }
};

TEST_F(LoopbackReplies, StatusSettingAndStringReplies) {
  std::string statusRequest;
  Peer peer([&](int c) {
    if (!readUntil(c, std::string(1, '\0'), 2000, &statusRequest)) return;
    writeAllBounded(c, "\x0B", 1000);
    if (!readUntil(c, "OUT CHR$(02)\r\n", 2000)) return;
    writeAllBounded(c, "203\r\n\x02\r\n", 1000);
    if (!readUntil(c, std::string("OUT \"ENDLINE\"\r\n\0", 16), 2000)) return;
    writeAllBounded(c, "E200 3412\r\nEND", 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    writeAllBounded(c, "LINE\r\n", 1000);
  });
  connectTo(peer);
  EXPECT_STREQ(ethernetprinterstatus(), "0B");
  EXPECT_EQ(statusRequest.substr(0, 5), "\x1b!?\r\n");
  EXPECT_STREQ(ethernetprintersetting("CONFIG", "DPI", "VALUE"), "203\r\n\x02\r\n");
  EXPECT_STREQ(ethernet_getstring("RFID READ", 0), "E200 3412\r\n");
}

TEST_F(LoopbackReplies, SilentPrinterGivesMinusOneAfterTheTimeout) {
  Peer peer([](int c) { readUntil(c, "never", 3000); });
  connectTo(peer);
  auto t0 = Clock::now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  long took = msSince(t0);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 4000);
  EXPECT_STREQ(ethernetprinterstatus(), "-1") << "the error stays recorded";
}

TEST_F(LoopbackReplies, ClosedConnectionGivesMinusOne) {
  Peer peer([](int c) { readUntil(c, std::string(1, '\0'), 2000); });
  connectTo(peer);
  auto t0 = Clock::now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  EXPECT_LT(msSince(t0), 900);
  EXPECT_STREQ(ethernet_getstring("X", 0), "-1");
}

TEST_F(LoopbackReplies, FloodWithoutMarkerEndsWithinTheBound) {
  Peer peer([](int c) {
    if (!readUntil(c, "ENDLINE", 2000)) return;
    std::string chunk(64 * 1024, 'f');
    for (int i = 0; i < 80; ++i)  // 5 MB
      if (!writeAllBounded(c, chunk, 2000)) return;
  });
  connectTo(peer);
  auto t0 = Clock::now();
  EXPECT_STREQ(ethernet_getstring("FLOOD", 0), "-1");
  EXPECT_LT(msSince(t0), 7000);
  closeethernetport(0);  // the stand-in's sends now fail and it ends
  peer.join();
}

// ---- a pty pair as the serial port ------------------------------------------

class PtyPrinter {
 public:
  PtyPrinter() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name) slave_ = name;
  }
  ~PtyPrinter() {
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
  }
  const std::string& path() const { return slave_; }
  void serve(std::function<void(int)> script) {
    thread_ = std::thread([this, script = std::move(script)] { script(master_); });
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  int master_ = -1;
  std::string slave_;
  std::thread thread_;
};

TEST(PtyReplies, SerialStatusAndStringRead) {
  PtyPrinter pty;
  ASSERT_FALSE(pty.path().empty());
  pty.serve([](int m) {
    if (!readUntil(m, "\x1b!?\r\n", 3000)) return;
    writeAllBounded(m, "\x20", 1000);
    if (!readUntil(m, "OUT \"ENDLINE\"\r\n", 3000)) return;
    writeAllBounded(m, "SERIAL\r\nEND", 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    writeAllBounded(m, "LINE\r\n", 1000);
  });
  ASSERT_STREQ(opencomport(pty.path().c_str()), "1");
  EXPECT_STREQ(comportprinterstatus(), "20");
  EXPECT_STREQ(comport_getstring("OUT \"SERIAL\"", 0), "SERIAL\r\n");
  pty.join();
  EXPECT_EQ(closeport(), 1);
}

}  // namespace
