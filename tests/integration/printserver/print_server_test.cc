// Printers behind a print server: a second CUPS scheduler of the test's own
// on 127.0.0.2:6310 (its own configuration and spool directories) holds a raw
// queue "labels" whose device is a loopback peer. The server forms of a
// spooler name reach it through openport, compareport, a slot opener and the
// paloma tool; an unknown queue, an unreachable and a silent server give 0
// within the bound and a reason naming the server.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "paloma.h"
#include "platform/posix/posix_internal.h"
#include "support/loopback_peer.h"
#include "support/posix/process.h"

namespace {

using paloma::test::LoopbackPeer;

using paloma::test::nowMs;

bool accepting(const char* addr, int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, addr, &a.sin_addr);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

bool runQuiet(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// The print server: cupsd in the foreground, stopped by its process id.
class PrintServer {
 public:
  static constexpr const char* kAddress = "127.0.0.2";
  static constexpr int kPort = 6310;

  // Empty when it runs; otherwise why it could not be started.
  std::string start() {
    if (geteuid() != 0) return "the scheduler needs root";
    if (!runQuiet("command -v cupsd && command -v lpadmin")) return "cupsd or lpadmin is missing";
    // The tests run as processes of their own, maybe side by side: one
    // server at a time, the next waiting (at most a minute) for the lock.
    lock_ = open("/tmp/paloma-printserver.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    long long lockEnd = nowMs() + 60000;
    while (lock_ >= 0 && flock(lock_, LOCK_EX | LOCK_NB) != 0) {
      if (nowMs() > lockEnd) return "another print-server test held the lock for a minute";
      usleep(100000);
    }
    if (accepting(kAddress, kPort)) return "127.0.0.2:6310 is taken";
    char tmpl[] = "/tmp/paloma-printserver-XXXXXX";
    if (!mkdtemp(tmpl)) return "no temporary directory";
    dir_ = tmpl;
    chmod(dir_.c_str(), 0755);
    for (const char* sub : {"/root", "/spool", "/spool/tmp", "/cache", "/state", "/log"}) {
      std::string d = dir_ + sub;
      mkdir(d.c_str(), 0755);
    }
    std::ofstream(dir_ + "/cupsd.conf")
        << "Listen " << kAddress << ":" << kPort << "\n"
        << "ServerName " << kAddress << "\nBrowsing No\nLogLevel warn\nDefaultAuthType None\n"
        << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        << "<Policy default>\n  <Limit All>\n    Order deny,allow\n    Allow all\n  </Limit>\n"
        << "</Policy>\n";
    std::ofstream(dir_ + "/cups-files.conf")
        << "ServerRoot " << dir_ << "/root\nRequestRoot " << dir_ << "/spool\nTempDir " << dir_
        << "/spool/tmp\nCacheDir " << dir_ << "/cache\nStateDir " << dir_ << "/state\n"
        << "ErrorLog " << dir_ << "/log/error_log\nAccessLog " << dir_ << "/log/access_log\n"
        << "PageLog " << dir_ << "/log/page_log\nFileDevice No\n";
    pid_ = fork();
    if (pid_ == 0) {
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0), dup2(devnull, 1), dup2(devnull, 2);
      std::string c = dir_ + "/cupsd.conf", s = dir_ + "/cups-files.conf";
      execlp("cupsd", "cupsd", "-f", "-c", c.c_str(), "-s", s.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    long long end = nowMs() + 15000;
    while (!accepting(kAddress, kPort)) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return "cupsd stopped at once (see " + dir_ + "/log/error_log)";
      }
      if (nowMs() > end) return "cupsd did not listen on 127.0.0.2:6310 within 15 s";
      usleep(50000);
    }
    return "";
  }

  // (Re)points the raw queue "labels" at a loopback port.
  bool queueTo(int peerPort) {
    return runQuiet("timeout 20 lpadmin -h " + std::string(kAddress) + ":" +
                    std::to_string(kPort) + " -p labels -E -v socket://127.0.0.1:" +
                    std::to_string(peerPort));
  }

  ~PrintServer() {
    if (pid_ > 0) paloma::test::stopChild(pid_, SIGTERM, 10000);
    if (dir_.rfind("/tmp/paloma-printserver-", 0) == 0) runQuiet("rm -rf '" + dir_ + "'");
    if (lock_ >= 0) close(lock_);  // releases the lock, once the server has stopped
  }

 private:
  int lock_ = -1;
  pid_t pid_ = -1;
  std::string dir_;
};

class BehindPrintServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new PrintServer;
    why_ = server_->start();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!why_.empty()) GTEST_SKIP() << "no print server: " << why_;
    peer_ = std::make_unique<LoopbackPeer>(LoopbackPeer::Options{{}, true, 60000});
    ASSERT_TRUE(server_->queueTo(peer_->port()));
  }
  // What the next job the server hands on brings to the peer.
  std::string nextJob() { return peer_->nextClosed(30000).bytes; }

  static PrintServer* server_;
  static std::string why_;
  std::unique_ptr<LoopbackPeer> peer_;
};
PrintServer* BehindPrintServer::server_ = nullptr;
std::string BehindPrintServer::why_;

