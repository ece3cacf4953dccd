// Debug detail (which face stood in for a font, and the like): it reaches
// the message handler only when the debug level is asked for, and it is
// never recorded as a failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paloma.h"
#include "platform/last_error.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
void resetLibraryStateForTest() {
  test::resetLibraryState();
  paloma_clear_error();
}

TEST(LastError, DebugDetailReachesTheHandlerOnlyWhenAskedFor) {
  struct Seen {
    std::string text, caption;
    int icon = -1, count = 0;
  } seen;
  auto handler = [](const char* text, const char* caption, int icon, void* user) {
    auto* s = static_cast<Seen*>(user);
    s->text = text;
    s->caption = caption;
    s->icon = icon;
    ++s->count;
  };
  paloma_message_handler previous = paloma_set_message_handler(handler, &seen);
  debugMessage("detail");
  EXPECT_EQ(seen.count, 0) << "debug detail is off by default";
  EXPECT_EQ(paloma_set_log_level(PALOMA_LOG_DEBUG), PALOMA_LOG_MESSAGES);
  debugMessage("detail");
  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.text, "detail");
  EXPECT_EQ(seen.caption, "Debug");
  EXPECT_EQ(seen.icon, PALOMA_ICON_DEBUG);
  EXPECT_EQ(paloma_set_log_level(PALOMA_LOG_MESSAGES), PALOMA_LOG_DEBUG);
  paloma_set_message_handler(previous, nullptr);
}

// A fake whose font lookup answers with a face of its own.
class SubstitutingOs : public FakeOs {
 public:
  std::string fontFaceUsed(const FontSpec& font) override {
    ++lookups;
    return font.faceName == "Missing Face" ? "Stand In" : font.faceName;
  }
  int lookups = 0;
};

TEST(LastError, ASubstitutedFaceIsDebugDetailNotAFailure) {
  resetLibraryStateForTest();
  SubstitutingOs f;
  setOs(&f);
  std::vector<std::string> debug;
  auto handler = [](const char* text, const char*, int icon, void* user) {
    if (icon == PALOMA_ICON_DEBUG) static_cast<std::vector<std::string>*>(user)->push_back(text);
  };
  paloma_message_handler previous = paloma_set_message_handler(handler, &debug);
  f.addDevice("LPT1");
  ASSERT_EQ(openport("LPT1"), 1);
  f.setTextExtent(16, 16);
  paloma_clear_error();

  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Missing Face", "Hi"), 1);
  EXPECT_EQ(f.lookups, 0) << "the face is looked for only when debug detail is asked for";
  paloma_set_log_level(PALOMA_LOG_DEBUG);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Missing Face", "Hi"), 1);
  EXPECT_EQ(windowsfont(0, 0, 16, 0, 0, 0, "Stand In", "Hi"), 1);
  paloma_set_log_level(PALOMA_LOG_MESSAGES);
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(debug[0], "font \"Missing Face\" is not installed; \"Stand In\" stands in for it");
  EXPECT_STREQ(paloma_last_error(), "") << "a substituted face is no failure";

  paloma_set_message_handler(previous, nullptr);
  setOs(nullptr);
  resetLibraryStateForTest();
}

}  // namespace
}  // namespace paloma
