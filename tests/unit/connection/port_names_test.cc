// Every parallel port name opens its own device, on both name flavours.
#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

TEST(OpenPort, EachParallelPortOpensItsOwnDevice) {
  for (const char* name : {"LPT1", "LPT2", "LPT3", "LPT4"}) {
    SCOPED_TRACE(name);
    test::FakeOsScope scope;
    test::FakeOs& f = scope.fake();
    f.addDevice(name);
    const paloma_wchar wide[] = {u'l', u'p', u't', static_cast<paloma_wchar>(name[3]), 0};
    ASSERT_EQ(openportW(wide), 1);
    EXPECT_EQ(f.targetOf(connection().handle), name);
    EXPECT_EQ(sendcommand("CLS"), 1);
    EXPECT_EQ(f.wire(name), "CLS\r\n");
    ASSERT_EQ(openport(name), 1);
    EXPECT_EQ(connection().lptMode, 1);
    EXPECT_EQ(f.targetOf(connection().handle), name);
    EXPECT_TRUE(f.messages().empty());
  }
}

}  // namespace
}  // namespace paloma
