// The failure record is replaced whole by each failure, emptied whole by
// paloma_clear_error, and kept apart per thread: an OS error number never
// outlives the failure it belongs to.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "paloma.h"

namespace {

TEST(LastError, EachFailureAndEachClearSetsTextAndCodeTogether) {
  paloma_clear_error();
  EXPECT_STREQ(paloma_last_error(), "");
  EXPECT_EQ(paloma_last_error_code(), 0);

  // A failure with an OS error behind it.
  EXPECT_EQ(std::string(opencomport("/dev/ttyPALOMA9")), "0");
  const std::string first = paloma_last_error();
  EXPECT_NE(first.find("/dev/ttyPALOMA9"), std::string::npos) << first;
  EXPECT_EQ(paloma_last_error_code(), ENOENT);

  // A failure without one: the old number goes with the old text.
  EXPECT_EQ(sendcommand(nullptr), 0);
  EXPECT_STRNE(paloma_last_error(), first.c_str());
  EXPECT_NE(std::string(paloma_last_error()), "");
  EXPECT_EQ(paloma_last_error_code(), 0);

  EXPECT_EQ(std::string(opencomport("/dev/ttyPALOMA9")), "0");
  EXPECT_EQ(paloma_last_error_code(), ENOENT);
  paloma_clear_error();
  EXPECT_STREQ(paloma_last_error(), "");
  EXPECT_EQ(paloma_last_error_code(), 0);

  // Another thread has its own record.
  EXPECT_EQ(std::string(opencomport("/dev/ttyPALOMA9")), "0");
  std::string otherText = "unset";
  int otherCode = -1;
  std::thread([&] {
    otherText = paloma_last_error();
    otherCode = paloma_last_error_code();
  }).join();
  EXPECT_EQ(otherText, "");
  EXPECT_EQ(otherCode, 0);
  EXPECT_EQ(paloma_last_error_code(), ENOENT);
  paloma_clear_error();
}

}  // namespace
