// Downloads and sendfile on the real backend: a peer on 127.0.0.1 collects
// every byte the library sends over TCP; the text save writes a real file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "connection/connection_state.h"
#include "paloma.h"
#include "platform/os.h"
#include "support/loopback_peer.h"

namespace {

using namespace std::string_literals;

using paloma::test::LoopbackPeer;

// Connects the current connection's network transport to the peer through
// the backend.
bool connectTo(int port) {
  using namespace paloma;
  ConnectionState& c = connection();
  Socket s = os().tcpSocket();
  if (s == kInvalidSocket) return false;
  if (os().tcpConnect(s, 0x7F000001u, static_cast<std::uint16_t>(port)).result != 0) {
    os().closeSocket(s);
    return false;
  }
  os().setSocketTimeouts(s, 1000, 1000);
  c.socket = s;
  c.networkMode = 1;
  c.isOpen = 1;
  return true;
}

void disconnect() {
  using namespace paloma;
  ConnectionState& c = connection();
  os().closeSocket(c.socket);
  resetConnection();
}

// A scratch directory, removed with its files at the end.
class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/paloma-files-XXXXXX";
    if (mkdtemp(tmpl)) path_ = tmpl;
  }
  ~ScratchDir() {
    for (const auto& f : files_) std::remove(f.c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  std::string write(const std::string& name, const std::string& content) {
    std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << content;
    files_.push_back(p);
    return p;
  }
  void own(const std::string& name) { files_.push_back(path_ + "/" + name); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

std::vector<std::string> g_messages;
void recordMessage(const char* text, const char* caption, int, void*) {
  g_messages.push_back(std::string(caption) + "|" + text);
}

std::string allBytes() {
  std::string s = "\r\n\0A\r\n"s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

TEST(FilesLoopback, DownloadsArriveByteExactWithTheNetworkLineEnd) {
  ScratchDir dir;
  const std::string data = allBytes();
  const std::string image = dir.write("logo.bmp", data);
  const std::string empty = dir.write("empty.prn", "");
  const std::string ten = dir.write("a.pcx", "0123456789");

  LoopbackPeer peer;  // collects what arrives until the library closes
  ASSERT_NE(peer.port(), 0);
  ASSERT_TRUE(connectTo(peer.port()));
  EXPECT_EQ(downloadbmp(image.c_str(), "LOGO.BMP"), 1);
  EXPECT_EQ(sendfile(empty.c_str()), 1);
  EXPECT_EQ(downloadmemory("E", ten.c_str(), "A.PCX"), 1);
  EXPECT_EQ(downloadpcx(empty.c_str(), "E.PCX"), 1);
  EXPECT_EQ(sendfile(image.c_str()), 1);
  disconnect();

  const std::string expected = "DOWNLOAD \"LOGO.BMP\"," + std::to_string(data.size()) + "," +
                               data + "\r\n\0"s + "\r\n\0"s +
                               "DOWNLOAD E,\"A.PCX\",10,0123456789\r\n\0"s +
                               "DOWNLOAD \"E.PCX\",0,\r\n\0"s + data + "\r\n\0"s;
  EXPECT_EQ(peer.nextClosed(10000).bytes, expected);
}

TEST(FilesLoopback, MissingFileShowsItsMessageAndClosedConnectionOpensNothing) {
  ScratchDir dir;
  const std::string image = dir.write("logo.bmp", "x");
  g_messages.clear();
  paloma_set_message_handler(&recordMessage, nullptr);

  LoopbackPeer peer;  // collects what arrives until the library closes
  ASSERT_TRUE(connectTo(peer.port()));
  const std::string missing = dir.path() + "/missing.bmp";
  EXPECT_EQ(downloadbmp(missing.c_str(), "A"), 0);
  EXPECT_EQ(sendfile(missing.c_str()), 0);
  paloma::connection().isOpen = 0;
  EXPECT_EQ(downloadbmp(image.c_str(), "A"), 0);
  EXPECT_EQ(sendfile(missing.c_str()), 0);
  disconnect();
  paloma_set_message_handler(nullptr, nullptr);

  EXPECT_EQ(peer.nextClosed(10000).bytes, "");
  EXPECT_EQ(g_messages, (std::vector<std::string>{"Error Message|Could not open file",
                                                  "Error Message|Could not open file"}));
}

TEST(FilesLoopback, DirectoryFailsAtTheOpenForEveryFileFunctionAndSlotTwin) {
  ScratchDir dir;
  const char* path = dir.path().c_str();
  g_messages.clear();
  paloma_set_message_handler(&recordMessage, nullptr);

  LoopbackPeer peer;  // collects what arrives until the library closes
  ASSERT_TRUE(connectTo(peer.port()));
  EXPECT_EQ(downloadbmp(path, "A.BMP"), 0);
  EXPECT_EQ(downloadpcx(path, "A.PCX"), 0);
  EXPECT_EQ(downloadmemory("E", path, "A.PCX"), 0);
  EXPECT_EQ(sendfile(path), 0);
  // The slot twins read the file before they look at the slot.
  EXPECT_EQ(sendfilemult(1, path), 0);
  EXPECT_EQ(downloadbmpmult(2, path, "A.BMP"), 0);
  EXPECT_EQ(downloadpcxmult(3, path, "A.PCX"), 0);
  EXPECT_EQ(downloadmemorymult(4, "E", path, "A.PCX"), 0);
  disconnect();
  paloma_set_message_handler(nullptr, nullptr);

  EXPECT_EQ(peer.nextClosed(10000).bytes, "");
  EXPECT_EQ(g_messages, std::vector<std::string>(8, "Error Message|Could not open file"));
}

TEST(FilesLoopback, SaveToTextLeavesExactlyTheNewText) {
  ScratchDir dir;
  dir.write("testfile.txt", "0123456789");
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  auto content = [] {
    std::ifstream in("testfile.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(savetotext_array("abc"), 0);
  EXPECT_EQ(content(), "abc");
  EXPECT_EQ(savetotext(u"abc"), 0);
  EXPECT_EQ(content(), "a\0b\0c\0"s);

  // A symbolic link named testfile.txt is never written through: its
  // target keeps its content and the last error says why.
  const std::string target = dir.write("precious.txt", "keep me");
  std::remove("testfile.txt");
  ASSERT_EQ(symlink(target.c_str(), "testfile.txt"), 0);
  for (int wide = 0; wide < 2; ++wide) {
    paloma_clear_error();
    EXPECT_EQ(wide ? savetotext(u"gone") : savetotext_array("gone"), 0);
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
    EXPECT_NE(std::string(paloma_last_error()).find("symbolic link"), std::string::npos)
        << paloma_last_error();
  }
  ASSERT_EQ(chdir(old), 0);
}

// A file of several blocks goes out whole and in order on loopback TCP (the
// kernel moves it after its first block), and on a file port.
TEST(FilesLoopback, LargeFilesArriveWhole) {
  ScratchDir dir;
  std::string data(5 * 1024 * 1024 + 333, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 11);
  std::string big = dir.write("big.pcx", data);

  LoopbackPeer::Options keep;
  keep.lifeMs = 30000;
  LoopbackPeer peer(keep);
  ASSERT_NE(peer.port(), 0);
  ASSERT_TRUE(connectTo(peer.port()));
  EXPECT_EQ(downloadpcx(big.c_str(), "BIG.PCX"), 1);
  EXPECT_EQ(sendfile(big.c_str()), 1);
  const std::string header = "DOWNLOAD \"BIG.PCX\"," + std::to_string(data.size()) + ",";
  const std::string want = header + data + "\r\n\0"s + data + "\r\n\0"s;
  EXPECT_TRUE(peer.waitReceived(want.size(), 20000));
  EXPECT_TRUE(peer.received() == want) << "received " << peer.received().size() << " of "
                                        << want.size() << " bytes";
  disconnect();

  // A pty opened as a serial port, read on a thread of its own: the plain
  // writes (sendfile, downloadmemory) and the overlapped ones (downloadbmp).
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ASSERT_EQ(openport(ptsname(master)), 1);
  // A pty is slow: a file just over one block.
  data.resize(1024 * 1024 + 4099);
  big = dir.write("serial.pcx", data);
  const std::string serialWant = data + "\r\n" + "DOWNLOAD E,\"BIG.PCX\"," +
                                 std::to_string(data.size()) + "," + data + "\r\n" +
                                 "DOWNLOAD \"BIG.BMP\"," + std::to_string(data.size()) + "," +
                                 data + "\r\n";
  std::string got;
  std::thread reader([&] {
    // At most 60 s, or until every byte is in.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (got.size() < serialWant.size() && std::chrono::steady_clock::now() < end) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[65536];
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
  });
  EXPECT_EQ(sendfile(big.c_str()), 1);
  EXPECT_EQ(downloadmemory("E", big.c_str(), "BIG.PCX"), 1);
  EXPECT_EQ(downloadbmp(big.c_str(), "BIG.BMP"), 1);
  reader.join();
  EXPECT_TRUE(got == serialWant) << "received " << got.size() << " of " << serialWant.size();
  closeport();
  close(master);
}

// A printer's side that accepts one connection on 127.0.0.1 and reads it
// `piece` bytes every `everyMs` (never, when `piece` is 0), keeping what it
// read, until the test ends it.
class PacedReader {
 public:
  PacedReader(std::size_t piece, int everyMs) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A printer's small receive buffer: one that never reads takes nothing
    // more once it is full (the system's own may grow to tens of megabytes).
    if (piece == 0) {
      int bytes = 64 * 1024;
      setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, piece, everyMs] {
      int c = -1;
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!stop_ && std::chrono::steady_clock::now() < end) {
        if (c < 0) {
          pollfd p{listener_, POLLIN, 0};
          if (poll(&p, 1, 20) > 0) c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
          continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
        if (piece == 0) continue;
        std::vector<char> buf(piece);
        ssize_t n = recv(c, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n > 0) {
          std::lock_guard<std::mutex> g(m_);
          got_.append(buf.data(), static_cast<std::size_t>(n));
        }
      }
      if (c >= 0) close(c);
    });
  }
  ~PacedReader() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  int port() const { return port_; }
  std::string got() {
    std::lock_guard<std::mutex> g(m_);
    return got_;
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::string got_;
  std::thread thread_;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The rule for every bulk write: it fails once no byte has moved for the
// stall bound (the connection's 1000 ms), and goes on as long as the
// printer keeps taking bytes, however slowly.
TEST(FilesLoopback, BulkWritesFailWhenNothingMovesAndWaitForASlowPrinter) {
  ScratchDir dir;
  std::string data(12 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::string big = dir.write("big.prn", data);
  {
    PacedReader never(0, 50);
    ASSERT_TRUE(connectTo(never.port()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sendfile(big.c_str()), 0);
    EXPECT_LT(secondsSince(start), 2.5);
    disconnect();
  }
  {
    PacedReader never(0, 50);
    ASSERT_TRUE(connectTo(never.port()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sendBinaryDataNoCRLF(reinterpret_cast<const unsigned char*>(data.data()),
                                   8 * 1024 * 1024),
              0);
    EXPECT_LT(secondsSince(start), 2.5);
    disconnect();
  }
  // 64 KB every 150 ms: far slower than the kernel's buffers fill, so every
  // wait for room outlasts a second while the printer still takes bytes.
  const std::string slow = data.substr(0, 3 * 1024 * 1024 / 2);
  big = dir.write("slow.prn", slow);
  {
    PacedReader reader(64 * 1024, 150);
    ASSERT_TRUE(connectTo(reader.port()));
    EXPECT_EQ(sendfile(big.c_str()), 1) << paloma_last_error();
    EXPECT_EQ(sendBinaryDataNoCRLF(reinterpret_cast<const unsigned char*>(slow.data()),
                                   static_cast<int>(slow.size())),
              1)
        << paloma_last_error();
    const std::string want = slow + "\r\n\0"s + slow;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         reader.got().size() < want.size() && std::chrono::steady_clock::now() < end;)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(reader.got() == want) << "received " << reader.got().size() << " of " << want.size();
    disconnect();
  }
}

}  // namespace