TEST_F(BehindPrintServer, BackslashNameOpensTheQueueOnTheServer) {
  ASSERT_EQ(openport("\\\\127.0.0.2:6310\\labels"), 1) << paloma_last_error();
  EXPECT_EQ(sendcommand("TEXT 10,10,\"3\",0,1,1,\"server\""), 1);
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(nextJob(), "TEXT 10,10,\"3\",0,1,1,\"server\"\r\n");
}

TEST_F(BehindPrintServer, SlashNameCompareportAndASlotReachItToo) {
  ASSERT_EQ(openport("//127.0.0.2:6310/labels"), 1) << paloma_last_error();
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(nextJob(), "CLS\r\n");

  ASSERT_EQ(compareport("\\\\127.0.0.2:6310\\labels"), 1) << paloma_last_error();
  EXPECT_EQ(sendcommand("PRINT 1"), 1);
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(nextJob(), "PRINT 1\r\n");

  ASSERT_EQ(openportmult(3, "//127.0.0.2:6310/labels"), 1) << paloma_last_error();
  EXPECT_EQ(sendcommandmult(3, "FORMFEED"), 1);
  EXPECT_EQ(closeportmult(3), 1);
  EXPECT_EQ(nextJob(), "FORMFEED\r\n");
}

TEST_F(BehindPrintServer, ToolPrintsThroughTheServer) {
  std::string path = "/tmp/paloma-printserver-label-" + std::to_string(getpid()) + ".prn";
  std::ofstream(path, std::ios::binary) << "SIZE 50 mm,30 mm\r\nCLS\r\nPRINT 1\r\n";
  std::string cmd = std::string(PALOMA_CLI_EXE) + " print " + path +
                    " --to queue://127.0.0.2:6310/labels";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(nextJob(), "SIZE 50 mm,30 mm\r\nCLS\r\nPRINT 1\r\n\r\n");
  std::remove(path.c_str());
}

TEST_F(BehindPrintServer, UnknownQueueIsRefusedNamingTheServer) {
  paloma_clear_error();
  EXPECT_EQ(openport("\\\\127.0.0.2:6310\\nosuch"), 0);
  std::string why = paloma_last_error();
  EXPECT_NE(why.find("127.0.0.2:6310"), std::string::npos) << why;
  EXPECT_NE(why.find("nosuch"), std::string::npos) << why;
  std::vector<std::string> shown;
  paloma_set_message_handler(
      [](const char* text, const char*, int, void* user) {
        static_cast<std::vector<std::string>*>(user)->push_back(text);
      },
      &shown);
  EXPECT_EQ(compareport("//127.0.0.2:6310/nosuch"), 0);
  paloma_set_message_handler(nullptr, nullptr);
  EXPECT_EQ(shown.size(), 2u);  // the port, then the missing driver, as for a local port
}

