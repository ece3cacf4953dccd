// On the real backend, a connect that fails leaves no descriptor open, for
// the connection and for a slot alike.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace {

int openDescriptors() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

TEST(ConnectionEndToEnd, AFailedConnectLeavesNoDescriptorOpen) {
  int port = 0;
  {
    paloma::test::LoopbackPeer gone;
    port = gone.port();
  }  // nobody listens there now
  ASSERT_NE(port, 0);
  const int before = openDescriptors();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(openethernet("127.0.0.1", port), 0);
    EXPECT_EQ(openethernetmult(2, "127.0.0.1", port), 0);
  }
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
