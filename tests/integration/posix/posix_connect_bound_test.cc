// A connect to a host that does not answer ends within its bound. On
// loopback, a listener whose accept queue is full drops further SYNs, so a
// connect to it is never answered.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/os.h"
#include "platform/posix/posix_os.h"

namespace paloma {
namespace {

TEST(PosixTcp, AConnectNobodyAnswersEndsWithinFiveSeconds) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(0x7F000001u);
  socklen_t len = sizeof sa;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len), 0);
  // One connection fills the queue of a backlog of 0; nobody accepts it.
  int first = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(first, 0);
  ASSERT_EQ(connect(first, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);

  Os& os = platformOs();
  Socket s = os.tcpSocket();
  ASSERT_NE(s, kInvalidSocket);
  const auto started = std::chrono::steady_clock::now();
  NetResult c = os.tcpConnect(s, 0x7F000001u, ntohs(sa.sin_port));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  os.closeSocket(s);
  close(first);
  close(listener);
  EXPECT_EQ(c.result, -1);
  EXPECT_EQ(c.error, kNetTimedOut);  // waited out, not refused
  EXPECT_LT(took.count(), 8000);
}

}  // namespace
}  // namespace paloma
