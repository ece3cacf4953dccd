// The console: a stream nobody reads never holds up a caller; what could not
// wait is dropped, counted and told once the stream is read again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "console.h"

namespace vprinter {
namespace {

TEST(Console, AnUnreadPipeNeverBlocksACallerAndDropsAreTold) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* out = fdopen(fds[1], "w");
  ASSERT_NE(out, nullptr);
  {
    Console console(out, 4096);
    const std::string line(99, 'x');
    // Far more than the pipe and the queue hold, for half a second, while
    // nobody reads: no call waits for the stream.
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration longest{};
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500)) {
      auto t = std::chrono::steady_clock::now();
      console.say(line);
      longest = std::max(longest, std::chrono::steady_clock::now() - t);
    }
    EXPECT_LT(longest, std::chrono::milliseconds(100));
    EXPECT_GT(console.dropped(), 0u);
    EXPECT_FALSE(console.flush(100));  // the stream still takes nothing

    // Read from now on: every queued line arrives, then the count of drops.
    std::string got;
    std::thread reader([&] {
      char buf[65536];
      for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
           std::chrono::steady_clock::now() < end && got.find("dropped") == std::string::npos;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      }
    });
    console.say("after");  // wakes the writer even when the queue was empty
    reader.join();
    EXPECT_TRUE(console.flush(2000));
    EXPECT_NE(got.find(line + "\n"), std::string::npos);
    EXPECT_NE(got.find(" console line(s) dropped: standard output was not read\n"),
              std::string::npos)
        << got.substr(got.size() > 300 ? got.size() - 300 : 0);
  }
  std::fclose(out);
  close(fds[0]);
}

}  // namespace
}  // namespace vprinter
