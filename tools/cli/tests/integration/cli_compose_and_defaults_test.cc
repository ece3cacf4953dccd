// The paloma tool composing labels (options, a label file, one label per CSV
// row) against the virtual printer and a loopback peer, the printer it picks
// without --to, and standard input for print and send.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/loopback_peer.h"
#include "support/posix/process.h"
#include "support/posix/vprinter_process.h"

namespace {

using paloma::test::LoopbackPeer;
using paloma::test::readFile;
using paloma::test::waitForText;
using Outcome = paloma::test::ProgramRun;

Outcome paloma(std::vector<std::string> args, int ms = 20000) {
  args.insert(args.begin(), PALOMA_CLI_EXE);
  return paloma::test::runProgram(args, ms);
}

// The tool run by the shell, for an environment or a pipe into it:
// `script` uses $PALOMA for the tool.
Outcome shell(const std::string& script, int ms = 20000) {
  return paloma::test::runProgram(
      {"/bin/sh", "-c", "PALOMA='" + std::string(PALOMA_CLI_EXE) + "'; " + script}, ms);
}

struct VPrinter : paloma::test::VPrinterProcess {
  VPrinter() : VPrinterProcess(VPRINTER_EXE, {"--listen", "127.0.0.1:0"}) {}
};

// A folder of its own, removed at the end.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/paloma-cli-compose-XXXXXX";
    path = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TempDir() { paloma::test::runCommand("rm -rf '" + path + "'"); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path + "/" + name, std::ios::binary) << bytes;
    return path + "/" + name;
  }
};

std::string peerUri(const LoopbackPeer& peer) {
  return "tcp://127.0.0.1:" + std::to_string(peer.port());
}

TEST(CliLabel, OptionsComposeOneLabel) {
  LoopbackPeer peer;
  Outcome r = paloma({"label", "--size", "100x150mm", "--text", "40,40,Hello", "--barcode",
                      "40,15mm,128,PALOMA-0001", "--qr", "40,300,https://example.com/a,b",
                      "--print", "2", "--to", peerUri(peer)});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(peer.nextClosed(5000).bytes,
            "SIZE 100 mm,150 mm\r\nSPEED 4\r\nDENSITY 8\r\nGAP 2 mm,0 mm\r\nCLS\r\n"
            "TEXT 40,40,\"3\",0,1,1,\"Hello\"\r\n"
            "BARCODE 40,120,\"128\",100,2,0,2,2,\"PALOMA-0001\"\r\n"
            "QRCODE 40,300,M,6,A,0,\"https://example.com/a,b\"\r\n"
            "PRINT 2,1\r\n");
}

TEST(CliLabel, FileWithCsvPrintsARowEach) {
  TempDir dir;
  const std::string design = dir.write(
      "shipping.json",
      R"({"size": "50x30mm", "items": [
            {"text": "#{counter} {name}", "x": 10, "y": 10},
            {"barcode": "{order}", "x": 10, "y": 50, "height": 60}]})");
  const std::string orders =
      dir.write("orders.csv", "order,name\r\n1001,\"Smith, J\"\r\n1002,Lee\r\n1003,Ng\r\n");
  VPrinter vp;
  Outcome r = paloma({"label", design, "--data", orders, "--to", vp.uri()});
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_TRUE(waitForText(vp.log(), "label-000003.png")) << readFile(vp.log());
  const std::string second = readFile(vp.dir() + "/label-000002.prn");
  EXPECT_NE(second.find("\"#2 Lee\""), std::string::npos) << second;
  EXPECT_NE(second.find("\"1002\""), std::string::npos) << second;

  // --check reads every row through the builders and sends nothing.
  r = paloma({"label", design, "--data", orders, "--check", "--to", "tcp://127.0.0.1:1"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "3 labels checked\n");
}

TEST(CliLabel, ABadRowStopsTheJobBeforeTheFirstByte) {
  TempDir dir;
  const std::string design =
      dir.write("l.json", R"({"items": [{"text": "{name}", "x": 10, "y": 10}]})");
  struct Case {
    std::string csv;
    const char* says;
  };
  const Case cases[] = {
      // The third row's field holds a line break, which no command can carry.
      {"name\nAnn\nBo\n\"two\nlines\"\n", "row 3"},
      {"nom\nAnn\n", "{name}"},
      // A quote would end the printer's text early and misread the rest.
      {"name\nAnn\n\"say \"\"hi\"\"\"\n", "row 2"},
      {"name\nAnn,extra\n", "row 1"},
  };
  for (const Case& c : cases) {
    LoopbackPeer peer;
    Outcome r = paloma({"label", design, "--data", dir.write("t.csv", c.csv), "--to", peerUri(peer)});
    EXPECT_EQ(r.rc, 2) << c.csv << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(peer.waitReceived(1, 200)) << "a label went out before the bad row: " << c.csv;
  }
  Outcome r = paloma({"label", "--text", "1,2,x", "--size", "big", "--to", "tcp://127.0.0.1:1"});
  EXPECT_EQ(r.rc, 2);
  r = paloma({"label", "--to", "tcp://127.0.0.1:1"});
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.err.find("nothing on it"), std::string::npos) << r.err;
}

