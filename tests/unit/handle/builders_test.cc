// The builder table on a handle against the single connection's functions:
// for every row and several argument sets (plain, printer variables and
// empty options, a line end in a field), both send the same bytes or both
// refuse and send nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handle/builders.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

// Argument sets for a row of `argc` arguments.
std::vector<std::vector<std::string>> argumentSets(std::size_t argc) {
  std::vector<std::vector<std::string>> sets(4);
  for (std::size_t i = 0; i < argc; ++i) {
    const bool last = i + 1 == argc;
    sets[0].push_back(last ? "Hello, 1" : std::to_string(i + 2));
    // The content a printer variable, every other option left out.
    sets[1].push_back(last ? "@DATE" : (i < 3 || i % 2 == 0) ? std::to_string(i + 3) : "");
    // A line end inside the last field.
    sets[2].push_back(last ? "A\r\nPRINT 9" : std::to_string(i + 1));
    // A field far longer than any command's capacity.
    sets[3].push_back(last ? std::string(3000, 'x') : std::to_string(i + 1));
  }
  if (argc == 0) sets.resize(1);
  return sets;
}

std::vector<const char*> pointers(const std::vector<std::string>& args) {
  std::vector<const char*> out;
  for (const auto& a : args) out.push_back(a.c_str());
  return out;
}

TEST(HandleBuilders, EveryRowSendsTheSingleConnectionsBytes) {
  std::size_t compared = 0, sent = 0, refused = 0;
  for (std::size_t r = 0; r < kBuilderRowCount; ++r) {
    const BuilderRow& row = kBuilderRows[r];
    for (const auto& args : argumentSets(row.argc)) {
      SCOPED_TRACE(std::string(row.handleName) + " with " +
                   (args.empty() ? std::string("no arguments") : args.back().substr(0, 20)));
      auto a = pointers(args);
      std::string legacyBytes, handleBytes;
      int legacyResult = 0;
      paloma_result handleResult = PALOMA_OK;
      {
        FakeOsScope scope;
        scope.fake().addDevice("LPT1");
        ASSERT_EQ(openport("LPT1"), 1);
        legacyResult = row.legacy(a.data());
        legacyBytes = scope.fake().wire("LPT1");
        closeport();
      }
      {
        FakeOsScope scope;
        scope.fake().addDevice("LPT1");
        paloma_printer* p = nullptr;
        ASSERT_EQ(paloma_open("file:LPT1", &p), PALOMA_OK);
        handleResult = sendBuilder(p, row, a.data());
        handleBytes = scope.fake().wire("LPT1");
        paloma_close(p);
      }
      EXPECT_EQ(handleBytes, legacyBytes);
      EXPECT_EQ(handleResult == PALOMA_OK, legacyResult == 1);
      if (handleResult != PALOMA_OK) {
        EXPECT_EQ(handleResult, PALOMA_ERROR_ARGUMENT);
        EXPECT_EQ(handleBytes, "");
        ++refused;
      } else {
        ++sent;
      }
      ++compared;
    }
  }
  // Both kinds of outcome were compared, over the whole table.
  EXPECT_GE(kBuilderRowCount, 25u);
  EXPECT_GT(sent, kBuilderRowCount);
  EXPECT_GT(refused, 10u);
  EXPECT_GE(compared, 3 * kBuilderRowCount);
}

TEST(HandleBuilders, ABuilderGoesOutInOneWriteWithItsLineEnds) {
  FakeOsScope scope;
  scope.fake().addDevice("LPT1");
  paloma_printer* p = nullptr;
  ASSERT_EQ(paloma_open("file:LPT1", &p), PALOMA_OK);
  ASSERT_EQ(paloma_setup(p, "100", "150", "4", "8", "0", "3", "0"), PALOMA_OK);
  ASSERT_EQ(paloma_wifi_wep(p, 2, "key"), PALOMA_OK);
  auto writes = scope.fake().writes("LPT1");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].data,
            "SIZE 100 mm,150 mm\r\nSPEED 4\r\nDENSITY 8\r\nGAP 3 mm,0 mm\r\n");
  EXPECT_EQ(writes[1].data, "WLAN WEP 2,\"key\"\r\n");
  EXPECT_EQ(paloma_printerfont(nullptr, "1", "1", "1", "0", "1", "1", "x"),
            PALOMA_ERROR_NOT_CONNECTED);
  EXPECT_EQ(paloma_windowsfont(p, 0, 0, 20, 0, 0, 0, "", "x"), PALOMA_ERROR_ARGUMENT);
  paloma_close(p);
}


TEST(HandleFiles, SendAndDownloadPutTheSingleConnectionsBytes) {
  const std::string content = std::string("GIF89a\0\x01\r\n", 10) + std::string(5000, 'q');
  struct Case {
    const char* what;
    int (*legacy)();
    paloma_result (*handle)(paloma_printer*);
  };
  const Case cases[] = {
      {"sendfile", [] { return sendfile("pic.gif"); },
       [](paloma_printer* p) { return paloma_send_file(p, "pic.gif"); }},
      {"downloadmemory", [] { return downloadmemory("F", "pic.gif", "PIC.GIF"); },
       [](paloma_printer* p) { return paloma_download(p, "F", "pic.gif", "PIC.GIF"); }},
      {"downloadbmp", [] { return downloadbmp("pic.gif", "PIC.BMP"); },
       [](paloma_printer* p) { return paloma_download(p, nullptr, "pic.gif", "PIC.BMP"); }},
      {"a missing file", [] { return sendfile("missing.gif"); },
       [](paloma_printer* p) { return paloma_send_file(p, "missing.gif"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string legacyBytes, handleBytes;
    int legacyResult = 0;
    paloma_result handleResult = PALOMA_OK;
    {
      FakeOsScope scope;
      scope.fake().addDevice("LPT1");
      scope.fake().addDevice("pic.gif", content);
      ASSERT_EQ(openport("LPT1"), 1);
      legacyResult = c.legacy();
      legacyBytes = scope.fake().wire("LPT1");
      closeport();
    }
    {
      FakeOsScope scope;
      scope.fake().addDevice("LPT1");
      scope.fake().addDevice("pic.gif", content);
      paloma_printer* p = nullptr;
      ASSERT_EQ(paloma_open("file:LPT1", &p), PALOMA_OK);
      handleResult = c.handle(p);
      handleBytes = scope.fake().wire("LPT1");
      paloma_close(p);
    }
    EXPECT_EQ(handleBytes, legacyBytes);
    EXPECT_EQ(handleResult == PALOMA_OK, legacyResult == 1);
  }
}

}  // namespace
}  // namespace paloma
