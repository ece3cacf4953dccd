#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_options.h"
#include "status_reasons.h"

namespace paloma::printapp {
namespace {

TEST(StatusReasons, EachConditionOfTheByte) {
  struct Row {
    uint8_t byte;
    pappl_preason_t reasons;
    bool blocks;
    bool paused;
  };
  const Row rows[] = {
      {0x00, PAPPL_PREASON_NONE, false, false},
      {0x01, PAPPL_PREASON_DOOR_OPEN | PAPPL_PREASON_COVER_OPEN, true, false},
      {0x02, PAPPL_PREASON_MEDIA_JAM, true, false},
      {0x04, PAPPL_PREASON_MEDIA_EMPTY, true, false},
      {0x08, PAPPL_PREASON_MARKER_SUPPLY_EMPTY, true, false},
      {0x10, PAPPL_PREASON_NONE, true, true},
      {0x20, PAPPL_PREASON_NONE, false, false},  // printing is no fault
      {0x40, PAPPL_PREASON_OTHER, true, false},
      {0x80, PAPPL_PREASON_OTHER, true, false},
      {0x2c, PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_EMPTY, true, false},
  };
  for (const Row& r : rows) {
    const StatusReasons s = reasonsForStatus(r.byte);
    EXPECT_EQ(s.reasons, r.reasons) << int(r.byte);
    EXPECT_EQ(s.blocksPrinting, r.blocks) << int(r.byte);
    EXPECT_EQ(s.paused, r.paused) << int(r.byte);
    // Every reason set is one this application also clears.
    EXPECT_EQ(s.reasons & ~kManagedReasons, 0u) << int(r.byte);
  }
  EXPECT_EQ(reasonsForStatus(0).text, "ready");
  EXPECT_EQ(reasonsForStatus(0x06).text, "paper jam, paper empty");
}

std::vector<std::string> translate(std::vector<std::string> args, std::string* error = nullptr) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::vector<std::string> out;
  std::string e;
  if (!translateArguments(static_cast<int>(argv.size()), argv.data(), &out, &e)) {
    if (error) *error = e;
    return {};
  }
  return out;
}

TEST(Arguments, LongFormsAndTheAddedPrintersName) {
  using V = std::vector<std::string>;
  EXPECT_EQ(translate({"app", "add", "lab", "--device-uri", "socket://h:9100", "--driver",
                       "paloma"}),
            (V{"app", "add", "-d", "lab", "-v", "socket://h:9100", "-m", "paloma"}));
  EXPECT_EQ(translate({"app", "add", "--driver=paloma_300dpi", "lab", "-o", "a=b",
                       "--device-uri=paloma:usb:"}),
            (V{"app", "add", "-m", "paloma_300dpi", "-d", "lab", "-o", "a=b", "-v",
               "paloma:usb:"}));
  // An option's value is not taken for the name.
  EXPECT_EQ(translate({"app", "add", "-o", "x=y", "lab"}),
            (V{"app", "add", "-o", "x=y", "-d", "lab"}));
  // Other sub-commands keep their arguments.
  EXPECT_EQ(translate({"app", "submit", "-d", "lab", "label.pdf"}),
            (V{"app", "submit", "-d", "lab", "label.pdf"}));
  std::string error;
  EXPECT_TRUE(translate({"app", "add", "lab", "--driver"}, &error).empty());
  EXPECT_NE(error.find("--driver needs a value"), std::string::npos);
}

TEST(ServerOptions, ValuesAreCheckedAndNamed) {
  auto parse = [](std::vector<std::pair<const char*, const char*>> opts, ServerConfig* c,
                  std::string* e) {
    cups_option_t* options = nullptr;
    int n = 0;
    for (auto& [k, v] : opts) n = cupsAddOption(k, v, n, &options);
    const bool ok = parseServerOptions(n, options, c, e);
    cupsFreeOptions(n, options);
    return ok;
  };
  ServerConfig c;
  std::string e;
  ASSERT_TRUE(parse({{"server-port", "9631"}, {"status-interval", "2"}, {"log-level", "debug"},
                     {"max-pdf-pages", "5"}, {"listen-hostname", "*"}},
                    &c, &e))
      << e;
  EXPECT_EQ(c.port, 9631);
  EXPECT_EQ(c.app.statusIntervalSeconds, 2);
  EXPECT_EQ(c.app.maxPdfPages, 5);
  EXPECT_EQ(c.logLevel, PAPPL_LOGLEVEL_DEBUG);
  EXPECT_EQ(c.listenHost, "*");

  const std::pair<const char*, const char*> bad[] = {
      {"server-port", "0"},         {"server-port", "70000"},   {"server-port", "8x"},
      {"status-interval", "0"},     {"fault-wait", "-1"},       {"reply-timeout", "5"},
      {"log-level", "loud"},        {"listen-hostname", "a b"}, {"max-pdf-pages", ""},
  };
  for (const auto& b : bad) {
    ServerConfig d;
    std::string error;
    EXPECT_FALSE(parse({b}, &d, &error)) << b.first << "=" << b.second;
    EXPECT_NE(error.find(b.first), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace paloma::printapp