TEST(ServerQueueName, FormsThatNameAServerAndThoseThatDoNot) {
  using paloma::posix_internal::ServerQueue;
  using paloma::posix_internal::parseServerQueue;
  struct Good {
    const char* name;
    const char* host;
    int port;
    const char* queue;
  };
  const Good good[] = {
      {"\\\\srv\\labels", "srv", 631, "labels"},
      {"//srv/labels", "srv", 631, "labels"},
      {"\\\\127.0.0.2:6310\\labels", "127.0.0.2", 6310, "labels"},
      {"//print.example:65535/Front-Desk_2", "print.example", 65535, "Front-Desk_2"},
  };
  for (const Good& g : good) {
    ServerQueue sq;
    ASSERT_TRUE(parseServerQueue(g.name, &sq)) << g.name;
    EXPECT_EQ(sq.host, g.host);
    EXPECT_EQ(sq.port, g.port);
    EXPECT_EQ(sq.queue, g.queue);
  }
  // Local names, device paths, and server names with a part missing or
  // wrong: none may reach a server (a bad port is not taken as the default).
  const char* bad[] = {
      "labels", "/dev/usb/lp0", "/labels", "//", "\\\\", "//srv", "//srv/", "///labels",
      "//srv:/labels", "//srv:0/labels", "//srv:65536/labels", "//srv:63a/labels",
      "//:631/labels", "//srv/a/b", "\\\\srv\\a\\b", "//srv\\labels", "\\\\srv/labels",
      "//srv/with space", "//s rv/labels",
  };
  for (const char* name : bad) {
    ServerQueue sq;
    EXPECT_FALSE(parseServerQueue(name, &sq)) << name;
    EXPECT_EQ(sq.port, 631) << name << ": a refused name changed the result";
  }
}

// No scheduler needed: nobody listens, or a listener never answers.
TEST(PrintServerAway, UnreachableOrSilentServerGivesZeroWithinTheBound) {
  auto start = std::chrono::steady_clock::now();
  paloma_clear_error();
  EXPECT_EQ(openport("\\\\127.0.0.1:1\\labels"), 0);
  EXPECT_NE(std::string(paloma_last_error()).find("127.0.0.1:1 refused the connection"),
            std::string::npos)
      << paloma_last_error();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));

  LoopbackPeer silent(LoopbackPeer::Options{{}, true, 30000});
  std::string name = "//127.0.0.1:" + std::to_string(silent.port()) + "/labels";
  start = std::chrono::steady_clock::now();
  paloma_clear_error();
  EXPECT_EQ(openport(name.c_str()), 0);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(std::string(paloma_last_error()).find("127.0.0.1:" + std::to_string(silent.port())),
            std::string::npos)
      << paloma_last_error();
  EXPECT_LT(took, std::chrono::seconds(12));
  paloma_clear_error();
  EXPECT_EQ(compareport(name.c_str()), 0);
  EXPECT_NE(std::string(paloma_last_error()).find("did not answer"), std::string::npos)
      << paloma_last_error();
}

// A print server that misbehaves, on 127.0.0.1: each connection it accepts
// is read until the request has arrived, then handed to `act`. It stops
// (and the connection it serves ends) when the test is done with it.
class BadPrintServer {
 public:
  using Act = std::function<void(int fd, const std::atomic<bool>& stop)>;
  explicit BadPrintServer(Act act) : act_(std::move(act)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~BadPrintServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  std::string name() const { return "//127.0.0.1:" + std::to_string(port_) + "/labels"; }
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }

  // Sends all of `bytes`; false when the client has gone or the test ended.
  static bool sendAll(int fd, const std::string& bytes, const std::atomic<bool>& stop) {
    std::size_t done = 0;
    while (done < bytes.size() && !stop) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
  }
  // Sends `bytes` one byte every `ms` until the client goes or the test ends.
  static void trickle(int fd, const std::string& bytes, int ms, const std::atomic<bool>& stop) {
    for (std::size_t i = 0; !stop; i = (i + 1) % bytes.size()) {
      if (!sendAll(fd, bytes.substr(i, 1), stop)) return;
      usleep(static_cast<useconds_t>(ms) * 1000);
    }
  }

 private:
  void run() {
    long long end = nowMs() + 60000;
    while (!stop_ && nowMs() < end) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      // The request: what arrives until the client pauses for 200 ms.
      char buf[4096];
      for (pollfd q{c, POLLIN, 0}; poll(&q, 1, 200) > 0 && recv(c, buf, sizeof buf, 0) > 0;) {
      }
      act_(c, stop_);
      close(c);
    }
  }

  Act act_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Servers that keep the exchange going without ever finishing it: the
