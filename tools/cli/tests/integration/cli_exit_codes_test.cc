// The tool's exit codes, one row per command line: a wrong command line exits
// 2 before anything is opened, a value at either end of its range passes the
// checks and reaches the printer (here a refused port: exit 1), and a
// duration given in seconds is waited in full.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/posix/private_network.h"
#include "support/posix/process.h"
#include "support/posix/vprinter_process.h"

namespace {

using paloma::test::ProgramRun;

ProgramRun paloma(std::vector<std::string> args, int ms = 20000) {
  args.insert(args.begin(), PALOMA_CLI_EXE);
  return paloma::test::runProgram(args, ms);
}

// A port of 127.0.0.1 bound and never listened on: connecting is refused.
class RefusedPort {
 public:
  RefusedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }
  ~RefusedPort() {
    if (fd_ >= 0) close(fd_);
  }
  std::string uri() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

struct Row {
  std::vector<std::string> args;  // "TO" stands for the refused printer's URI
  int rc;
};

void runRows(const std::vector<Row>& rows, const std::string& to) {
  for (const Row& r : rows) {
    std::vector<std::string> args;
    std::string line;
    for (const std::string& a : r.args) {
      args.push_back(a == "TO" ? to : a);
      line += " " + (a.size() > 40 ? a.substr(0, 20) + "...(" + std::to_string(a.size()) + ")" : a);
    }
    ProgramRun run = paloma(args);
    EXPECT_EQ(run.rc, r.rc) << "paloma" << line << "\n" << run.err;
    if (r.rc == 2) {
      // A usage error names the problem and where to read more (or, for a
      // printer address, the forms an address takes).
      EXPECT_EQ(run.err.rfind("paloma", 0), 0u) << line << ": " << run.err;
      EXPECT_TRUE(run.err.find("--help") != std::string::npos ||
                  run.err.find("A printer is one of") != std::string::npos)
          << line << ": " << run.err;
    } else if (r.rc == 1) {
      EXPECT_EQ(run.err.rfind("paloma: ", 0), 0u) << line << ": " << run.err;
    }
    EXPECT_TRUE(run.out.empty()) << line << ": " << run.out;
  }
}

TEST(CliExitCodes, TextValuesAtTheEndsOfTheirRanges) {
  RefusedPort printer;
  ASSERT_GT(printer.port(), 0);
  const std::string face31(31, 'F'), face32(32, 'F');
  auto text = [](std::vector<std::string> extra) {
    std::vector<std::string> a = {"text", "Hi", "--to", "TO"};
    bool face = false, height = false;
    for (const std::string& e : extra) {
      face = face || e == "--face";
      height = height || e == "--height";
    }
    if (!face) a.insert(a.end(), {"--face", "DejaVu Sans"});
    if (!height) a.insert(a.end(), {"--height", "40"});
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  runRows(
      {
          {text({}), 1},
          {text({"--face", face31}), 1},
          {text({"--face", face32}), 2},
          {text({"--face", ""}), 2},
          {text({"--height", "1"}), 1},
          {text({"--height", "4000"}), 1},
          {text({"--height", "0"}), 2},
          {text({"--height", "4001"}), 2},
          {text({"--height", "12x"}), 2},
          {text({"--x", "0", "--y", "0"}), 1},
          {text({"--x", "100000", "--y", "100000"}), 1},
          {text({"--x", "-1"}), 2},
          {text({"--y", "-1"}), 2},
          {text({"--x", "100001"}), 2},
          {text({"--y", "100001"}), 2},
          {text({"--rotate", "0"}), 1},
          {text({"--rotate", "90"}), 1},
          {text({"--rotate", "270"}), 1},
          {text({"--rotate", "360"}), 2},
          {text({"--rotate", "-90"}), 2},
          {text({"--rotate", "135"}), 2},
          {{"text", "", "--face", "DejaVu Sans", "--height", "40", "--to", "TO"}, 2},
          {{"text", "a", "b", "--face", "DejaVu Sans", "--height", "40", "--to", "TO"}, 2},
          {{"text", "a", "--height", "40", "--to", "TO"}, 2},
          {{"text", "a", "--face", "DejaVu Sans", "--to", "TO"}, 2},
          {{"text", "a", "--face", "DejaVu Sans", "--height", "40"}, 2},
      },
      printer.uri());
}

TEST(CliExitCodes, AddressesAndCommandLinesAtTheirEnds) {
  RefusedPort printer;
  ASSERT_GT(printer.port(), 0);
  char dir[] = "/tmp/paloma-cli-exit-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/label.prn";
  ASSERT_EQ(system(("printf 'CLS\\r\\n' > " + file).c_str()), 0);
  runRows(
      {
          {{"send", "CLS", "--to", "TO"}, 1},
          {{"send", "CLS", "--to", "tcp://127.0.0.1:0"}, 2},
          {{"send", "CLS", "--to", "tcp://127.0.0.1:65536"}, 2},
          {{"send", "A\rB", "--to", "TO"}, 2},
          {{"send", "A\nB", "--to", "TO"}, 2},
          {{"send", "--to", "TO"}, 2},
          {{"send", "CLS", "--to"}, 2},
          {{"send", "CLS", "--to", "queue:" + std::string(127, 'q')}, 1},
          {{"send", "CLS", "--to", "queue:" + std::string(128, 'q')}, 2},
          {{"send", "CLS", "--to", "serial:/dev/paloma-none?baud=2400"}, 1},
          {{"send", "CLS", "--to", "serial:/dev/paloma-none?baud=115200"}, 1},
          {{"send", "CLS", "--to", "serial:/dev/paloma-none?baud=1200"}, 1},
          {{"send", "CLS", "--to", "serial:/dev/paloma-none?baud=600"}, 2},
          {{"send", "CLS", "--to", "serial:/dev/paloma-none?baud=230400"}, 2},
          {{"print", file, "--to", "TO"}, 1},
          {{"print", dir, "--to", "TO"}, 1},
          {{"print", std::string(dir) + "/missing.prn", "--to", "TO"}, 1},
          {{"print", "--to", "TO"}, 2},
          {{"status", "--to", "TO"}, 1},
          {{"status", "extra", "--to", "TO"}, 2},
          {{"status", "--to", "queue:labels"}, 1},
          {{"info", "--to", "TO"}, 1},
          {{"info", "extra", "--to", "TO"}, 2},
          {{"info", "--to", "/dev/usb/lp9"}, 1},
          {{"info", "--json", "--bogus", "--to", "TO"}, 2},
          {{"discover", "--wait", "60.5"}, 2},
          {{"discover", "--wait", "-0.001"}, 2},
          {{"discover", "--wait", "1s"}, 2},
          {{"discover", "--wait", "nan"}, 2},
          {{"discover", "extra"}, 2},
          {{"discover", "--to", "TO"}, 2},
          {{"frobnicate"}, 2},
          {{"help", "frobnicate"}, 2},
      },
      printer.uri());
  // A directory is refused by the tool itself, before anything is opened.
  ProgramRun r = paloma({"print", dir, "--to", printer.uri()});
  EXPECT_NE(r.err.find("is not a regular file"), std::string::npos) << r.err;
  unlink(file.c_str());
  rmdir(dir);
}

TEST(CliExitCodes, ValuesAtTheirLimitReachThePrinter) {
  paloma::test::VPrinterProcess vp(VPRINTER_EXE, {"--listen", "127.0.0.1:0"});
  ASSERT_GT(vp.port(), 0);
  // What the tool takes, the library takes too: the longest face name, the
  // far corner, the largest height.
  for (std::vector<std::string> extra : {std::vector<std::string>{"--face", std::string(31, 'F')},
                                         {"--x", "100000", "--y", "100000"},
                                         {"--height", "4000", "--rotate", "270"}}) {
    std::vector<std::string> args = {"text", "A", "--to", vp.uri()};
    if (extra[0] != "--face") args.insert(args.end(), {"--face", "DejaVu Sans"});
    if (extra[0] != "--height") args.insert(args.end(), {"--height", "20"});
    args.insert(args.end(), extra.begin(), extra.end());
    ProgramRun r = paloma(args, 60000);
    EXPECT_NE(r.rc, 2) << extra[0] << ": " << r.err;
    if (extra[0] == "--face") {
      EXPECT_EQ(r.rc, 0) << r.err;
    }
  }
  EXPECT_EQ(paloma({"send", std::string(100000, 'Z'), "--to", vp.uri()}).rc, 0);
}

// Last: it moves this process into a network namespace of its own, where the
// probe reaches nobody.
TEST(CliExitCodes, DiscoveryWaitsTheSecondsGivenInFull) {
  std::string why = paloma::test::enterPrivateNetwork();
  if (!why.empty()) GTEST_SKIP() << "no private network namespace here: " << why;
  struct Wait {
    const char* seconds;
    long long atLeastMs, atMostMs;
  };
  for (const Wait& w : {Wait{"1.5", 1500, 10000}, Wait{"0", 0, 3000}, Wait{"0.25", 250, 5000}}) {
    long long start = paloma::test::nowMs();
    ProgramRun r = paloma({"discover", "--wait", w.seconds, "--json"});
    long long took = paloma::test::nowMs() - start;
    EXPECT_EQ(r.rc, 0) << w.seconds << ": " << r.err;
    EXPECT_EQ(r.out, "[]\n") << w.seconds;
    EXPECT_GE(took, w.atLeastMs) << "--wait " << w.seconds;
    EXPECT_LE(took, w.atMostMs) << "--wait " << w.seconds;
  }
  // The longest wait is taken (the tool is still waiting when stopped).
  long long start = paloma::test::nowMs();
  ProgramRun r = paloma({"discover", "--wait", "60"}, 1500);
  EXPECT_EQ(r.rc, -1) << "--wait 60 ended after " << paloma::test::nowMs() - start
                      << " ms: " << r.err;
}

}  // namespace
