// Downloads, sendfile and the text save on the recording fake: the exact
// bytes and write calls per transport, the messages, and the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "files/files.h"
#include "paloma.h"
#include "open_on_fake.h"
#include "support/fake_os.h"
#include "support/wide_text.h"

namespace paloma::test {
namespace {

// The fake with a few knobs the file tests need: a size other than the
// content's, reads that fail or deliver small pieces.
class FilesFake : public FakeOs {
 public:
  std::int64_t sizeOverride = -2;  // -2: the content's own size
  bool readsFail = false;
  std::size_t readPiece = 0;  // > 0: each read delivers at most this many bytes

  std::int64_t fileSize(Handle h) override {
    return sizeOverride == -2 ? FakeOs::fileSize(h) : sizeOverride;
  }
  IoResult readFile(Handle h, void* buf, std::size_t cap, ReadWait wait, int ms) override {
    if (readsFail) {
      log("read-failed", targetOf(h));
      return {false, 0, 5, false};
    }
    IoResult r = FakeOs::readFile(h, buf, readPiece ? std::min(cap, readPiece) : cap, wait, ms);
    // A regular file at its end reads 0 bytes at once, without a time-out.
    if (r.timedOut) r = {true, 0, 0, false};
    return r;
  }
  // A file's content as the library left it.
  std::string content(const std::string& path) const {
    auto it = devices_.find(path);
    return it == devices_.end() ? std::string("<missing>") : it->second;
  }
};

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    resetLibraryState();
    setOs(&f);
  }
  void TearDown() override {
    setOs(nullptr);
    resetLibraryState();
  }

  // Opens the connection on one transport directly and returns the target
  // name under which the fake records its writes.
  std::string connect(TransportKind kind) { return openOnFake(f, kind); }

  // The write calls on a target as "kind:bytes".
  std::vector<std::string> calls(const std::string& target) const {
    std::vector<std::string> out;
    for (const auto& w : f.writes(target)) out.push_back(w.detail + ":" + w.data);
    return out;
  }

  FilesFake f;
};

using namespace std::string_literals;

