// The public connection functions on the real backend: a raw CUPS queue that
// feeds a peer on 127.0.0.1, and a pty opened as a serial port by its path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

// Runs a shell command, bounded by `timeout`; returns its exit status.
int run(const std::string& cmd) {
  int rc = std::system(("timeout 20 " + cmd + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool schedulerRunning() {
  FILE* p = popen("timeout 5 lpstat -r 2>/dev/null", "r");
  if (!p) return false;
  char line[128] = {};
  bool running = fgets(line, sizeof line, p) && std::string(line) == "scheduler is running\n";
  pclose(p);
  return running;
}

// A raw queue made for the test and deleted after it.
class RawQueue {
 public:
  RawQueue(std::string name, std::string uri) : name_(std::move(name)) {
    ok_ = run(kLpadmin + " -p " + name_ + " -E -v " + uri) == 0;
  }
  ~RawQueue() { run(kLpadmin + " -x " + name_); }
  // lpadmin lives in /usr/sbin, off an ordinary user's PATH.
  static inline const std::string kLpadmin = "env PATH=\"$PATH:/usr/sbin:/sbin\" lpadmin";
  bool ok() const { return ok_; }

 private:
  std::string name_;
  bool ok_ = false;
};

TEST(ConnectionEndToEnd, CupsQueueByNameAndByPort) {
  if (!schedulerRunning())
    GTEST_SKIP() << "no CUPS scheduler is running (run the tests through scripts/with-cupsd.sh)";
  // A printer on 127.0.0.1 that keeps what each connection sent until the
  // sender closed.
  paloma::test::LoopbackPeer printer(paloma::test::LoopbackPeer::Options{{}, true, 60000});
  ASSERT_GT(printer.port(), 0);
  const std::string name = "paloma_test_" + std::to_string(getpid());
  const std::string uri = "socket://127.0.0.1:" + std::to_string(printer.port());
  RawQueue queue(name, uri);
  if (!queue.ok() && geteuid() != 0)
    GTEST_SKIP() << "making a spooler queue needs root or membership of the lpadmin group";
  ASSERT_TRUE(queue.ok()) << "lpadmin could not make the queue " << name;

  // By the queue's name: one raw job holding exactly the command.
  ASSERT_EQ(openport(name.c_str()), 1);
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(closeport(), 1);
  auto job = printer.nextClosed(30000);
  ASSERT_TRUE(job.ended) << "the queue delivered nothing";
  EXPECT_EQ(job.bytes, "CLS\r\n");

  // By the port the spooler lists for it.
  ASSERT_EQ(compareport(uri.c_str()), 1);
  EXPECT_EQ(sendcommand("PRINT 1,1"), 1);
  EXPECT_EQ(closeport(), 1);
  job = printer.nextClosed(30000);
  ASSERT_TRUE(job.ended) << "the queue delivered nothing";
  EXPECT_EQ(job.bytes, "PRINT 1,1\r\n");

  EXPECT_EQ(std::string(returndriver(uri.c_str())), name);
  EXPECT_EQ(std::string(returndriver("socket://127.0.0.1:1")), "-1");
  EXPECT_EQ(compareport("SOCKET://127.0.0.1:1"), 0);
}

TEST(ConnectionEndToEnd, PtyOpenedByPathGetsCommandAndLineEnd) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string path = ptsname(master);

  ASSERT_EQ(openport(path.c_str()), 1);
  EXPECT_EQ(sendcommand("SIZE 40 mm,30 mm"), 1);
  std::string got;
  for (int i = 0; i < 200 && got.size() < 18; ++i) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buf[128];
    ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, "SIZE 40 mm,30 mm\r\n");
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(closeport(), 0);
  close(master);
}

}  // namespace
