// The public connection functions on the real backend: a raw CUPS queue that
// feeds a peer on 127.0.0.1, and a pty opened as a serial port by its path.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "paloma.h"

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

// A printer on 127.0.0.1: accepts connections and keeps what each one sent
// until the sender closes. Stops by itself when told or after 60 s.
class LoopbackPrinter {
 public:
  LoopbackPrinter() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(listener_, 4) != 0)
      return;
    socklen_t len = sizeof sa;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackPrinter() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  int port() const { return port_; }

  // The text of the next finished connection, waiting at most `ms`.
  bool nextJob(std::string* out, int ms) {
    std::unique_lock<std::mutex> g(mu_);
    if (!cv_.wait_for(g, std::chrono::milliseconds(ms), [this] { return !jobs_.empty(); }))
      return false;
    *out = jobs_.front();
    jobs_.erase(jobs_.begin());
    return true;
  }

 private:
  void serve() {
    for (int waited = 0; !stop_ && waited < 60000; waited += 50) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) continue;
      std::string got;
      for (int idle = 0; idle < 10000 && !stop_; idle += 50) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 50) <= 0) continue;
        char buf[512];
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
        idle = 0;
      }
      close(c);
      std::lock_guard<std::mutex> g(mu_);
      jobs_.push_back(got);
      cv_.notify_all();
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> jobs_;
};

// A raw queue made for the test and deleted after it.
class RawQueue {
 public:
  RawQueue(std::string name, std::string uri) : name_(std::move(name)) {
    ok_ = run("lpadmin -p " + name_ + " -E -v " + uri) == 0;
  }
  ~RawQueue() { run("lpadmin -x " + name_); }
  bool ok() const { return ok_; }

 private:
  std::string name_;
  bool ok_ = false;
};

TEST(ConnectionEndToEnd, CupsQueueByNameAndByPort) {
  if (!schedulerRunning())
    GTEST_SKIP() << "no CUPS scheduler is running (run the tests through scripts/with-cupsd.sh)";
  LoopbackPrinter printer;
  ASSERT_GT(printer.port(), 0);
  const std::string name = "paloma_test_" + std::to_string(getpid());
  const std::string uri = "socket://127.0.0.1:" + std::to_string(printer.port());
  RawQueue queue(name, uri);
  ASSERT_TRUE(queue.ok()) << "lpadmin could not make the queue " << name;

  // By the queue's name: one raw job holding exactly the command.
  ASSERT_EQ(openport(name.c_str()), 1);
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(closeport(), 1);
  std::string job;
  ASSERT_TRUE(printer.nextJob(&job, 30000)) << "the queue delivered nothing";
  EXPECT_EQ(job, "CLS\r\n");

  // By the port the spooler lists for it.
  ASSERT_EQ(compareport(uri.c_str()), 1);
  EXPECT_EQ(sendcommand("PRINT 1,1"), 1);
  EXPECT_EQ(closeport(), 1);
  ASSERT_TRUE(printer.nextJob(&job, 30000)) << "the queue delivered nothing";
  EXPECT_EQ(job, "PRINT 1,1\r\n");

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
