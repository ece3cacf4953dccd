// Text reaches Pango as UTF-8: every encoded length at its bounds, surrogate
// pairs joined, a lone surrogate replaced, and a NUL unit ending the text.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/posix_os.h"

namespace paloma {
namespace {

TEST(PosixText, Utf16BecomesUtf8AtEveryLengthBound) {
  struct Row {
    std::u16string in;
    std::string out;
  };
  const Row rows[] = {
      {u"A\u007F", "A\x7F"},
      {u"\u0080", "\xC2\x80"},
      {u"\u0416", "\xD0\x96"},  // Cyrillic Zhe
      {u"\u07FF", "\xDF\xBF"},
      {u"\u0800", "\xE0\xA0\x80"},
      {u"\u4E2D", "\xE4\xB8\xAD"},
      {u"\uFFFD", "\xEF\xBF\xBD"},
      {u"\U00010000", "\xF0\x90\x80\x80"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string(1, u'\xD800') + u"A", "\xEF\xBF\xBD" "A"},
      {u"A" + std::u16string(1, u'\xDC00'), "A\xEF\xBF\xBD"},
      {std::u16string(u"AB\0C", 4), "AB"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.out);
    EXPECT_EQ(posix::utf8FromUtf16(r.in), r.out);
  }
}

}  // namespace
}  // namespace paloma
