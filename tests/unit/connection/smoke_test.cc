#include <gtest/gtest.h>
#include "paloma.h"
#include "support/fake_os.h"
TEST(Smoke, Builds) { paloma::test::FakeOsScope s; EXPECT_EQ(sendcommand("CLS"), 0); }
