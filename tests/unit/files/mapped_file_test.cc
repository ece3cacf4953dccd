// Where the platform maps files, a download sends the mapped bytes and
// releases the view; the bytes on the wire are the same as when read.
#include <gtest/gtest.h>

#include <string>

#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

TEST(MappedFiles, DownloadSendsTheViewAndReleasesIt) {
  test::FakeOsScope scope;
  auto& f = scope.fake();
  f.allowMapping(true);
  std::string content("\0\r\nLOGO", 7);
  f.addDevice("logo.bmp", content);
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
  EXPECT_EQ(downloadbmp("logo.bmp", "LOGO.BMP"), 1);
  EXPECT_EQ(f.wire("LPT1"), "DOWNLOAD \"LOGO.BMP\",7," + content + "\r\n");
  EXPECT_EQ(f.entries("map").size(), 1u);
  EXPECT_EQ(f.entries("unmap").size(), 1u);
  EXPECT_TRUE(f.entries("read").empty());
  // An empty file has nothing to map: its header and line end still go.
  f.addDevice("empty.bmp", "");
  EXPECT_EQ(downloadbmp("empty.bmp", "E"), 1);
  EXPECT_EQ(f.entries("map").size(), 1u);
}

}  // namespace
}  // namespace paloma
