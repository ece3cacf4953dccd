// Files larger than one block on the recording fake: every byte arrives in
// order whether the kernel copies the rest or it is read a block at a time;
// memory stays within a block; a file that ends early or a copy that fails
// fails the call without its line end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "files/files.h"
#include "paloma.h"
#include "open_on_fake.h"
#include "support/fake_os.h"

namespace paloma::test {
namespace {

using namespace std::string_literals;

// The fake with a kernel copy of its own (optional) and a size it may be
// told, so that a file can end before the size it announced.
class CopyingFake : public FakeOs {
 public:
  bool copies = false;              // copyFile moves bytes (else: unsupported)
  long copyEndsAfter = -1;          // >= 0: the file ends after this many copied bytes
  bool copyFails = false;           // the target fails the copy
  std::int64_t sizeOverride = -1;   // >= 0: the size the file reports
  std::size_t largestRead = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> copyCalls;

  std::int64_t fileSize(Handle h) override {
    return sizeOverride >= 0 ? sizeOverride : FakeOs::fileSize(h);
  }
  IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int ms) override {
    largestRead = std::max(largestRead, cap);
    IoResult r = FakeOs::readFile(h, buf, cap, wait, ms);
    if (r.timedOut) r = {true, 0, 0, false};  // a regular file's end reads 0 at once
    return r;
  }
  FileCopyResult copyFile(Handle file, std::uint64_t offset, std::size_t n, Handle to,
                          Socket sock) override {
    copyCalls.emplace_back(offset, n);
    FileCopyResult r;
    if (!copies) return r;
    const std::string& content = devices_[handles_.at(file).target];
    const std::string target = to != kInvalidHandle ? handles_.at(to).target : sockets_.at(sock).target;
    if (copyFails) {
      r.status = FileCopyResult::Failed;
      r.error = 5;
      return r;
    }
    std::size_t take = offset < content.size() ? std::min(n, content.size() - offset) : 0;
    if (copyEndsAfter >= 0) take = std::min(take, static_cast<std::size_t>(copyEndsAfter));
    if (take > 0) recordWrite(target, "copy", content.data() + offset, take);
    r.count = take;
    r.status = take == n ? FileCopyResult::Done : FileCopyResult::FileEnded;
    return r;
  }
};

class LargeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    resetLibraryState();
    setOs(&f);
    f.copies = f.copyFails = false;
    f.copyEndsAfter = f.sizeOverride = -1;
    f.largestRead = 0;
    f.copyCalls.clear();
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<char>((i * 2654435761u) >> 13);
    f.addDevice("/tmp/big.pcx", data);
  }
  void TearDown() override {
    setOs(nullptr);
    resetLibraryState();
  }
  std::string connect(TransportKind kind) { return openOnFake(f, kind); }

  // Two whole blocks and a part of one.
  std::string data = std::string(2 * kFileBlockBytes + 4099, '\0');
  CopyingFake f;
};

TEST_F(LargeFiles, EveryFunctionOnEveryTransportSendsEveryByte) {
  const std::string size = std::to_string(data.size());
  const TransportKind kinds[] = {TransportKind::Spooler, TransportKind::LptFile,
                                 TransportKind::UsbDevice, TransportKind::Serial,
                                 TransportKind::Network};
  for (bool copies : {false, true}) {
    for (TransportKind kind : kinds) {
      for (int fn = 0; fn < 4; ++fn) {
        SCOPED_TRACE("copies " + std::to_string(copies) + " transport " +
                     std::to_string(static_cast<int>(kind)) + " function " + std::to_string(fn));
        TearDown();
        SetUp();
        f.copies = copies;
        const std::string target = connect(kind);
        int r = 0;
        std::string header = "DOWNLOAD \"BIG.PCX\"," + size + ",";
        switch (fn) {
          case 0: r = downloadbmp("/tmp/big.pcx", "BIG.PCX"); break;
          case 1: r = downloadpcx("/tmp/big.pcx", "BIG.PCX"); break;
          case 2:
            r = downloadmemory("F", "/tmp/big.pcx", "BIG.PCX");
            header = "DOWNLOAD F,\"BIG.PCX\"," + size + ",";
            break;
          case 3: r = sendfile("/tmp/big.pcx"); header.clear(); break;
        }
        EXPECT_EQ(r, 1);
        const std::string end = kind == TransportKind::Network ? "\r\n\0"s : "\r\n"s;
        EXPECT_TRUE(f.wire(target) == header + data + end) << "the bytes differ";
        EXPECT_LE(f.largestRead, kFileBlockBytes);
        EXPECT_FALSE(f.isOpen("/tmp/big.pcx"));
        // The kernel copies the rest, after the first block, where the target
        // is a socket or a device written plainly; never to the spooler, and
        // never under the serial port's overlapped writes.
        const bool mayCopy = kind != TransportKind::Spooler &&
                             !(kind == TransportKind::Serial && fn < 2);
        if (mayCopy) {
          ASSERT_EQ(f.copyCalls.size(), 1u);
          EXPECT_EQ(f.copyCalls[0].first, kFileBlockBytes);
          EXPECT_EQ(f.copyCalls[0].second, data.size() - kFileBlockBytes);
        } else {
          EXPECT_TRUE(f.copyCalls.empty());
        }
      }
    }
  }
}

