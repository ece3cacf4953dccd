// Why a call failed, on the real backend: refused and closed connections and
// a silent printer on 127.0.0.1, a missing file, names that open nothing; and
// the text of sendcommandutf8 in the C locale and in a UTF-8 locale.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "paloma.h"
#include "support/loopback_peer.h"

// Fontconfig keeps its patterns through encoded offsets that the leak
// checker cannot follow, so its caches look unreachable at exit.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

using paloma::test::LoopbackPeer;

// A loopback port on which nothing listens: one the system just handed out
// and took back.
int closedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  close(fd);
  return port;
}

class RealFailures : public ::testing::Test {
 protected:
  void SetUp() override { paloma_clear_error(); }
  void TearDown() override {
    closeethernetport(0);
    paloma_clear_error();
  }
  static std::string reason() { return paloma_last_error(); }
};

TEST_F(RealFailures, OpenersSayWhatDidNotOpen) {
  const int port = closedPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(openethernet("127.0.0.1", port), 0);
  EXPECT_EQ(reason(), "connect to 127.0.0.1:" + std::to_string(port) + ": " +
                          std::strerror(ECONNREFUSED));
  EXPECT_EQ(paloma_last_error_code(), ECONNREFUSED);

  EXPECT_EQ(openport("labels/x.prn"), 0);
  EXPECT_EQ(reason(),
            "no spooler printer named \"labels/x.prn\", and \"labels/x.prn\" is not a port name "
            "(USB, LPT1 to LPT4, COM<n> or a /dev/ device path)");
  EXPECT_EQ(paloma_last_error_code(), 0);

  EXPECT_EQ(openport("/dev/ttyPALOMA-none"), 0);
  EXPECT_EQ(reason(), std::string("open \"/dev/ttyPALOMA-none\": ") + std::strerror(ENOENT));
  EXPECT_EQ(paloma_last_error_code(), ENOENT);

  // A COM name is opened as the terminal device it maps to: that device is
  // the one named, beside the name given.
  EXPECT_EQ(openport("COM200"), 0);
  EXPECT_EQ(reason().rfind("open \"/dev/ttyS199\" (for \"\\\\.\\COM200\"): ", 0), 0u) << reason();
}

TEST_F(RealFailures, AFileWhoseSizeReadsZeroButHasContentIsRefused) {
  LoopbackPeer peer;
  ASSERT_EQ(openethernet("127.0.0.1", peer.port()), 1);
  EXPECT_EQ(sendfile("/proc/self/maps"), 0);
  EXPECT_NE(reason().find("\"/proc/self/maps\" gives its size as 0 bytes but has content"),
            std::string::npos)
      << reason();
}

TEST_F(RealFailures, MissingFileIsNamed) {
  LoopbackPeer peer;
  ASSERT_EQ(openethernet("127.0.0.1", peer.port()), 1);
  EXPECT_EQ(sendfile("/tmp/paloma-no-such-dir/missing.prn"), 0);
  EXPECT_EQ(reason(), std::string("open \"/tmp/paloma-no-such-dir/missing.prn\": ") +
                          std::strerror(ENOENT));
  EXPECT_EQ(paloma_last_error_code(), ENOENT);
}

TEST_F(RealFailures, WritesToAClosedPeerSaySo) {
  // The peer closes every connection as soon as it is made.
  LoopbackPeer peer([](const std::string&) { return LoopbackPeer::Reply{"", true}; });
  ASSERT_EQ(openethernet("127.0.0.1", peer.port()), 1);
  ASSERT_TRUE(peer.nextClosed(5000).ended);
  // The first writes may still be taken by the system; a later one fails.
  int result = 1;
  for (int i = 0; i < 50 && result == 1; ++i) {
    result = sendcommand("CLS");
    if (result == 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(result, 0);
  EXPECT_EQ(reason(), "the printer closed the connection");
  EXPECT_TRUE(paloma_last_error_code() == EPIPE || paloma_last_error_code() == ECONNRESET)
      << paloma_last_error_code();
}

TEST_F(RealFailures, QueriesSayWhyNoReplyCame) {
  {
    LoopbackPeer silent;
    ASSERT_EQ(openethernet("127.0.0.1", silent.port()), 1);
    EXPECT_STREQ(ethernetprinterstatus(), "-1");
    EXPECT_EQ(reason(), "no reply within 1 s");
  }
  {
    // Closes the connection once the request has come.
    LoopbackPeer closing([](const std::string& got) {
      return LoopbackPeer::Reply{"", got.find('\0') != std::string::npos};
    });
    ASSERT_EQ(openethernet("127.0.0.1", closing.port()), 1);
    EXPECT_STREQ(ethernetprinterstatus(), "-1");
    EXPECT_EQ(reason(), "the printer closed the connection");
  }
}

TEST_F(RealFailures, AMissingFaceIsToldAsDebugDetail) {
  LoopbackPeer peer(LoopbackPeer::Options{nullptr, /*keepBytes=*/false});
  ASSERT_EQ(openethernet("127.0.0.1", peer.port()), 1);
  std::vector<std::string> debug;
  auto handler = [](const char* text, const char*, int icon, void* user) {
    if (icon == PALOMA_ICON_DEBUG) static_cast<std::vector<std::string>*>(user)->push_back(text);
  };
  paloma_message_handler previous = paloma_set_message_handler(handler, &debug);
  paloma_set_log_level(PALOMA_LOG_DEBUG);
  const int result = windowsfont(10, 10, 24, 0, 0, 0, "No Such Face Paloma", "Hi");
  paloma_set_log_level(PALOMA_LOG_MESSAGES);
  paloma_set_message_handler(previous, nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(paloma_last_error(), "");
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(debug[0].rfind("font \"No Such Face Paloma\" is not installed; \"", 0), 0u)
      << debug[0];
}

// The bytes sendcommandutf8 puts on the wire for `text` in the current locale.
std::string utf8Wire(const char* text) {
  LoopbackPeer peer;
  if (openethernet("127.0.0.1", peer.port()) != 1 || sendcommandutf8(text) != 1) return "failed";
  const std::size_t end = 3;  // CR LF NUL
  const std::size_t want = std::strlen(text);
  peer.waitReceived(want + end, 5000);
  closeethernetport(0);
  std::string got = peer.received();
  return got.size() >= end ? got.substr(0, got.size() - end) : got;
}

TEST_F(RealFailures, Utf8CommandsInTheCLocaleAndInAUtf8Locale) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  // A program that never set a locale: its UTF-8 text goes out unchanged...
  EXPECT_EQ(utf8Wire("Z\xC3\xBCrich"), "Z\xC3\xBCrich");
  // ...and bytes that are no UTF-8 are read one by one as ISO-8859-1.
  EXPECT_EQ(utf8Wire("Z\xFCrich"), "Z\xC3\xBCrich");
  if (std::setlocale(LC_CTYPE, "C.UTF-8")) {
    // A locale of its own character set keeps it: there the lone byte is no
    // character and reads as U+FFFD.
    EXPECT_EQ(utf8Wire("Z\xC3\xBCrich"), "Z\xC3\xBCrich");
    EXPECT_EQ(utf8Wire("Z\xFCrich"), "Z\xEF\xBF\xBDrich");
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
