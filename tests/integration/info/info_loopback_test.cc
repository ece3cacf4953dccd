// Information and setting queries on the real backend against a printer
// stand-in on 127.0.0.1 that answers each request block with a scripted
// reply (or stays silent).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "paloma.h"

namespace {

using Clock = std::chrono::steady_clock;

// One exchange: the size of the request block to wait for, and the reply to
// send once it is complete (nullopt: stay silent).
struct Exchange {
  std::size_t requestSize;
  std::optional<std::string> reply;
};

// Accepts one connection, then serves the exchanges in order, for at most
// ten seconds in all; the requests it received are kept for the test.
class ScriptedPrinter {
 public:
  explicit ScriptedPrinter(std::vector<Exchange> script) : script_(std::move(script)) {
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
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedPrinter() {
    finish();
    if (listener_ >= 0) close(listener_);
  }
  int port() const { return port_; }
  // Waits for the stand-in to end; the requests it read, in order.
  const std::vector<std::string>& requests() {
    finish();
    return requests_;
  }

 private:
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  int leftMs() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }
  bool readExactly(int c, std::size_t n, std::string* out) {
    char buf[4096];
    while (out->size() < n) {
      pollfd q{c, POLLIN, 0};
      if (poll(&q, 1, leftMs()) <= 0) return false;
      std::size_t want = std::min(sizeof buf, n - out->size());
      ssize_t got = recv(c, buf, want, 0);
      if (got <= 0) return false;
      out->append(buf, static_cast<std::size_t>(got));
    }
    return true;
  }
  void run() {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, leftMs()) <= 0) return;
    int c = accept(listener_, nullptr, nullptr);
    if (c < 0) return;
    for (const Exchange& e : script_) {
      std::string request;
      if (!readExactly(c, e.requestSize, &request)) break;
      requests_.push_back(request);
      if (e.reply) send(c, e.reply->data(), e.reply->size(), MSG_NOSIGNAL);
    }
    // Hold the connection until the library closes it (or time runs out).
    pollfd q{c, POLLIN, 0};
    char drain[256];
    while (leftMs() > 0 && poll(&q, 1, leftMs()) > 0 && recv(c, drain, sizeof drain, 0) > 0) {
    }
    close(c);
  }

  std::vector<Exchange> script_;
  std::vector<std::string> requests_;
  int listener_ = -1;
  int port_ = 0;
  Clock::time_point end_ = Clock::now() + std::chrono::seconds(10);
  std::thread thread_;
};

std::string padded(std::string text, std::size_t size) {
  text.resize(size, '\0');
  return text;
}

TEST(InfoLoopback, NameAndSettingQueriesOverTcp) {
  ScriptedPrinter printer({
      {200, std::string("PRINTER-X\r\n\x02\r\n")},
      {1024, std::string("203\r\n\x02\r\n")},
      {200, std::nullopt},  // a silent printer: the receive time-out
      {200, std::string("PRINTER-X\r\n")},
  });
  ASSERT_NE(printer.port(), 0);
  ASSERT_EQ(openethernet("127.0.0.1", printer.port()), 1);

  EXPECT_STREQ(ethernetprintername(), "PRINTER-X\r\n\x02\r\n");
  EXPECT_STREQ(ethernetprintersetting("SYSTEM", "INFORMATION", "DPI"), "203\r\n\x02\r\n");

  const auto start = Clock::now();
  EXPECT_STREQ(ethernetprintername(), "-1");
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(waited, 900) << "ended by the 1 s receive time-out";
  EXPECT_LT(waited, 6000);
  // The error was reported and cleared; the answer that follows is taken.
  EXPECT_STREQ(ethernetprintername(), "PRINTER-X\r\n");

  EXPECT_EQ(closeethernetport(0), 1);
  const auto& got = printer.requests();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], padded("~!T\n OUT \"\x02\"\n", 200));
  EXPECT_EQ(got[1],
            padded("OUT GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\")\r\nOUT CHR$(02)\r\n", 1024));
  EXPECT_EQ(got[2], got[0]);
}

}  // namespace