// lookup's bound (5 s) holds for the whole exchange, with a second to spare.
TEST(PrintServerMisbehaving, TricklingAndFloodingServersAreCutOffAtTheBound) {
  struct Case {
    const char* what;
    BadPrintServer::Act act;
  };
  const Case cases[] = {
      {"a status line, then a byte every 100 ms",
       [](int fd, const std::atomic<bool>& stop) {
         if (BadPrintServer::sendAll(fd, "HTTP/1.1 200 OK\r\n", stop))
           BadPrintServer::trickle(fd, "X-Slow: yes\r\n", 100, stop);
       }},
      {"a whole header, then a body without end a byte every 100 ms",
       [](int fd, const std::atomic<bool>& stop) {
         if (BadPrintServer::sendAll(fd,
                                     "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\n"
                                     "Connection: close\r\n\r\n\x02",
                                     stop))
           BadPrintServer::trickle(fd, std::string(1, '\0'), 100, stop);
       }},
      {"a flood of 100 Continue",
       [](int fd, const std::atomic<bool>& stop) {
         while (BadPrintServer::sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n", stop)) usleep(1000);
       }},
  };
  for (const Case& c : cases) {
    BadPrintServer server(c.act);
    std::string name = server.name();
    auto start = std::chrono::steady_clock::now();
    paloma_clear_error();
    EXPECT_EQ(openport(name.c_str()), 0) << c.what;
    double took = secondsSince(start);
    EXPECT_LT(took, 6.0) << c.what;
    std::string why = paloma_last_error();
    EXPECT_NE(why.find(server.server()), std::string::npos) << c.what << ": " << why;
    EXPECT_NE(why.find("did not answer within 5 s"), std::string::npos) << c.what << ": " << why;
  }
  // compareport and returndriver look the queue up the same way.
  BadPrintServer trickling(cases[0].act);
  std::string name = trickling.name();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(compareport(name.c_str()), 0);
  EXPECT_LT(secondsSince(start), 6.0);
}

// Servers that end the exchange at once or answer what is no answer, each
// told apart in the reason instead of a time-out that did not happen.
TEST(PrintServerMisbehaving, ClosedResetAndGarbageAnswersAreNamed) {
  struct Case {
    const char* what;
    BadPrintServer::Act act;
    const char* said;
  };
  const Case cases[] = {
      {"closes", [](int, const std::atomic<bool>&) {}, "closed the connection"},
      {"resets",
       [](int fd, const std::atomic<bool>&) {
         linger l{1, 0};
         setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
       },
       "reset the connection"},
      {"answers garbage",
       [](int fd, const std::atomic<bool>& stop) {
         BadPrintServer::sendAll(fd, "SSH-2.0-nothing to do with printing\r\n\r\n", stop);
       },
       "not"},
      {"announces a 100 MB answer",
       [](int fd, const std::atomic<bool>& stop) {
         BadPrintServer::sendAll(fd,
                                 "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\n"
                                 "Content-Length: 100000000\r\n\r\n",
                                 stop);
         BadPrintServer::trickle(fd, std::string(1, '\0'), 100, stop);
       },
       "more than 1 MB"},
      {"answers garbage over HTTP",
       [](int fd, const std::atomic<bool>& stop) {
         BadPrintServer::sendAll(fd,
                                 "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\n"
                                 "Content-Length: 9\r\nConnection: close\r\n\r\nnot ipp!!",
                                 stop);
       },
       "not with IPP"},
      {"answers an HTTP error",
       [](int fd, const std::atomic<bool>& stop) {
         BadPrintServer::sendAll(fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", stop);
       },
       "403 Forbidden"},
      {"answers a web page",
       [](int fd, const std::atomic<bool>& stop) {
         BadPrintServer::sendAll(fd,
                                 "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                 "Content-Length: 5\r\nConnection: close\r\n\r\nhello",
                                 stop);
       },
       "not with IPP (text/html)"},
  };
  for (const Case& c : cases) {
    BadPrintServer server(c.act);
    std::string name = server.name();
    auto start = std::chrono::steady_clock::now();
    paloma_clear_error();
    EXPECT_EQ(openport(name.c_str()), 0) << c.what;
    EXPECT_LT(secondsSince(start), 6.0) << c.what;
    std::string why = paloma_last_error();
    EXPECT_NE(why.find(server.server()), std::string::npos) << c.what << ": " << why;
    EXPECT_NE(why.find(c.said), std::string::npos) << c.what << ": " << why;
    EXPECT_EQ(why.find("did not answer"), std::string::npos) << c.what << ": " << why;
    EXPECT_EQ(why.find("is not a port name"), std::string::npos) << c.what << ": " << why;
  }
}

}  // namespace
