// The largest file accepted is one byte under 2 GiB: a file of that size
// passes the size check (here it then ends early, which its read reports),
// one byte more is refused as too large before anything is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/files.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

struct SizedFile : test::FakeOs {
  std::int64_t size = 0;
  std::int64_t fileSize(Handle) override { return size; }
};

TEST(FileLimits, TheLargestFileAcceptedIsOneByteUnderTwoGibibytes) {
  struct Row {
    std::int64_t size;
    std::string message;
  };
  const Row rows[] = {
      {0x7FFFFFFF, std::string(kReadFileCaption) + "|" + kFileReadUnsuccessfully},
      {0x80000000, std::string(kErrorCaption) + "|" + kFileTooLarge},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    SizedFile f;
    test::resetLibraryState();
    setOs(&f);
    f.size = r.size;
    f.addDevice("big.bmp", "B");
    f.addDevice("LPT1");
    ASSERT_EQ(openport("LPT1"), 1);
    EXPECT_EQ(downloadbmp("big.bmp", "BIG.BMP"), 0);
    EXPECT_EQ(f.messages(), std::vector<std::string>{r.message});
    EXPECT_TRUE(f.writes().empty());
    EXPECT_FALSE(f.isOpen("big.bmp"));
    setOs(nullptr);
    test::resetLibraryState();
  }
}

}  // namespace
}  // namespace paloma
