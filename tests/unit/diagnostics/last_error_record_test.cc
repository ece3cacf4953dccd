// The failure record of the calling thread: a successful call leaves it as
// it was, clearing empties it, and each thread keeps a record of its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

void openLpt(FakeOs& f) {
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
}

TEST(LastError, SuccessKeepsTheReasonAndClearingForgetsIt) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  EXPECT_EQ(openport("nope"), 0);
  const std::string reason = paloma_last_error();
  ASSERT_FALSE(reason.empty());
  // Successful calls of every kind leave the record alone.
  openLpt(f);
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(printlabel("1", "1"), 1);
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(paloma_last_error(), reason);
  paloma_clear_error();
  EXPECT_STREQ(paloma_last_error(), "");
  EXPECT_EQ(paloma_last_error_code(), 0);
}

TEST(LastError, EachThreadKeepsItsOwn) {
  FakeOsScope scope;
  EXPECT_EQ(openethernet("127.0.0.1", 1), 0);
  std::string other = "unset";
  int otherCode = -1;
  std::thread t([&] {
    other = paloma_last_error();
    otherCode = paloma_last_error_code();
  });
  t.join();
  EXPECT_EQ(other, "");
  EXPECT_EQ(otherCode, 0);
  EXPECT_EQ(paloma_last_error_code(), ECONNREFUSED);
}

}  // namespace
}  // namespace paloma
