// The command line, the discovery answer and the log's bound.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "options.h"
#include "server.h"

namespace vprinter {
namespace {

ParseResult parse(std::vector<std::string> args, Config& cfg, std::string& error) {
  std::vector<const char*> argv{"paloma-vprinter"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return parseOptions(static_cast<int>(argv.size()), argv.data(), cfg, error);
}

TEST(Options, MalformedValuesAreRefusedNamingTheOptionAndItsForm) {
  struct Row {
    std::vector<std::string> args;
    const char* mentions;  // in the message, beside the option's name
  };
  const std::vector<Row> rows = {
      {{"--listen", "127.0.0.1:abc"}, "[HOST:]PORT"},
      {{"--listen", "127.0.0.1:65536"}, "0 to 65535"},
      {{"--listen", "localhost:9100"}, "IPv4"},
      {{"--listen", "127.0.0.1:-1"}, "[HOST:]PORT"},
      {{"--listen"}, "needs a value"},
      {{"--http", "9100x"}, "[HOST:]PORT"},
      {{"--idle-timeout", "abc"}, "1 to 86400"},
      {{"--idle-timeout", "3000000"}, "1 to 86400"},
      {{"--idle-timeout", "0"}, "1 to 86400"},
      {{"--max-connections", "0"}, "1 to 1024"},
      {{"--max-connections", "64k"}, "1 to 1024"},
      {{"--dpi", "203.5"}, "100 to 1200"},
      {{"--dpi", "99"}, "100 to 1200"},
      {{"--status", "256"}, "0 to 255"},
      {{"--status", "0x1G"}, "0 to 255"},
      {{"--max-disk", "0"}, "K, M or G"},
      {{"--max-disk", "1T"}, "K, M or G"},
      {{"--max-log", "-5M"}, "K, M or G"},
      {{"--max-sets", "1001"}, "1 to 1000"},
      {{"--max-label-dots", "1e6"}, "dots"},
      {{"--name", ""}, "1 to 200 bytes"},
      {{"--name", "two\nlines"}, "control characters"},
      {{"--setting", "SYSTEM/INFORMATION/DPI"}, "APP/SECTION/KEY=VALUE"},
      {{"--setting", "DPI=300"}, "APP/SECTION/KEY=VALUE"},
      {{"--setting", "A//K=1"}, "APP/SECTION/KEY=VALUE"},
      {{"--frobnicate"}, "unknown option"},
  };
  for (const Row& r : rows) {
    Config cfg;
    std::string error;
    EXPECT_EQ(parse(r.args, cfg, error), ParseResult::kError) << r.args[0];
    EXPECT_NE(error.find(r.args[0]), std::string::npos) << error;
    EXPECT_NE(error.find(r.mentions), std::string::npos) << error;
  }
}

TEST(Options, AConfigurationThatServesNothingIsRefused) {
  const std::vector<std::vector<std::string>> refused = {
      {"--no-tcp"},
      {"--no-tcp", "--http", "8080"},
      {"--no-tcp", "--listen", "127.0.0.1:9100"},
      {"--render", "job.prn", "--http", "0"},
      {"--listen", "127.0.0.1:9100", "--http", "9100"},
  };
  for (const auto& args : refused) {
    Config cfg;
    std::string error;
    EXPECT_EQ(parse(args, cfg, error), ParseResult::kError) << args[0] << " " << args.size();
    EXPECT_FALSE(error.empty());
  }
  Config cfg;
  std::string error;
  EXPECT_EQ(parse({"--no-tcp", "--serial"}, cfg, error), ParseResult::kRun) << error;
  EXPECT_EQ(parse({"--no-tcp", "--discovery"}, cfg, error), ParseResult::kRun) << error;
}

TEST(Options, WellFormedValuesReachTheirSettings) {
  Config cfg;
  std::string error;
  ASSERT_EQ(parse({"--listen", "127.0.0.2:0", "--http", "8081", "--idle-timeout", "30",
                   "--max-connections", "3", "--status", "0x1f", "--max-disk", "2G",
                   "--max-log", "512K", "--max-sets", "1", "--max-label-dots", "1000",
                   "--setting", "sensor/peel=1", "--setting", "a/b/c=x=y", "-v"},
                  cfg, error),
            ParseResult::kRun)
      << error;
  EXPECT_EQ(cfg.server.host, "127.0.0.2");
  EXPECT_EQ(cfg.server.port, 0);
  EXPECT_TRUE(cfg.http);
  EXPECT_EQ(cfg.httpHost, "127.0.0.1");
  EXPECT_EQ(cfg.httpPort, 8081);
  EXPECT_EQ(cfg.server.idleTimeoutMs, 30000);
  EXPECT_EQ(cfg.server.maxConnections, 3);
  EXPECT_EQ(cfg.printer.status, 0x1f);
  EXPECT_EQ(cfg.printer.maxDisk, 2ull << 30);
  EXPECT_EQ(cfg.maxLogBytes, 512u << 10);
  EXPECT_EQ(cfg.printer.maxSetsPerPrint, 1);
  EXPECT_EQ(cfg.printer.maxLabelDots, 1000u);
  EXPECT_EQ(cfg.printer.settings.at("SENSOR/PEEL"), "1");
  EXPECT_EQ(cfg.printer.settings.at("A/B/C"), "x=y");
  EXPECT_TRUE(cfg.server.verbose);
  Config defaults;
  EXPECT_EQ(parse({}, defaults, error), ParseResult::kRun);
  EXPECT_EQ(defaults.server.idleTimeoutMs, 0) << "connections stay open while idle";
  EXPECT_EQ(defaults.server.maxConnections, 64);
  EXPECT_FALSE(defaults.http);
  EXPECT_EQ(parse({"--dpi", "x", "--help"}, defaults, error), ParseResult::kError);
  EXPECT_EQ(parse({"--help", "--dpi", "x"}, defaults, error), ParseResult::kHelp);
  EXPECT_EQ(parse({"--version"}, defaults, error), ParseResult::kVersion);
  std::string usage = usageText();
  EXPECT_EQ(usage.rfind("paloma-vprinter: a virtual label printer", 0), 0u);
}

TEST(Discovery, TheAnswerCarriesNameAndPortsAndStaysLongerThanTheProbe) {
  std::string plain = discoveryReply("VP-1", 9100);
  EXPECT_EQ(plain.size(), 64u);
  EXPECT_EQ(plain.substr(0, plain.find('\0')), "paloma-vprinter;name=VP-1;tcp=9100;");
  std::string web = discoveryReply("VP-1", 9100, 8080);
  EXPECT_EQ(web.substr(0, web.find('\0')), "paloma-vprinter;name=VP-1;tcp=9100;http=8080;");
  // Separators in a name cannot forge fields.
  std::string tricky = discoveryReply("a;tcp=1%\x01", 9100);
  EXPECT_EQ(tricky.substr(0, tricky.find('\0')),
            "paloma-vprinter;name=a%3Btcp%3D1%25%01;tcp=9100;");
  std::string longName = discoveryReply(std::string(5000, ';'), 65535, 65535);
  EXPECT_LE(longName.size(), 512u);
  EXPECT_NE(longName.find(";tcp=65535;http=65535;"), std::string::npos);
}

TEST(JsonLog, ALogPastItsBoundIsRenamedAndBegunAgain) {
  char dir[] = "/tmp/vprinter-log-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/log.jsonl";
  {
    JsonLog log;
    ASSERT_TRUE(log.open(path, 1000));
    for (int i = 0; i < 200; ++i) {
      JsonObject o;
      o.add("command", "CLS").add("n", static_cast<long long>(i));
      log.write(o);
    }
  }
  struct stat now{}, old{};
  ASSERT_EQ(stat(path.c_str(), &now), 0);
  ASSERT_EQ(stat((path + ".1").c_str(), &old), 0);
  EXPECT_LE(now.st_size, 1000);
  EXPECT_LE(old.st_size, 1000);
  EXPECT_GT(old.st_size, 900);
  // Reopened (a restart), the size already there counts.
  {
    JsonLog log;
    ASSERT_TRUE(log.open(path, 1000));
    for (int i = 0; i < 40; ++i) log.write(JsonObject().add("command", "CLS"));
  }
  ASSERT_EQ(stat(path.c_str(), &now), 0);
  EXPECT_LE(now.st_size, 1000);
  unlink(path.c_str());
  unlink((path + ".1").c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace vprinter
