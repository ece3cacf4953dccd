// The file store: free memory follows what is stored, and a download that
// does not fit is refused without losing what was there.
#include <gtest/gtest.h>

#include <string>

#include "printer.h"
#include "test_rig.h"

namespace vprinter {
namespace {

struct Store : PrinterRig {
  explicit Store(uint64_t bytes) : PrinterRig(options(bytes)) {}
  static PrinterOptions options(uint64_t bytes) {
    PrinterOptions o;
    o.maxFileStore = bytes;
    return o;
  }
  std::string freeMemory() { return send("~!A\n OUT \"\x02\"\n"); }
};

TEST(Printer, FreeMemoryFollowsTheStoredFiles) {
  Store store(100);
  EXPECT_EQ(store.freeMemory(), "100\r\n\x02");
  store.send("DOWNLOAD \"A.BMP\",30," + std::string(30, 'a') + "\r\n");
  EXPECT_EQ(store.freeMemory(), "70\r\n\x02");
  store.send("DOWNLOAD F,\"B.PCX\",20," + std::string(20, 'b') + "\r\n");
  EXPECT_EQ(store.freeMemory(), "50\r\n\x02");
  // A file sent again under its name replaces the old bytes.
  store.send("DOWNLOAD \"A.BMP\",10," + std::string(10, 'c') + "\r\n");
  EXPECT_EQ(store.freeMemory(), "70\r\n\x02");
  // One that does not fit is refused; the store keeps what it had.
  store.send("DOWNLOAD \"C.BMP\",71," + std::string(71, 'd') + "\r\n");
  EXPECT_EQ(store.printer.files().count("C.BMP"), 0u);
  EXPECT_EQ(store.freeMemory(), "70\r\n\x02");
  // A restart frees the volatile file's bytes only.
  store.send("\x1b!R\r\n");
  EXPECT_EQ(store.freeMemory(), "80\r\n\x02");
}

}  // namespace
}  // namespace vprinter