std::string allBytes() {
  std::string s = "\r\n\0A\r\n"s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

TEST_F(Files, EachFunctionOnEachTransportSendsHeaderPayloadAndLineEnd) {
  const std::string data = allBytes();
  const std::string size = std::to_string(data.size());
  const std::string bmpHeader = "DOWNLOAD \"LOGO.BMP\"," + size + ",";
  const std::string memHeader = "DOWNLOAD F,\"LOGO.BMP\"," + size + ",";
  struct Row {
    TransportKind kind;
    int function;  // 0 bmp, 1 pcx, 2 memory, 3 sendfile
    std::vector<std::string> expected;
  };
  const std::string crlf = "\r\n", crlfNul = "\r\n\0"s;
  std::vector<Row> rows;
  for (int fn = 0; fn < 4; ++fn) {
    const std::string header = fn == 2 ? memHeader : bmpHeader;
    auto with = [&](const std::string& h, std::vector<std::string> rest) {
      if (fn != 3) rest.insert(rest.begin(), h);
      return rest;
    };
    rows.push_back({TransportKind::Spooler, fn,
                    with("spooler:" + header, {"spooler:" + data, "spooler:" + crlf})});
    rows.push_back({TransportKind::UsbDevice, fn,
                    with("file:" + header, {"file:" + data, "file:" + crlf})});
    rows.push_back({TransportKind::LptFile, fn,
                    with("file:" + header, {"file:" + data, "file:" + crlf})});
    // The serial row differs: the image downloads write overlapped and end
    // with ComportSendData; the others write the handle plainly.
    rows.push_back(
        {TransportKind::Serial, fn,
         fn < 2 ? with("overlapped:" + header, {"overlapped:" + data, "overlapped:" + crlf})
                : with("overlapped:" + header, {"file:" + data, "file:" + crlf})});
    rows.push_back({TransportKind::Network, fn,
                    with("send-more:" + header, {"send-more:" + data, "send:" + crlfNul})});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE("transport " + std::to_string(static_cast<int>(row.kind)) + " function " +
                 std::to_string(row.function));
    TearDown();
    SetUp();
    f.addDevice("/tmp/logo.bmp", data);
    const std::string target = connect(row.kind);
    int r = 0;
    switch (row.function) {
      case 0: r = downloadbmp("/tmp/logo.bmp", "LOGO.BMP"); break;
      case 1: r = downloadpcx("/tmp/logo.bmp", "LOGO.BMP"); break;
      case 2: r = downloadmemory("F", "/tmp/logo.bmp", "LOGO.BMP"); break;
      case 3: r = sendfile("/tmp/logo.bmp"); break;
    }
    EXPECT_EQ(r, 1);
    EXPECT_EQ(calls(target), row.expected);
    EXPECT_FALSE(f.isOpen("/tmp/logo.bmp"));
    ASSERT_EQ(f.entries("open").size(), 1u);
    EXPECT_EQ(f.entries("open")[0].detail, "access=1 share=1 disp=0");
  }
}

TEST_F(Files, EmptyFileAnnouncesSizeZeroThenTheLineEnd) {
  f.addDevice("empty.pcx", "");
  const std::string target = connect(TransportKind::Network);
  EXPECT_EQ(downloadpcx("empty.pcx", "E.PCX"), 1);
  EXPECT_EQ(f.wire(target), "DOWNLOAD \"E.PCX\",0,\r\n\0"s);
  f.clearJournal();
  EXPECT_EQ(sendfile("empty.pcx"), 1);
  EXPECT_EQ(f.wire(target), "\r\n\0"s);

  // A file whose size reads as 0 but which has content (as the system's
  // files under /proc do) would go out empty: it is refused, unsent.
  f.addDevice("maps", "00400000-00452000 r-xp\n");
  f.sizeOverride = 0;
  f.clearJournal();
  paloma_clear_error();
  EXPECT_EQ(sendfile("maps"), 0);
  EXPECT_NE(std::string(paloma_last_error()).find("has content"), std::string::npos)
      << paloma_last_error();
  EXPECT_EQ(downloadpcx("maps", "M.PCX"), 0);
  EXPECT_TRUE(f.writes(target).empty());
}

TEST_F(Files, MemoryOperandStandsWithoutQuotes) {
  f.addDevice("a.pcx", "0123456789");
  const std::string target = connect(TransportKind::UsbDevice);
  EXPECT_EQ(downloadmemory("E", "a.pcx", "A.PCX"), 1);
  EXPECT_EQ(f.wire(target), "DOWNLOAD E,\"A.PCX\",10,0123456789\r\n");
}

TEST_F(Files, NothingIsOpenedWithoutAConnection) {
  f.addDevice("a.bmp", "x");
  connect(TransportKind::Network);
  connection().isOpen = 0;  // the mode flag stays set
  for (const char* path : {"a.bmp", "missing.bmp"}) {
    EXPECT_EQ(downloadbmp(path, "A"), 0);
    EXPECT_EQ(downloadpcx(path, "A"), 0);
    EXPECT_EQ(downloadmemory("E", path, "A"), 0);
    EXPECT_EQ(sendfile(path), 0);
  }
  EXPECT_TRUE(f.journal().empty());
}

TEST_F(Files, NullArgumentsAreRefusedBeforeAnyOpen) {
  f.addDevice("a.bmp", "x");
  connect(TransportKind::Network);
  EXPECT_EQ(downloadbmp(nullptr, "A"), 0);
  EXPECT_EQ(downloadbmp("a.bmp", nullptr), 0);
  EXPECT_EQ(downloadmemory(nullptr, "a.bmp", "A"), 0);
  EXPECT_EQ(sendfile(nullptr), 0);
  EXPECT_EQ(savetotext(nullptr), 0);
  EXPECT_EQ(savetotext_array(nullptr), 0);
  EXPECT_TRUE(f.journal().empty());
}

// A line end or a double quote in the name (or the memory operand) would
// end the DOWNLOAD header early and run the rest as commands.
TEST_F(Files, NamesAndMemoriesWithALineEndOrQuoteAreRefusedUnsent) {
  f.addDevice("a.bmp", "x");
  connect(TransportKind::Network);
  for (const char* bad : {"AX\r\nPRINT 9,9\r\n", "A\nB", "A\rB", "A\",6,X"}) {
    paloma_clear_error();
    EXPECT_EQ(downloadbmp("a.bmp", bad), 0) << bad;
    EXPECT_NE(std::string(paloma_last_error()).find("argument name"), std::string::npos)
        << paloma_last_error();
    EXPECT_EQ(downloadpcx("a.bmp", bad), 0) << bad;
    EXPECT_EQ(downloadmemory("E", "a.bmp", bad), 0) << bad;
    paloma_clear_error();
    EXPECT_EQ(downloadmemory(bad, "a.bmp", "A"), 0) << bad;
    EXPECT_NE(std::string(paloma_last_error()).find("argument memory"), std::string::npos)
        << paloma_last_error();
  }
  EXPECT_TRUE(f.writes().empty());
}

TEST_F(Files, LoaderFailuresShowTheirMessageAndSendNothing) {
  const std::string target = connect(TransportKind::Network);
  f.addDevice("a.bmp", "0123456789");
  struct Case {
    const char* name;
    const char* path;
    std::int64_t size;  // -2: the content's own
    bool readsFail;
    std::string message;
  };
  const Case cases[] = {
      {"missing", "missing.bmp", -2, false, "Error Message|Could not open file"},
      {"read fails", "a.bmp", -2, true, "Read File Message|File read unsuccessfully"},
      {"file shorter than its size", "a.bmp", 11, false,
       "Read File Message|File read unsuccessfully"},
      {"size unknown", "a.bmp", -1, false, "Read File Message|File read unsuccessfully"},
      {"2 GiB", "a.bmp", 0x80000000LL, false, std::string("Error Message|") + kFileTooLarge},
      {"4 GiB", "a.bmp", 0x100000000LL, false, std::string("Error Message|") + kFileTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f.clearJournal();
    f.sizeOverride = c.size;
    f.readsFail = c.readsFail;
    EXPECT_EQ(downloadbmp(c.path, "A.BMP"), 0);
    EXPECT_EQ(f.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(f.entries("message")[0].value, static_cast<long>(MessageIcon::Warning));
    EXPECT_TRUE(f.writes().empty());
    EXPECT_FALSE(f.isOpen(c.path));
  }
}

TEST_F(Files, AFileDeliveredInSmallPiecesArrivesWhole) {
  const std::string data = allBytes();
  f.addDevice("a.bin", data);
  f.readPiece = 7;
  const std::string target = connect(TransportKind::LptFile);
  EXPECT_EQ(sendfile("a.bin"), 1);
  EXPECT_EQ(f.wire(target), data + "\r\n");
}

TEST_F(Files, HeaderOfMoreThan99CharactersIsRefused) {
  f.addDevice("a.bmp", "abc");
  const std::string target = connect(TransportKind::Network);
  // "DOWNLOAD \"" + name + "\",3," is 14 characters around the name.
  const std::string fits(85, 'N'), tooLong(86, 'N');
  EXPECT_EQ(downloadbmp("a.bmp", tooLong.c_str()), 0);
  EXPECT_EQ(downloadmemory("E", "a.bmp", std::string(84, 'N').c_str()), 0);
  EXPECT_TRUE(f.writes().empty());
  EXPECT_FALSE(f.isOpen("a.bmp"));
  EXPECT_EQ(downloadbmp("a.bmp", fits.c_str()), 1);
  EXPECT_EQ(f.wire(target), "DOWNLOAD \"" + fits + "\",3,abc\r\n\0"s);
}

TEST_F(Files, ResultsTellTheTruth) {
  f.addDevice("a.bmp", "0123456789");
  const std::string target = connect(TransportKind::Network);

  // Short writes are continued: the printer still gets every byte.
  f.limitWrite(target, 4);
  EXPECT_EQ(downloadbmp("a.bmp", "A"), 1);
  EXPECT_EQ(f.wire(target), "DOWNLOAD \"A\",10,0123456789\r\n\0"s);

  // A failed header: nothing follows it, so the file's bytes are never
  // taken for commands.
  f.clearJournal();
  f.failWritesAfter(target, 0);
  EXPECT_EQ(downloadbmp("a.bmp", "A"), 0);
  EXPECT_EQ(f.entries("write-failed").size(), 1u);

}

TEST_F(Files, AFailedPayloadIsNotFollowedByTheLineEnd) {
  f.addDevice("a.bmp", "0123456789");
  const std::string target = connect(TransportKind::Network);
  f.failWritesAfter(target, 1);
  EXPECT_EQ(downloadbmp("a.bmp", "A"), 0);
  EXPECT_EQ(f.wire(target), "DOWNLOAD \"A\",10,");
  EXPECT_EQ(f.entries("write-failed").size(), 1u);
  EXPECT_FALSE(f.isOpen("a.bmp"));
}

TEST_F(Files, NoActiveTransportSendsNothing) {
  f.addDevice("a.bmp", "x");
  connect(TransportKind::Network);
  connection().networkMode = 0;  // isOpen stays 1
  EXPECT_EQ(downloadbmp("a.bmp", "A"), 0);
  EXPECT_EQ(sendfile("a.bmp"), 0);
  EXPECT_TRUE(f.writes().empty());
  EXPECT_FALSE(f.isOpen("a.bmp"));
}

TEST_F(Files, SerialImageDownloadWithoutAnEventFails) {
  f.addDevice("a.bmp", "x");
  const std::string target = connect(TransportKind::Serial);
  f.failEvents(true);
  EXPECT_EQ(downloadbmp("a.bmp", "A"), 0);
  EXPECT_TRUE(f.writes().empty());
  EXPECT_FALSE(f.isOpen("a.bmp"));
}

TEST_F(Files, SaveToTextReplacesTheFileWithExactlyTheText) {
  f.addDevice("testfile.txt", "0123456789");
  EXPECT_EQ(savetotext(u"ab\u57D7"_w), 0);
  EXPECT_EQ(f.content("testfile.txt"), "a\0b\0\xD7\x57"s);
  ASSERT_EQ(f.entries("open").size(), 1u);
  EXPECT_EQ(f.entries("open")[0].detail, "access=2 share=0 disp=1");
  EXPECT_FALSE(f.isOpen("testfile.txt"));

  EXPECT_EQ(savetotext_array("abc"), 0);
  EXPECT_EQ(f.content("testfile.txt"), "abc");
  EXPECT_EQ(savetotext_array(""), 0);
  EXPECT_EQ(f.content("testfile.txt"), "");
  EXPECT_FALSE(f.isOpen("testfile.txt"));
}

TEST(DownloadHeader, Formats) {
  std::string h;
  EXPECT_TRUE(formatDownloadHeader(nullptr, "LOGO.BMP", 1234, &h));
  EXPECT_EQ(h, "DOWNLOAD \"LOGO.BMP\",1234,");
  EXPECT_TRUE(formatDownloadHeader("E", "A.PCX", 0x7FFFFFFF, &h));
  EXPECT_EQ(h, "DOWNLOAD E,\"A.PCX\",2147483647,");
  EXPECT_FALSE(formatDownloadHeader(nullptr, nullptr, 1, &h));
  EXPECT_EQ(h, "");
}

}  // namespace
}  // namespace paloma::test
