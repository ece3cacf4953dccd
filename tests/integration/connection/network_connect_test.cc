// Connecting on the real backend: a failed connect leaves no descriptor
// behind, and a printer that never answers the connection is given up
// within the connect bound (5 seconds).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "paloma.h"
#include "support/posix/process.h"

namespace {

using paloma::test::openDescriptors;

// A listening socket on 127.0.0.1 with the given backlog; its port in *port.
int listener(int backlog, int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

TEST(NetworkConnect, AFailedConnectLeavesNoDescriptor) {
  int port = 0;
  int fd = listener(1, &port);
  ASSERT_GE(fd, 0);
  close(fd);  // nobody listens on the port any more: connects are refused
  const int before = openDescriptors();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(openethernet("127.0.0.1", port), 0);
    EXPECT_EQ(openethernetmult(2, "127.0.0.1", port), 0);
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(NetworkConnect, APrinterThatNeverAnswersIsGivenUpWithinTheBound) {
  // A backlog of 0 holds one connection that nobody accepts; with the queue
  // full, the system drops further connection requests unanswered.
  int port = 0;
  int fd = listener(0, &port);
  ASSERT_GE(fd, 0);
  int first = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  ASSERT_EQ(connect(first, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  const int before = openDescriptors();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(openethernet("127.0.0.1", port), 0);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_GE(ms, 4000) << "the request was answered: the queue was not full";
  EXPECT_LE(ms, 6500) << "the connect bound is 5 seconds";
  EXPECT_EQ(openDescriptors(), before);
  close(first);
  close(fd);
}

}  // namespace