TEST_F(LargeFiles, SlotTwinsSendEveryByte) {
  f.addPrinter("Slot", "usb://x");
  for (bool copies : {false, true}) {
    SCOPED_TRACE(copies);
    f.copies = copies;
    ASSERT_EQ(openportmult(3, "Slot"), 1);
    f.clearJournal();
    EXPECT_EQ(downloadpcxmult(3, "/tmp/big.pcx", "BIG.PCX"), 1);
    EXPECT_TRUE(f.wire("spooler:Slot") ==
                "DOWNLOAD \"BIG.PCX\"," + std::to_string(data.size()) + "," + data + "\r\n");
    EXPECT_TRUE(f.copyCalls.empty());  // a spooler job is written, not copied to
    closeportmult(3);
  }
}

TEST_F(LargeFiles, AFileEndingEarlyFailsTheCallWithoutItsLineEnd) {
  // Read a block at a time: the announced size is larger than what the file
  // still holds after its first block.
  for (bool copies : {false, true}) {
    SCOPED_TRACE(copies);
    TearDown();
    SetUp();
    f.copies = copies;
    f.sizeOverride = static_cast<std::int64_t>(data.size() + 10);
    const std::string target = connect(TransportKind::Network);
    EXPECT_EQ(downloadpcx("/tmp/big.pcx", "BIG.PCX"), 0);
    EXPECT_EQ(f.messages(), std::vector<std::string>{"Read File Message|File read unsuccessfully"});
    const std::string wire = f.wire(target);
    EXPECT_EQ(wire.size(), ("DOWNLOAD \"BIG.PCX\"," + std::to_string(data.size() + 10) + ",").size() +
                               (copies ? data.size() : 2 * kFileBlockBytes));
    EXPECT_NE(wire.substr(wire.size() - 3), "\r\n\0"s);
    EXPECT_FALSE(f.isOpen("/tmp/big.pcx"));
  }
  // The kernel copy stops short.
  TearDown();
  SetUp();
  f.copies = true;
  f.copyEndsAfter = 100;
  const std::string target = connect(TransportKind::LptFile);
  EXPECT_EQ(sendfile("/tmp/big.pcx"), 0);
  EXPECT_EQ(f.messages(), std::vector<std::string>{"Read File Message|File read unsuccessfully"});
  EXPECT_TRUE(f.wire(target) == data.substr(0, kFileBlockBytes + 100));
}

TEST_F(LargeFiles, AFailedCopyOrWriteFailsTheCallQuietly) {
  f.copies = true;
  f.copyFails = true;
  std::string target = connect(TransportKind::Network);
  EXPECT_EQ(sendfile("/tmp/big.pcx"), 0);
  EXPECT_TRUE(f.messages().empty());
  EXPECT_TRUE(f.wire(target) == data.substr(0, kFileBlockBytes));
  EXPECT_FALSE(f.isOpen("/tmp/big.pcx"));

  // Read a block at a time: the second block's write fails, nothing follows.
  TearDown();
  SetUp();
  target = connect(TransportKind::UsbDevice);
  f.failWritesAfter(target, 2);  // header, first block
  EXPECT_EQ(downloadbmp("/tmp/big.pcx", "B"), 0);
  EXPECT_TRUE(f.messages().empty());
  EXPECT_EQ(f.writes(target).size(), 2u);
  EXPECT_EQ(f.entries("read").size(), 2u);  // no block read after the failure
}

}  // namespace
}  // namespace paloma::test
