// compareport and returndriver on a port that names a printer on a print
// server: the server's answer decides, the local list is not asked, and a
// printer the server lacks is refused as a local port without a printer is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/connection_state.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;
using test::FakeOsScope;

// A backend that knows the queue "labels" on server "srv" only.
void serveLabels(FakeOs& f) {
  f.serverLookupHook = [](std::string_view port, SpoolerPrinter* out) {
    if (port.substr(0, 2) != "\\\\" && port.substr(0, 2) != "//")
      return Os::ServerLookup::NotServerName;
    if (port != "\\\\srv\\labels") return Os::ServerLookup::Missing;
    *out = SpoolerPrinter{std::string(port), std::string(port)};
    return Os::ServerLookup::Found;
  };
}

TEST(ServerPort, FoundOnTheServerOpensWithoutTheLocalList) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  serveLabels(f);
  f.addPrinter("\\\\srv\\labels", "socket://local-twin");
  f.addPrinter("Local", "\\\\srv\\labels");  // a local printer listing that port
  ASSERT_EQ(compareport("\\\\srv\\labels"), 1);
  EXPECT_EQ(f.targetOf(connection().handle), "spooler:\\\\srv\\labels");
  EXPECT_TRUE(f.entries("spooler-list").empty());
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(f.wire("spooler:\\\\srv\\labels"), "CLS\r\n");
  EXPECT_EQ(closeport(), 1);

  EXPECT_STREQ(returndriver("\\\\srv\\labels"), "\\\\srv\\labels");
}

TEST(ServerPort, MissingOnTheServerIsRefusedLikeAnEmptyPort) {
  FakeOsScope scope;
  FakeOs& f = scope.fake();
  serveLabels(f);
  f.addPrinter("Local", "//srv/other");  // never consulted for a server name
  EXPECT_EQ(compareport("//srv/other"), 0);
  EXPECT_EQ(f.messages(),
            (std::vector<std::string>{"Error Message|//srv/other",
                                      "Error Message|Can't Find Printer Driver, Please check Driver Name"}));
  EXPECT_EQ(connection().isOpen, 0);
  EXPECT_TRUE(f.entries("spooler-open").empty());
  EXPECT_STREQ(returndriver("//srv/other"), "-1");

  // Plain ports still go to the local list.
  f.addPrinter("Plain", "socket://h");
  EXPECT_EQ(compareport("socket://h"), 1);
  EXPECT_EQ(f.targetOf(connection().handle), "spooler:Plain");
}

}  // namespace
}  // namespace paloma
