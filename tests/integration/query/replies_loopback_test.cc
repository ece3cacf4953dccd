// Status, setting and string reads on the real backend: a printer stand-in
// thread on 127.0.0.1, and a pty pair standing in for a serial printer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

using paloma::test::LoopbackPeer;

class LoopbackReplies : public ::testing::Test {
 protected:
  void connectTo(const LoopbackPeer& p) { ASSERT_EQ(openethernet("127.0.0.1", p.port()), 1); }
  void TearDown() override { closeethernetport(0); }
};

// Answers the requests in turn: once the bytes since the last answer contain
// the request's ending, sends its reply.
LoopbackPeer::Script inTurn(std::vector<std::pair<std::string, LoopbackPeer::Reply>> steps) {
  return [steps = std::move(steps), next = std::size_t{0},
          from = std::size_t{0}](const std::string& got) mutable {
    if (next == steps.size() || got.find(steps[next].first, from) == std::string::npos)
      return LoopbackPeer::Reply{};
    from = got.size();
    return steps[next++].second;
  };
}

TEST_F(LoopbackReplies, StatusSettingAndStringReplies) {
  LoopbackPeer peer(inTurn({
      {std::string(1, '\0'), {"\x0B"}},
      {"OUT CHR$(02)\r\n", {"203\r\n\x02\r\n"}},
      {std::string("OUT \"ENDLINE\"\r\n\0", 16), {"E200 3412\r\nEND", false, 150, "LINE\r\n"}},
  }));
  connectTo(peer);
  EXPECT_STREQ(ethernetprinterstatus(), "0B");
  EXPECT_EQ(peer.received().substr(0, 5), "\x1b!?\r\n");
  EXPECT_STREQ(ethernetprintersetting("CONFIG", "DPI", "VALUE"), "203\r\n\x02\r\n");
  EXPECT_STREQ(ethernet_getstring("RFID READ", 0), "E200 3412\r\n");
}

TEST_F(LoopbackReplies, SilentPrinterGivesMinusOneAfterTheTimeout) {
  LoopbackPeer peer;
  connectTo(peer);
  auto t0 = Clock::now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  long took = msSince(t0);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 4000);
  EXPECT_STREQ(ethernetprinterstatus(), "-1") << "the error stays recorded";
}

TEST_F(LoopbackReplies, ClosedConnectionGivesMinusOne) {
  LoopbackPeer peer([](const std::string& got) {
    return LoopbackPeer::Reply{"", got.find('\0') != std::string::npos};
  });
  connectTo(peer);
  auto t0 = Clock::now();
  EXPECT_STREQ(ethernetprinterstatus(), "-1");
  EXPECT_LT(msSince(t0), 900);
  EXPECT_STREQ(ethernet_getstring("X", 0), "-1");
}

TEST_F(LoopbackReplies, FloodWithoutMarkerEndsWithinTheBound) {
  LoopbackPeer peer(inTurn({{"ENDLINE", {std::string(5 * 1024 * 1024, 'f')}}}));
  connectTo(peer);
  auto t0 = Clock::now();
  EXPECT_STREQ(ethernet_getstring("FLOOD", 0), "-1");
  EXPECT_LT(msSince(t0), 7000);
  closeethernetport(0);  // the stand-in's sends now fail and it ends
  EXPECT_TRUE(peer.nextClosed(5000).ended);
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
