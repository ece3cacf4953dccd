// The network information queries that check for errors answer "-1" when the
// printer's reply cannot be received, and clear the error they reported.
#include <string>

#include "info_fixture.h"
#include "paloma.h"

namespace paloma::test {
namespace {

using InfoNetworkErrorTest = InfoTest;

TEST_F(InfoNetworkErrorTest, CheckingQueriesAnswerMinusOneWhenTheReceiveFails) {
  struct Query {
    const char* name;
    const char* (*call)();
  };
  const Query queries[] = {
      {"name", ethernetprintername},           {"dpi", ethernetprinterdpi},
      {"file", ethernetprinterfile},           {"free memory", ethernetprinterfreememory},
      {"mileage", ethernetprintermileage},     {"quantity", ethernetprinterquantity},
      {"serial", ethernetprinterserial},       {"complete status", ethernetprintercompletestatus},
  };
  openNetwork();
  for (const Query& q : queries) {
    SCOPED_TRACE(q.name);
    f.queueRecvError(kPeer, kNetConnReset);
    EXPECT_STREQ(q.call(), "-1");
    EXPECT_EQ(replies().NetworkError, 0);
    // A printer that answers again is heard again.
    f.queueRecv(kPeer, std::string("\x02") + "OK\x03");
    EXPECT_STRNE(q.call(), "-1");
  }
}

}  // namespace
}  // namespace paloma::test
