// Serial openers on the real backend: a port name that is a file's name
// never creates or empties the file, and reopening a port (a pty here) does
// not leak the descriptor of the port it replaces.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "paloma.h"
#include "support/posix/process.h"

namespace {

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

using paloma::test::openDescriptors;

// A scratch folder made the current directory for the test's lifetime.
class InScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/paloma-serial-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    closeport();
    ASSERT_EQ(chdir(cwd_), 0);
    EXPECT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }
  std::string dir_;
  char cwd_[4096] = {};
};

TEST_F(InScratchFolder, APortNameThatNamesAFileLeavesTheFileAlone) {
  { std::ofstream("a.txt") << "the user's data"; }
  { std::ofstream("b.txt") << "more data"; }
  EXPECT_STREQ(opencomport("a.txt"), "0");
  EXPECT_EQ(contentOf("a.txt"), "the user's data");
  EXPECT_EQ(sendcommand("CLS"), 0) << "nothing was opened to write to";
  EXPECT_EQ(contentOf("a.txt"), "the user's data");
  EXPECT_STREQ(opencomport("ttyUSB0"), "0");  // a device name without /dev/
  EXPECT_FALSE(exists("ttyUSB0"));
  EXPECT_EQ(SetRS232_port("b.txt", "9600", "N", "8", "1"), 0);
  EXPECT_EQ(contentOf("b.txt"), "more data");
  EXPECT_EQ(SetRS232_port("c.txt", "9600", "N", "8", "1"), 0);
  EXPECT_FALSE(exists("c.txt"));
  // A device that is no terminal is refused as well.
  EXPECT_STREQ(opencomport("/dev/null"), "0");
  EXPECT_NE(std::string(paloma_last_error()), "");
}

TEST_F(InScratchFolder, ReopeningAPortKeepsOneDescriptor) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string port = ptsname(master);
  const int before = openDescriptors();
  ASSERT_STREQ(opencomport(port.c_str()), "1");
  const int withPort = openDescriptors();
  EXPECT_EQ(withPort, before + 1);
  for (int i = 0; i < 10; ++i) ASSERT_STREQ(opencomport(port.c_str()), "1");
  EXPECT_EQ(openDescriptors(), withPort);
  EXPECT_EQ(SetRS232_port(port.c_str(), "19200", "E", "7", "2"), 1);
  EXPECT_EQ(openDescriptors(), withPort);
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(openDescriptors(), before);
  close(master);
}

}  // namespace
