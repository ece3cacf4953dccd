// Every opener, refused for each reason it can be refused, leaves this process
// with the descriptors it had before: none is kept by a failed open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "paloma.h"
#include "support/posix/process.h"

namespace {

using paloma::test::openDescriptors;

struct Refusal {
  const char* what;
  std::function<bool()> refused;  // runs the opener; true when it said no
};

// Each refusal once to warm up (the print scheduler's client and the USB
// library keep a connection of their own once used), then three times
// counted.
void expectNoDescriptorKept(const std::vector<Refusal>& refusals) {
  for (const Refusal& r : refusals) r.refused();
  for (const Refusal& r : refusals) {
    const int before = openDescriptors();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(r.refused()) << r.what;
    EXPECT_EQ(openDescriptors(), before) << r.what;
  }
}

TEST(OpenerRefusals, FilesAndDevicesThatCannotBeThePort) {
  char dir[] = "/tmp/paloma-refusals-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string folder = dir;
  const std::string regular = folder + "/regular.prn";
  { std::FILE* f = std::fopen(regular.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
  auto no = [](int r) { return r != 1; };
  auto noText = [](const char* r) { return std::string(r) != "1"; };
  expectNoDescriptorKept({
      // A character device that is no terminal is opened, looked at and closed.
      {"opencomport /dev/null", [&] { return noText(opencomport("/dev/null")); }},
      {"opencomport missing", [&] { return noText(opencomport("/dev/ttyPALOMA9")); }},
      {"opencomport regular file", [&] { return noText(opencomport(regular.c_str())); }},
      {"opencomport folder", [&] { return noText(opencomport(folder.c_str())); }},
      {"openport missing terminal", [&] { return no(openport("/dev/ttyPALOMA9")); }},
      {"openport missing printer file", [&] { return no(openport("/dev/usb/lp99")); }},
      // A folder is opened to be looked at, and refused.
      {"openport folder", [&] { return no(openport(folder.c_str())); }},
      {"openportmult folder", [&] { return no(openportmult(3, folder.c_str())); }},
      {"openportmult slot 6", [&] { return no(openportmult(6, regular.c_str())); }},
      {"openport USB without a printer", [&] { return no(openport("USB")); }},
      {"openusbportmult without a printer", [&] { return no(openusbportmult(5)); }},
      {"openethernet no address", [&] { return no(openethernet("not an address", 9100)); }},
      {"openethernetmult slot 0", [&] { return no(openethernetmult(0, "127.0.0.1", 9100)); }},
      {"SetRS232_port no terminal", [&] { return no(SetRS232_port("/dev/null", "9600", "N", "8", "1")); }},
      {"SetRS232 nothing open", [&] { return no(SetRS232("9600", "N", "8", "1")); }},
  });
  // Nothing is left open to close.
  EXPECT_EQ(closeport(), 0);
  unlink(regular.c_str());
  rmdir(dir);
}

TEST(OpenerRefusals, ARefusedOpenKeepsOrClosesThePortHeldBefore) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string pty = ptsname(master);
  const int before = openDescriptors();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(openport(pty.c_str()), 1);
    EXPECT_EQ(openDescriptors(), before + 1);
    // opencomport refused keeps the port held before, usable.
    EXPECT_EQ(std::string(opencomport("/dev/null")), "0");
    EXPECT_EQ(openDescriptors(), before + 1);
    EXPECT_EQ(sendcommand("CLS"), 1);
    // openport closes what it held first, also when the new name is refused.
    EXPECT_EQ(openport("/dev/ttyPALOMA9"), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(closeport(), 0);
  }
  close(master);
}

}  // namespace