TEST(CliDefaults, PrinterFromTheEnvironmentOrTheConfiguration) {
  TempDir dir;
  LoopbackPeer peer;
  const std::string uri = peerUri(peer);
  dir.write("cfg/.keep", "");
  paloma::test::runCommand("mkdir -p '" + dir.path + "/cfg/paloma'");
  dir.write("cfg/paloma/config", "# test\ndefault = shipping\nshipping = " + uri +
                                     "\nbroken = tcp://127.0.0.1:1\n");
  const std::string env = "XDG_CONFIG_HOME='" + dir.path + "/cfg' PALOMA_PRINTER= ";

  Outcome r = shell(env + "\"$PALOMA\" send CLS");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(peer.nextClosed(5000).bytes, "CLS\r\n");
  r = shell(env + "PALOMA_PRINTER=shipping \"$PALOMA\" send A --to broken");
  EXPECT_EQ(r.rc, 1) << "--to comes first: " << r.err;
  r = shell(env + "PALOMA_PRINTER=" + uri + " \"$PALOMA\" send B");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(peer.nextClosed(5000).bytes, "B\r\n");

  r = shell(env + "\"$PALOMA\" send C --to shiping");
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.err.find("no printer named \"shiping\""), std::string::npos) << r.err;
  r = shell("XDG_CONFIG_HOME=/nonexistent PALOMA_PRINTER= \"$PALOMA\" send C");
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.err.find("PALOMA_PRINTER"), std::string::npos) << r.err;

  r = shell(env + "\"$PALOMA\" printers --json");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "{\"printers\":[{\"name\":\"shipping\",\"uri\":\"" + uri +
                       "\"},{\"name\":\"broken\",\"uri\":\"tcp://127.0.0.1:1\"}],\"default\":\"" +
                       uri + "\",\"from\":\"the configuration's default\",\"config\":\"" +
                       dir.path + "/cfg/paloma/config\"}\n");
  dir.write("cfg/paloma/config", "shipping tcp://x\n");
  r = shell(env + "\"$PALOMA\" printers");
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("config: line 1"), std::string::npos) << r.err;
}

TEST(CliStdin, PrintAndSendReadStandardInput) {
  LoopbackPeer peer;
  const std::string to = peerUri(peer);
  Outcome r = shell("printf 'SIZE 40 mm,20 mm\\r\\nCLS\\nPRINT 1' | \"$PALOMA\" send X - Y --to " + to);
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(peer.nextClosed(5000).bytes, "X\r\nSIZE 40 mm,20 mm\r\nCLS\r\nPRINT 1\r\nY\r\n");
  r = shell("printf 'raw\\001bytes' | \"$PALOMA\" print - --to " + to);
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(peer.nextClosed(5000).bytes, "raw\001bytes\r\n");
  r = paloma({"print", "-", "-", "--to", to});
  EXPECT_EQ(r.rc, 2);
  r = shell("\"$PALOMA\" send - --to " + to + " </dev/null");
  EXPECT_EQ(r.rc, 2);
}

TEST(CliVerbose, DebugMessagesOnlyWhenAsked) {
  LoopbackPeer peer;
  Outcome quiet = paloma({"send", "CLS", "--to", peerUri(peer)});
  peer.nextClosed(5000);
  Outcome loud = paloma({"send", "-v", "CLS", "--to", peerUri(peer)});
  EXPECT_EQ(quiet.rc, 0) << quiet.err;
  EXPECT_EQ(loud.rc, 0) << loud.err;
  EXPECT_EQ(quiet.err.find("debug:"), std::string::npos) << quiet.err;
  EXPECT_NE(loud.err.find("paloma: debug: printer " + peerUri(peer)), std::string::npos) << loud.err;
  EXPECT_NE(loud.err.find("paloma: debug: opening " + peerUri(peer)), std::string::npos) << loud.err;
  EXPECT_NE(loud.err.find("paloma: debug: connection closed"), std::string::npos) << loud.err;
}

}  // namespace
