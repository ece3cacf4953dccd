// Every numeric server option at both ends of its range and one past: the
// ends are taken as given (seconds stay seconds), one past is refused naming
// the option.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_options.h"

namespace paloma::printapp {
namespace {

bool parse(const char* name, const std::string& value, ServerConfig* c, std::string* e) {
  cups_option_t* options = nullptr;
  int n = cupsAddOption(name, value.c_str(), 0, &options);
  const bool ok = parseServerOptions(n, options, c, e);
  cupsFreeOptions(n, options);
  return ok;
}

TEST(ServerOptions, EachNumberAtItsEndsAndOnePast) {
  struct Row {
    const char* name;
    long lowest, highest;
    int ServerConfig::*port;      // the field, for server-port
    int AppSettings::*setting;    // the field, for the others
  };
  const Row rows[] = {
      {"server-port", 1, 65535, &ServerConfig::port, nullptr},
      {"status-interval", 1, 3600, nullptr, &AppSettings::statusIntervalSeconds},
      {"fault-wait", 0, 604800, nullptr, &AppSettings::faultWaitSeconds},
      {"max-pdf-pages", 1, 100000, nullptr, &AppSettings::maxPdfPages},
      {"pdf-page-seconds", 1, 3600, nullptr, &AppSettings::pdfPageSeconds},
      {"reply-timeout", 100, 60000, nullptr, &AppSettings::replyTimeoutMs},
  };
  for (const Row& r : rows) {
    for (long v : {r.lowest, r.highest}) {
      ServerConfig c;
      std::string e;
      ASSERT_TRUE(parse(r.name, std::to_string(v), &c, &e)) << r.name << "=" << v << ": " << e;
      EXPECT_EQ(r.port ? c.*r.port : c.app.*r.setting, v) << r.name;
    }
    for (long v : {r.lowest - 1, r.highest + 1}) {
      if (v < 0) continue;  // a minus sign is refused as no number at all
      ServerConfig c;
      std::string e;
      EXPECT_FALSE(parse(r.name, std::to_string(v), &c, &e)) << r.name << "=" << v;
      EXPECT_NE(e.find(r.name), std::string::npos) << e;
    }
  }
}

}  // namespace
}  // namespace paloma::printapp
