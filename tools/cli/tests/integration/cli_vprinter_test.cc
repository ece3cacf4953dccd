// The paloma tool against the virtual printer (and a loopback peer where the
// bytes themselves matter): print, send, status words and exit codes, info,
// text, errors, and discovery inside a private network namespace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/loopback_peer.h"
#include "support/posix/private_network.h"
#include "support/posix/process.h"
#include "support/posix/vprinter_process.h"

namespace {

using paloma::test::readFile;
using paloma::test::waitForText;

using Outcome = paloma::test::ProgramRun;

// Runs the tool with `args`, at most `ms` (then it is killed).
Outcome paloma(std::vector<std::string> args, int ms = 20000) {
  args.insert(args.begin(), PALOMA_CLI_EXE);
  return paloma::test::runProgram(args, ms);
}

// The virtual printer as a child process, stopped (by its id) at the end.
struct VPrinter : paloma::test::VPrinterProcess {
  explicit VPrinter(std::vector<std::string> args) : VPrinterProcess(VPRINTER_EXE, std::move(args)) {}
};

std::string writeTemp(const std::string& name, const std::string& bytes) {
  std::string path = "/tmp/paloma-cli-it-" + std::to_string(getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

const char kLabel[] =
    "SIZE 50 mm,30 mm\r\nCLS\r\nTEXT 20,20,\"3\",0,1,1,\"CLI\"\r\nPRINT 1,1\r\n";

TEST(CliPrint, FilesAndCommandsReachThePrinter) {
  VPrinter vp({"--listen", "127.0.0.1:0"});
  ASSERT_GT(vp.port(), 0);
  std::string label = writeTemp("label.prn", kLabel);
  Outcome r = paloma({"print", label, "--to", vp.uri()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.find('[') == std::string::npos) << "no bar off a terminal: " << r.err;
  EXPECT_TRUE(waitForText(vp.log(), "label-000001.png"));

  r = paloma({"send", "SIZE 40 mm,20 mm", "CLS", "PRINT 1,1", "--to", vp.uri()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(waitForText(vp.log(), "label-000002.png"));
  std::remove(label.c_str());
}

TEST(CliPrint, ProgressBarSendsTheSameBytesAsThePlainSend) {
  std::string big(1500000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  std::string path = writeTemp("big.bin", big);
  std::string plainBytes, barBytes;
  Outcome plain, bar;
  {
    paloma::test::LoopbackPeer peer(paloma::test::LoopbackPeer::Options{{}, true, 30000});
    plain = paloma({"print", path, "--no-progress", "--to",
                    "tcp://127.0.0.1:" + std::to_string(peer.port())});
    plainBytes = peer.nextClosed(5000).bytes;
  }
  {
    paloma::test::LoopbackPeer peer(paloma::test::LoopbackPeer::Options{{}, true, 30000});
    bar = paloma({"print", path, "--progress", "--to",
                  "tcp://127.0.0.1:" + std::to_string(peer.port())});
    barBytes = peer.nextClosed(5000).bytes;
  }
  EXPECT_EQ(plain.rc, 0) << plain.err;
  EXPECT_EQ(bar.rc, 0) << bar.err;
  EXPECT_EQ(plainBytes.size(), big.size() + 2);  // the file, then CR LF
  EXPECT_TRUE(plainBytes == barBytes) << plainBytes.size() << " vs " << barBytes.size();
  EXPECT_EQ(plainBytes.substr(0, big.size()), big);
  EXPECT_EQ(plainBytes.substr(big.size()), "\r\n");
  EXPECT_NE(bar.err.find("100%"), std::string::npos) << bar.err;
  EXPECT_NE(bar.err.find("1.5 MB of 1.5 MB"), std::string::npos) << bar.err;
  EXPECT_EQ(plain.err.find('%'), std::string::npos) << plain.err;
  std::remove(path.c_str());
}

TEST(CliPrint, NothingIsSentWhenAFileIsMissingOrThePrinterIsAway) {
  paloma::test::LoopbackPeer peer;
  std::string label = writeTemp("first.prn", kLabel);
  std::string to = "tcp://127.0.0.1:" + std::to_string(peer.port());
  Outcome r = paloma({"print", label, "/nonexistent/second.prn", "--to", to});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("paloma: cannot read /nonexistent/second.prn"), std::string::npos) << r.err;
  EXPECT_FALSE(peer.waitReceived(1, 300)) << "the first file went out before the check";

  // A port nobody listens on (the peer's, once stopped).
  peer.stop();
  r = paloma({"print", label, "--to", to});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err.rfind("paloma: cannot connect to " + to, 0), 0u) << r.err;
  std::remove(label.c_str());
}

TEST(CliStatus, WordsAndExitCodePerCondition) {
  struct Case {
    const char* byte;
    const char* line;
    int rc;
  };
  const Case cases[] = {
      {"0", "ready (00)\n", 0},
      {"0x04", "paper empty (04)\n", 12},
      {"0x05", "head open, paper empty (05)\n", 10},
      {"0x10", "paused (10)\n", 14},
      {"0x40", "unknown condition (40)\n", 4},
      // Two conditions outside the old code list: both named, the first's exit code.
      {"0x06", "paper jam, paper empty (06)\n", 11},
  };
  for (const Case& c : cases) {
    VPrinter vp({"--listen", "127.0.0.1:0", "--status", c.byte});
    Outcome r = paloma({"status", "--to", vp.uri()});
    EXPECT_EQ(r.out, c.line) << c.byte;
    EXPECT_EQ(r.rc, c.rc) << c.byte << ": " << r.err;
  }
  {
    VPrinter vp({"--listen", "127.0.0.1:0", "--status", "0x08"});
    Outcome r = paloma({"status", "--json", "--to", vp.uri()});
    EXPECT_EQ(r.out, "{\"status\":\"ribbon empty\",\"byte\":8,\"code\":\"08\","
                     "\"conditions\":[\"ribbon empty\"],\"exit\":13}\n");
    EXPECT_EQ(r.rc, 13);
  }
  {
    VPrinter vp({"--listen", "127.0.0.1:0", "--status", "0x0C"});
    Outcome r = paloma({"status", "--json", "--to", vp.uri()});
    EXPECT_EQ(r.out, "{\"status\":\"paper empty, ribbon empty\",\"byte\":12,\"code\":\"0C\","
                     "\"conditions\":[\"paper empty\",\"ribbon empty\"],\"exit\":12}\n");
  }
  // A printer that takes the request and never answers.
  paloma::test::LoopbackPeer silent;
  Outcome r = paloma({"status", "--to", "tcp://127.0.0.1:" + std::to_string(silent.port())});
  EXPECT_EQ(r.out, "no reply\n");
  EXPECT_EQ(r.rc, 3);
  EXPECT_NE(r.err.find("paloma: "), std::string::npos);
  r = paloma({"status", "--json", "--to", "tcp://127.0.0.1:" + std::to_string(silent.port())});
  EXPECT_EQ(r.out, "{\"status\":\"no reply\",\"byte\":null,\"code\":null,\"conditions\":[],"
                   "\"exit\":3}\n");
  EXPECT_EQ(r.rc, 3);
}

TEST(CliInfo, LinesAndJson) {
  VPrinter vp({"--listen", "127.0.0.1:0", "--name", "Desk \"2\"", "--serial-number", "SN-77",
               "--dpi", "300"});
  Outcome r = paloma({"info", "--to", vp.uri()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("name: Desk \"2\"\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("serial_number: SN-77\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dpi: 300\n"), std::string::npos) << r.out;
  for (const char* key : {"code_page: ", "memory: ", "mileage: "})
    EXPECT_NE(r.out.find(key), std::string::npos) << key;

  r = paloma({"info", "--json", "--to", vp.uri()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"name\":\"Desk \\\"2\\\"\",\"serial_number\":\"SN-77\",\"dpi\":300,", 0),
            0u)
      << r.out;
  EXPECT_EQ(r.out.back(), '\n');

  // Silence: every value missing, said so, and exit 3.
  paloma::test::LoopbackPeer silent(paloma::test::LoopbackPeer::Options{{}, true, 30000});
  r = paloma({"info", "--json", "--to", "tcp://127.0.0.1:" + std::to_string(silent.port())}, 30000);
  EXPECT_EQ(r.rc, 3);
  EXPECT_EQ(r.out.rfind("{\"name\":null,", 0), 0u) << r.out;
}

// A printer answering with terminal escape sequences (a title, a screen
// clear, a clipboard write, a C1 CSI in UTF-8): none reaches the terminal.
TEST(CliInfo, EscapeSequencesFromThePrinterAreShownNotSent) {
  const std::string evil =
      "P\x1b]0;owned\x07\x1b[2J\x1b]52;c;ZWNobw==\x07\xC2\x9B" "31mna\x7fme\r\n\x02";
  std::size_t answered = 0;
  paloma::test::LoopbackPeer printer(paloma::test::LoopbackPeer::Options{
      [&](const std::string& got) {
        // One answer per request: each information request holds one OUT.
        std::size_t requests = 0;
        for (std::size_t at = got.find("OUT"); at != std::string::npos; at = got.find("OUT", at + 3))
          ++requests;
        if (requests <= answered) return paloma::test::LoopbackPeer::Reply{};
        answered = requests;
        return paloma::test::LoopbackPeer::Reply{evil};
      },
      true, 30000});
  Outcome r = paloma({"info", "--to", "tcp://127.0.0.1:" + std::to_string(printer.port())}, 30000);
  EXPECT_NE(r.out.find("name: P\\x1B]0;owned\\x07\\x1B[2J"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\u009B31mna\\x7Fme"), std::string::npos) << r.out;
  for (unsigned char c : r.out) {
    EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(c);
    if (!(c == '\n' || (c >= 0x20 && c < 0x7F))) break;
  }
}

TEST(CliText, HostFontTextArrivesAsOneBitmapAtThePosition) {
  VPrinter vp({"--listen", "127.0.0.1:0"});
  Outcome r = paloma({"text", "Grüße", "--face", "DejaVu Sans", "--height", "40", "--x", "16", "--y",
                  "24", "--bold", "--to", vp.uri()});
  EXPECT_EQ(r.rc, 0) << r.err;
  ASSERT_TRUE(waitForText(vp.log(), "\"command\":\"BITMAP\",\"fields\":[\"16\",\"24\","));
  std::string log = readFile(vp.log());
  EXPECT_EQ(log.find("\"error\""), std::string::npos) << log;

  r = paloma({"text", "x", "--face", "DejaVu Sans", "--height", "40", "--rotate", "45", "--to",
              vp.uri()});
  EXPECT_EQ(r.rc, 2);
  r = paloma({"text", "\xff", "--face", "DejaVu Sans", "--height", "40", "--to", vp.uri()});
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.err.find("UTF-8"), std::string::npos);
}

TEST(CliUsage, HelpVersionAndRefusedAddresses) {
  for (const char* cmd : {"print", "send", "status", "info", "text", "discover"}) {
    Outcome r = paloma({cmd, "--help"});
    EXPECT_EQ(r.rc, 0) << cmd;
    EXPECT_EQ(r.out.rfind(std::string("Usage: paloma ") + cmd, 0), 0u) << cmd << ": " << r.out;
  }
  Outcome r = paloma({"--version"});
  EXPECT_EQ(r.out, "paloma " PALOMA_VERSION "\n");
  EXPECT_EQ(r.rc, 0);

  r = paloma({"status", "--to", "tcp:/127.0.0.1"});
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.err.rfind("paloma: status: ", 0), 0u) << r.err;
  for (const char* form : {"tcp://HOST[:PORT]", "serial:/dev/", "usb:", "queue:NAME",
                           "queue://SERVER[:PORT]/NAME", "/dev/..."})
    EXPECT_NE(r.err.find(form), std::string::npos) << form;

  EXPECT_EQ(paloma({}).rc, 2);
  EXPECT_EQ(paloma({"frobnicate"}).rc, 2);
  EXPECT_EQ(paloma({"print", "x.prn"}).rc, 2);                          // no --to
  EXPECT_EQ(paloma({"send", "--to", "usb:"}).rc, 2);                   // no command
  EXPECT_EQ(paloma({"send", "A\r\nB", "--to", "usb:"}).rc, 2);         // two lines in one
  EXPECT_EQ(paloma({"status", "--bogus", "--to", "usb:"}).rc, 2);
  r = paloma({"status", "--to"});
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.err.find("--to needs a value"), std::string::npos) << r.err;
  EXPECT_EQ(paloma({"discover", "--wait", "-1"}).rc, 2);
  r = paloma({"status", "--to", "queue:labels"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("print jobs only"), std::string::npos) << r.err;
}

// Last: it moves this process into a network namespace of its own.
TEST(CliDiscover, ListsTheVirtualPrinterInAPrivateNetwork) {
  std::string why = paloma::test::enterPrivateNetwork();
  if (!why.empty()) GTEST_SKIP() << "no private network namespace here: " << why;
  VPrinter vp({"--listen", "127.0.0.1:0", "--discovery", "--name", "Shelf; printer"});
  int port = vp.port();
  ASSERT_GT(port, 0);
  ASSERT_FALSE(vp.waitFor("discovery on").empty()) << "the printer could not listen for probes";
  Outcome r = paloma({"discover", "--wait", "1"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "127.0.0.1  Shelf; printer  tcp://127.0.0.1:" + std::to_string(port) + "\n");

  r = paloma({"discover", "--wait", "0.5", "--json"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\":\"Shelf; printer\",\"uri\":\"tcp://127.0.0.1:" +
                       std::to_string(port) + "\""),
            std::string::npos)
      << r.out;
}

}  // namespace
