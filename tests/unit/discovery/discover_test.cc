// Discovery that says who answered, on the fake: which answers count, one
// entry per sender, the wait, the room the caller gave, and the setup
// failures with their reasons.
#include <gtest/gtest.h>

#include <cerrno>

#include <string>
#include <vector>

#include "discovery/broadcast.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOsScope;

constexpr std::uint32_t kHostA = 0x0A000105;  // 10.0.1.5
constexpr std::uint32_t kHostB = 0xC0A80002;  // 192.168.0.2

TEST(Discover, EachSenderOnceWithItsAddressPortAndAnswer) {
  FakeOsScope scope;
  auto& f = scope.fake();
  const std::string probe(reinterpret_cast<const char*>(kDiscoveryProbe), kDiscoveryProbeSize);
  f.queueDatagramFrom(0x7F000001, 22368, probe);               // our own probe
  f.queueDatagramFrom(kHostA, 22368, "first answer of A, long enough to count");
  f.queueDatagramFrom(kHostB, 4000, std::string(32, 'b'));    // as long as the probe
  f.queueDatagramFrom(kHostA, 22368, "second answer of A, which is not a new printer");
  f.queueDatagramFrom(kHostB, 4001, std::string(600, 'c'));   // cut to 512 bytes
  f.queueDatagramFrom(kHostA, 22369, std::string(33, 'd'));   // same host, other port

  paloma_printer_found found[8];
  ASSERT_EQ(paloma_discover(1500, found, 8), 3);
  EXPECT_STREQ(found[0].address, "10.0.1.5");
  EXPECT_EQ(found[0].port, 22368);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(found[0].answer), found[0].length),
            "first answer of A, long enough to count");
  EXPECT_STREQ(found[1].address, "192.168.0.2");
  EXPECT_EQ(found[1].port, 4001);
  EXPECT_EQ(found[1].length, 512);
  EXPECT_EQ(found[1].answer[511], 'c');
  EXPECT_STREQ(found[2].address, "10.0.1.5");
  EXPECT_EQ(found[2].port, 22369);

  // The probe went out once, as broadcast sends it, and the wait was kept
  // to the end even after answers came.
  auto w = f.writes("255.255.255.255:22368");
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].data, probe);
  EXPECT_EQ(f.entries("bind")[0].value, 22368);
  EXPECT_GE(f.now(), 1500u);
  EXPECT_LE(f.now(), 1600u);
  EXPECT_EQ(f.entries("close-socket").size(), 1u);
  EXPECT_TRUE(f.messages().empty());
}

TEST(Discover, SilenceGivesZeroWithinTheWaitAndAFullListEndsEarly) {
  {
    FakeOsScope scope;
    paloma_printer_found found[2];
    EXPECT_EQ(paloma_discover(700, found, 2), 0);
    EXPECT_GE(scope.fake().now(), 700u);
    EXPECT_LE(scope.fake().now(), 800u);
  }
  {
    FakeOsScope scope;
    scope.fake().queueDatagramFrom(kHostA, 1, std::string(40, 'a'));
    scope.fake().queueDatagramFrom(kHostB, 2, std::string(40, 'b'));
    paloma_printer_found found[1];
    EXPECT_EQ(paloma_discover(5000, found, 1), 1);
    EXPECT_STREQ(found[0].address, "10.0.1.5");
    EXPECT_LT(scope.fake().now(), 5000u);
  }
  {
    // A negative wait is no wait, not an endless one.
    FakeOsScope scope;
    paloma_printer_found found[1];
    EXPECT_EQ(paloma_discover(-5, found, 1), 0);
    EXPECT_LE(scope.fake().now(), 100u);
  }
}

TEST(Discover, SetupFailuresGiveMinusOneWithAReasonAndNoMessageBox) {
  paloma_printer_found found[1];
  struct Case {
    const char* what;
    void (*arrange)(test::FakeOs&);
    const char* reasonPart;
  };
  const Case cases[] = {
      {"no socket", [](test::FakeOs& f) { f.failSocket(true); }, "cannot create"},
      {"port taken", [](test::FakeOs& f) { f.failBind(true); }, "22368"},
      {"probe refused", [](test::FakeOs& f) { f.failWritesAfter("255.255.255.255:22368", 0); },
       "probe could not be sent"},
  };
  for (const Case& c : cases) {
    FakeOsScope scope;
    c.arrange(scope.fake());
    paloma_clear_error();
    EXPECT_EQ(paloma_discover(1000, found, 1), -1) << c.what;
    EXPECT_NE(std::string(paloma_last_error()).find(c.reasonPart), std::string::npos)
        << c.what << ": " << paloma_last_error();
    EXPECT_TRUE(scope.fake().messages().empty()) << c.what;
    EXPECT_EQ(scope.fake().entries("recvfrom").size(), 0u) << c.what;
    // A probe the system refused carries the system's error and its text.
    if (std::string(c.what) == "probe refused") {
      EXPECT_EQ(paloma_last_error_code(), EIO);
      EXPECT_NE(std::string(paloma_last_error()).find("route?): "), std::string::npos)
          << paloma_last_error();
    }
  }
  {
    FakeOsScope scope;
    EXPECT_EQ(paloma_discover(1000, nullptr, 3), -1);
    EXPECT_EQ(paloma_discover(1000, found, -1), -1);
    EXPECT_TRUE(scope.fake().writes().empty());  // nothing was sent
  }
}

}  // namespace
}  // namespace paloma
