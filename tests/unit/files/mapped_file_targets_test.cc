// Which targets take a file as a mapped view, and the largest file accepted.
#include <gtest/gtest.h>

#include <string>

#include "files/files.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

TEST(MappedFiles, ASpoolerTargetReadsTheFileInsteadOfMappingIt) {
  test::FakeOsScope scope;
  auto& f = scope.fake();
  f.allowMapping(true);
  f.addDevice("logo.bmp", "BM12");
  f.addPrinter("Label", "usb://label");
  ASSERT_EQ(openport("Label"), 1);
  EXPECT_EQ(downloadbmp("logo.bmp", "LOGO.BMP"), 1);
  EXPECT_EQ(f.wire("spooler:Label"), "DOWNLOAD \"LOGO.BMP\",4,BM12\r\n");
  EXPECT_TRUE(f.entries("map").empty());
  EXPECT_FALSE(f.entries("read").empty());
}

// A file that reports a given size and maps without holding the bytes; the
// device refuses every write, so the bytes are never touched.
struct SizedFile : test::FakeOs {
  std::int64_t size = 0;
  std::size_t mappedSize = 0;
  unsigned char byte = 0;
  std::int64_t fileSize(Handle) override { return size; }
  bool mapFile(Handle, std::size_t n, FileView* out) override {
    mappedSize = n;
    out->data = &byte;
    out->size = n;
    out->token = 0;
    return true;
  }
  void unmapFile(const FileView&) override {}
};

TEST(MappedFiles, TheLargestFileAcceptedIsOneByteUnderTwoGibibytes) {
  for (std::int64_t size : {std::int64_t{0x7FFFFFFF}, std::int64_t{0x80000000}}) {
    SCOPED_TRACE(size);
    SizedFile f;
    test::resetLibraryState();
    setOs(&f);
    f.size = size;
    f.addDevice("big.bmp", "B");
    f.addDevice("LPT1");
    ASSERT_EQ(openport("LPT1"), 1);
    f.failWritesAfter("LPT1", 0);
    EXPECT_EQ(downloadbmp("big.bmp", "BIG.BMP"), 0);
    if (size < 0x80000000) {
      EXPECT_TRUE(f.messages().empty());
      EXPECT_EQ(f.mappedSize, static_cast<std::size_t>(size));
    } else {
      EXPECT_EQ(f.messages(), std::vector<std::string>{std::string("Error Message|") + kFileTooLarge});
      EXPECT_EQ(f.mappedSize, 0u);
    }
    setOs(nullptr);
    test::resetLibraryState();
  }
}

}  // namespace
}  // namespace paloma
