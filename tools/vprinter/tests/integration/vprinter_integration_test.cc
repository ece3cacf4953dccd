// The SDK against the virtual printer: over loopback TCP, over a pty, and the
// discovery probe inside a private network namespace.
#include <arpa/inet.h>
#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <string>
#include <vector>

#include "paloma.h"
#include "support/posix/private_network.h"
#include "support/posix/process.h"
#include "support/posix/vprinter_process.h"

extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

using paloma::test::nowMs;
using paloma::test::readFile;
using paloma::test::waitForText;

// The virtual printer as a child process, stopped when this goes away.
struct VPrinter : paloma::test::VPrinterProcess {
  explicit VPrinter(std::vector<std::string> args, const Prepare& prepare = nullptr)
      : VPrinterProcess(VPRINTER_EXE, std::move(args), prepare) {}
};

struct Image {
  int w = 0, h = 0;
  std::vector<uint8_t> black;
  bool at(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && black[y * w + x]; }
};

Image loadPng(const std::string& path) {
  Image img;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(s);
    img.w = cairo_image_surface_get_width(s);
    img.h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint8_t* d = cairo_image_surface_get_data(s);
    img.black.resize(static_cast<size_t>(img.w) * img.h);
    for (int y = 0; y < img.h; ++y) {
      for (int x = 0; x < img.w; ++x) {
        img.black[y * img.w + x] = d[y * stride + x * 4 + 1] < 128;  // green of RGB24
      }
    }
  }
  cairo_surface_destroy(s);
  return img;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char b[512];
  size_t n;
  while ((n = fread(b, 1, sizeof b, p)) > 0) out.append(b, n);
  pclose(p);
  return out;
}

// The four fields of the last BITMAP line of the log.
bool lastBitmapHeader(const std::string& log, long long v[4]) {
  size_t at = log.rfind("\"command\":\"BITMAP\",\"fields\":[");
  if (at == std::string::npos) return false;
  const char* p = log.c_str() + at + std::strlen("\"command\":\"BITMAP\",\"fields\":[");
  return std::sscanf(p, "\"%lld\",\"%lld\",\"%lld\",\"%lld\"", &v[0], &v[1], &v[2], &v[3]) == 4;
}

TEST(VPrinterOverTcp, SdkLabelRendersAndDecodes) {
  VPrinter vp({"--listen", "127.0.0.1:0"});
  int port = vp.port();
  ASSERT_GT(port, 0);
  ASSERT_EQ(openethernet("127.0.0.1", port), 1);
  EXPECT_EQ(setup("100", "150", "4", "8", "0", "3", "0"), 1);
  EXPECT_EQ(clearbuffer(), 1);
  EXPECT_EQ(printerfont("40", "30", "4", "0", "1", "1", "PALOMA TEST"), 1);
  EXPECT_EQ(barcode("40", "120", "128", "120", "2", "0", "3", "6", "PALOMA-0001"), 1);
  EXPECT_EQ(qrcode("40", "330", "M", "8", "A", "0", "", "", "https://paloma.invalid/q/1"), 1);
  EXPECT_EQ(windowsfont(420, 700, 48, 0, 2, 0, "DejaVu Sans", "Host"), 1);
  EXPECT_EQ(printlabel("1", "1"), 1);
  closeport();

  std::string png = vp.dir() + "/label-000001.png";
  ASSERT_TRUE(waitForText(vp.log(), "label-000001.png"));
  Image img = loadPng(png);
  EXPECT_EQ(img.w, 800);   // 100 mm at 8 dots a millimetre
  EXPECT_EQ(img.h, 1200);

  std::string decoded = run("zbarimg -q --raw '" + png + "' 2>/dev/null");
  EXPECT_NE(decoded.find("PALOMA-0001"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("https://paloma.invalid/q/1"), std::string::npos) << decoded;

  // The host-font bitmap: every black dot in its neighbourhood lies inside the
  // block its header announces, and the block is not empty.
  long long b[4];
  ASSERT_TRUE(lastBitmapHeader(readFile(vp.log()), b));
  EXPECT_EQ(b[0], 420);
  EXPECT_EQ(b[1], 700);
  int inside = 0;
  for (int y = 640; y < 860; ++y) {
    for (int x = 380; x < 790; ++x) {
      bool in = x >= b[0] && x < b[0] + b[2] * 8 && y >= b[1] && y < b[1] + b[3];
      if (img.at(x, y)) {
        EXPECT_TRUE(in) << "black dot outside the bitmap at " << x << "," << y;
        if (!in) return;
        ++inside;
      }
    }
  }
  EXPECT_GT(inside, 100);
}

TEST(VPrinterOverTcp, QueriesAnswerWhatTheOptionsSet) {
  VPrinter vp({"--listen", "127.0.0.1:0", "--status", "0x10", "--name", "VP-INTEGRATION",
               "--serial-number", "SN-77", "--setting", "SYSTEM/INFORMATION/DPI=300"});
  int port = vp.port();
  ASSERT_GT(port, 0);
  ASSERT_EQ(openethernet("127.0.0.1", port), 1);
  EXPECT_STREQ(ethernetprinterstatus(), "10");
  EXPECT_EQ(std::string(ethernetprintername()).rfind("VP-INTEGRATION\r\n", 0), 0u);
  EXPECT_EQ(std::string(ethernetprinterdpi()).rfind("300\r\n", 0), 0u);
  EXPECT_STREQ(ethernet_getstring("OUT _SERIAL$", 0), "SN-77\r\n");
  EXPECT_STREQ(ethernet_getstring("OUT \"hello\"", 0), "hello\r\n");
  closeport();
}

int connectTo(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{3, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

bool sendAll(int s, const std::string& b) {
  size_t done = 0;
  while (done < b.size()) {
    ssize_t n = send(s, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

TEST(VPrinterOverTcp, MalformedStreamsAreLoggedAndTheNextConnectionIsServed) {
  VPrinter vp({"--listen", "127.0.0.1:0", "--idle-timeout", "1", "--status", "0x20"});
  int port = vp.port();
  ASSERT_GT(port, 0);
  struct Row {
    const char* what;
    std::string bytes;
    bool stayOpen;  // leave the connection silent until the printer drops it
    const char* error;
  };
  const std::vector<Row> rows = {
      {"field missing", "TEXT 10,20\r\n", false, "TEXT needs"},
      {"BITMAP rows that never come", "BITMAP 0,0,10,10,0," + std::string(7, 'x'), false,
       "payload truncated: 7 of 100"},
      {"DOWNLOAD bytes that never come, connection left open",
       "DOWNLOAD \"X.BMP\",5000,abc", true, "payload truncated: 3 of 5000"},
      {"unbalanced quote", "TEXT 1,2,\"3\",0,1,1,\"open\r\n", false, "unbalanced double quote"},
      {"unknown command", "FROBNICATE 1,2\r\n", false, "unknown command"},
      {"huge BITMAP announced", "BITMAP 0,0,1048576,16777216,0,", false, "exceeds the limit"},
  };
  for (const Row& r : rows) {
    int s = connectTo(port);
    ASSERT_GE(s, 0) << r.what;
    ASSERT_TRUE(sendAll(s, r.bytes)) << r.what;
    if (r.stayOpen) {
      char c;
      EXPECT_LE(recv(s, &c, 1, 0), 0) << r.what;  // closed by the printer when idle
    }
    close(s);
    EXPECT_TRUE(waitForText(vp.log(), r.error)) << r.what;
    // The next connection is served.
    int t = connectTo(port);
    ASSERT_GE(t, 0);
    ASSERT_TRUE(sendAll(t, "\x1b!?"));
    char status = 0;
    EXPECT_EQ(recv(t, &status, 1, 0), 1) << "after " << r.what;
    EXPECT_EQ(status, 0x20);
    close(t);
  }
  // A 100 MB line without end.
  int s = connectTo(port);
  ASSERT_GE(s, 0);
  std::string chunk(1 << 20, 'L');
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(sendAll(s, chunk));
  close(s);
  EXPECT_TRUE(waitForText(vp.log(), "line longer than"));
  int t = connectTo(port);
  ASSERT_GE(t, 0);
  ASSERT_TRUE(sendAll(t, "\x1b!?"));
  char status = 0;
  EXPECT_EQ(recv(t, &status, 1, 0), 1);
  close(t);
}

TEST(VPrinterOverSerial, OpencomportReachesThePty) {
  VPrinter vp({"--no-tcp", "--serial", "--status", "0x04", "--name", "VP-SERIAL"});
  std::string path = vp.waitFor("serial port ");
  ASSERT_FALSE(path.empty());
  ASSERT_STREQ(opencomport(path.c_str()), "1");
  EXPECT_STREQ(comportprinterstatus(), "04");
  EXPECT_STREQ(comportprintername(), "VP-SERIAL\r\n");
  EXPECT_EQ(setup("50", "30", "4", "8", "0", "2", "0"), 1);
  EXPECT_EQ(clearbuffer(), 1);
  EXPECT_EQ(printerfont("10", "10", "3", "0", "1", "1", "serial"), 1);
  EXPECT_EQ(printlabel("1", "1"), 1);
  EXPECT_TRUE(waitForText(vp.log(), "label-000001.png"));
  closeport();
  Image img = loadPng(vp.dir() + "/label-000001.png");
  EXPECT_EQ(img.w, 400);
  EXPECT_EQ(img.h, 240);
}

// In a network namespace of its own: the SDK's broadcast gets the printer's
// answer although both use the discovery port on one host.
TEST(VPrinterDiscovery, AnswersTheProbeInAPrivateNamespace) {
  int why_pipe[2];
  ASSERT_EQ(pipe(why_pipe), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(why_pipe[0]);
    std::string why = paloma::test::enterPrivateNetwork();
    if (!why.empty()) {
      ssize_t ignored = write(why_pipe[1], why.data(), why.size());
      (void)ignored;
      _exit(77);
    }
    close(why_pipe[1]);
    int rc = 3;
    {
      VPrinter vp({"--no-tcp", "--discovery"});
      if (!vp.waitFor("discovery on udp port ").empty()) {
        rc = std::strcmp(broadcast(), "123456") == 0 ? 0 : 2;
        // Without TCP, the answer says so: no port to print to.
        paloma_printer_found found[2] = {};
        if (rc == 0 && paloma_discover(1000, found, 2) == 1) {
          std::string answer(reinterpret_cast<const char*>(found[0].answer),
                             static_cast<std::size_t>(found[0].length));
          if (answer.find(";tcp=0;") == std::string::npos) rc = 4;
        } else if (rc == 0) {
          rc = 5;
        }
      }
    }
    _exit(rc);
  }
  close(why_pipe[1]);
  int status = 0;
  bool ended = paloma::test::waitForExit(child, 20000, &status);
  std::string why(512, '\0');
  ssize_t n = ended ? read(why_pipe[0], why.data(), why.size()) : 0;
  close(why_pipe[0]);
  why.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (!ended) FAIL() << "discovery test did not finish";
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace here: " << why;
  // 2: broadcast found nobody; 4: the answer did not say tcp=0; 5: paloma_discover found
  // not exactly the one printer.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs the program with `args` in a scratch folder of its own (a
// configuration that runs instead of being refused is killed after 10 s).
paloma::test::ProgramRun runProgram(std::vector<std::string> args) {
  char tmpl[] = "/tmp/vprinter-run-XXXXXX";
  if (!mkdtemp(tmpl)) return {};
  args.insert(args.begin(), VPRINTER_EXE);
  paloma::test::ProgramRun r = paloma::test::runProgram(args, 10000, tmpl);
  if (std::system(("rm -rf '" + std::string(tmpl) + "'").c_str()) != 0) {
  }
  return r;
}

TEST(VPrinterOptions, MalformedOptionsEndWithCodeTwoAndHelpSaysWhatItIs) {
  const std::vector<std::vector<std::string>> bad = {
      {"--listen", "127.0.0.1:abc"}, {"--idle-timeout", "abc"}, {"--idle-timeout", "3000000"},
      {"--no-tcp"}, {"--max-connections", "many"}, {"--http", "127.0.0.1:x"}};
  for (const auto& args : bad) {
    auto r = runProgram(args);
    EXPECT_EQ(r.rc, 2) << args[0];
    EXPECT_NE(r.err.find(args[0]), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << args[0];
  }
  auto help = runProgram({"--help"});
  EXPECT_EQ(help.rc, 0);
  EXPECT_EQ(help.out.substr(0, help.out.find('\n')),
            "paloma-vprinter: a virtual label printer that answers like a networked printer and "
            "renders every label to PNG.");
  auto version = runProgram({"--version"});
  EXPECT_EQ(version.rc, 0);
  EXPECT_EQ(version.out, std::string("paloma-vprinter ") + PALOMA_VERSION + "\n");
}

// Sends the status request on `s` and returns the byte, or -1 when none came
// within `ms`.
int statusOn(int s, int ms = 2000) {
  if (!sendAll(s, "\x1b!?")) return -1;
  pollfd p{s, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return -1;
  unsigned char b = 0;
  return recv(s, &b, 1, 0) == 1 ? b : -1;
}

const char kBigLabels[] = "SIZE 216 mm,1000 mm\r\nCLS\r\nBAR 0,0,1728,8000\r\nPRINT 10\r\n";

TEST(VPrinterManners, ASlowClientARenderingOneAndAnIdleOneNeverDelayAStatusReply) {
  VPrinter vp({"--listen", "127.0.0.1:0", "--status", "0x10"});
  int port = vp.port();
  ASSERT_GT(port, 0);
  // One byte a tenth of a second, always in the middle of a command.
  std::atomic<bool> done{false};
  std::thread slow([&] {
    int s = connectTo(port);
    const std::string cmd = "TEXT 10,10,\"3\",0,1,1,\"slow\"\r\n";
    for (size_t i = 0; s >= 0 && !done.load() && i < 600; ++i) {
      sendAll(s, cmd.substr(i % cmd.size(), 1));
      usleep(100000);
    }
    if (s >= 0) close(s);
  });
  int idle = connectTo(port);
  ASSERT_GE(idle, 0);
  int big = connectTo(port);
  ASSERT_GE(big, 0);
  ASSERT_TRUE(sendAll(big, kBigLabels));
  int kept = connectTo(port);
  ASSERT_GE(kept, 0);
  long long worst = 0;
  for (int i = 0; i < 5; ++i) {
    long long t = nowMs();
    EXPECT_EQ(statusOn(kept), 0x10) << "probe " << i << " on a kept connection";
    int fresh = connectTo(port);
    ASSERT_GE(fresh, 0);
    EXPECT_EQ(statusOn(fresh), 0x10) << "probe " << i << " on a new connection";
    close(fresh);
    worst = std::max(worst, nowMs() - t);
    usleep(100000);
  }
  bool stillRendering = readFile(vp.log()).find("label-000010.png") == std::string::npos;
  EXPECT_LT(worst, 500) << "slowest pair of status replies, in ms";
  std::printf("slowest pair of status replies: %lld ms; big labels %s\n", worst,
              stillRendering ? "still rendering" : "already done");
  // The idle connection is still served after all that.
  EXPECT_EQ(statusOn(idle), 0x10);
  EXPECT_TRUE(waitForText(vp.log(), "label-000010.png", 120000));
  done = true;
  slow.join();
  close(idle);
  close(big);
  close(kept);
}

TEST(VPrinterManners, ConnectionsBeyondTheBoundAreClosedAndLogged) {
  VPrinter vp({"--listen", "127.0.0.1:0", "--max-connections", "2", "-v", "--status", "0x04"});
  int port = vp.port();
  ASSERT_GT(port, 0);
  int a = connectTo(port), b = connectTo(port);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(statusOn(a), 0x04);
  EXPECT_EQ(statusOn(b), 0x04);
  EXPECT_FALSE(vp.waitFor("connection tcp#1 from 127.0.0.1:").empty());
  int c = connectTo(port);
  ASSERT_GE(c, 0);
  char byte;
  pollfd p{c, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 3000), 1);
  EXPECT_EQ(recv(c, &byte, 1, 0), 0) << "the third connection is closed";
  close(c);
  EXPECT_TRUE(waitForText(vp.log(), "(--max-connections)"));
  EXPECT_EQ(statusOn(a), 0x04) << "the two keep being served";
  close(a);
  // Once one is closed, a new one is served.
  int served = -1;
  for (long long end = nowMs() + 3000; served != 0x04 && nowMs() < end;) {
    int d = connectTo(port);
    ASSERT_GE(d, 0);
    served = statusOn(d, 500);
    close(d);
  }
  EXPECT_EQ(served, 0x04);
  close(b);
}

TEST(VPrinterManners, EachLabelIsALineAndNumberingGoesOnFromTheFolder) {
  VPrinter vp({"--listen", "127.0.0.1:0"}, [](const std::string& dir) {
    std::ofstream(dir + "/label-000041.png") << "an earlier run";
  });
  int port = vp.port();
  ASSERT_GT(port, 0);
  int s = connectTo(port);
  ASSERT_GE(s, 0);
  ASSERT_TRUE(sendAll(s, "SIZE 20 mm,10 mm\r\nCLS\r\nFROB\r\nPRINT 2\r\n"));
  std::string first = vp.waitFor("label 42: ");
  std::string second = vp.waitFor("label 43: ");
  close(s);
  EXPECT_EQ(first, "20.0 x 10.0 mm, 160 x 80 dots, " + vp.dir() + "/label-000042.png, 1 error");
  EXPECT_EQ(second, "20.0 x 10.0 mm, 160 x 80 dots, " + vp.dir() + "/label-000043.png, 1 error");
  EXPECT_EQ(readFile(vp.dir() + "/label-000041.png"), "an earlier run");
}

TEST(VPrinterManners, StopsWithinASecondOfTheSignalWhateverItIsDoing) {
  struct Row {
    int sig;
    bool rendering;
  };
  for (Row row : {Row{SIGTERM, true}, Row{SIGINT, true}, Row{SIGTERM, false}}) {
    VPrinter vp({"--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", "--serial"});
    std::string web = vp.waitFor("preview on http://127.0.0.1:");
    int port = vp.port();
    ASSERT_GT(port, 0);
    ASSERT_FALSE(web.empty());
    int idle = connectTo(port);
    int page = connectTo(std::atoi(web.c_str()));
    ASSERT_GE(idle, 0);
    ASSERT_GE(page, 0);
    ASSERT_TRUE(sendAll(page, "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    int big = connectTo(port);
    ASSERT_GE(big, 0);
    if (row.rendering) {
      ASSERT_TRUE(sendAll(big, kBigLabels));
      ASSERT_FALSE(vp.waitFor("label 1: ", 60000).empty());
    } else {
      usleep(300000);
    }
    long long ms = vp.stop(row.sig);
    EXPECT_GE(ms, 0) << "signal " << row.sig;
    // The printer promises a second; the rest is slack for a loaded machine
    // running the sanitizers (a printer that ignores the signal takes minutes).
    EXPECT_LT(ms, 2500) << "signal " << row.sig << (row.rendering ? " while rendering" : "");
    EXPECT_TRUE(WIFEXITED(vp.exitStatus()) && WEXITSTATUS(vp.exitStatus()) == 0);
    close(idle);
    close(page);
    close(big);
  }
}

}  // namespace

namespace {

// Standard output on a pipe nobody reads (the test reads the announce lines
// only until the port): a line per label would fill it after a few hundred
// labels. Printing goes on for every connection; the lines that could not
// wait are dropped and counted, never waited for under a lock.
TEST(VPrinterManners, AnUnreadStandardOutputNeverStopsPrinting) {
  VPrinter vp({"--listen", "127.0.0.1:0"});
  const int port = vp.port();
  ASSERT_NE(port, 0);
  const std::string label = "SIZE 5 mm,3 mm\r\nCLS\r\nPRINT 1\r\n";
  std::vector<std::thread> senders;
  for (int c = 0; c < 4; ++c) {
    senders.emplace_back([port, &label] {
      int s = connectTo(port);
      if (s < 0) return;
      std::string batch;
      for (int i = 0; i < 300; ++i) batch += label;
      sendAll(s, batch);
      close(s);
    });
  }
  for (std::thread& t : senders) t.join();
  // 1200 labels in all; the status still answers at once.
  EXPECT_TRUE(waitForText(vp.log(), "label-001200.png", 60000));
  int s = connectTo(port);
  ASSERT_GE(s, 0);
  EXPECT_GE(statusOn(s), 0);
  close(s);
}

}  // namespace
