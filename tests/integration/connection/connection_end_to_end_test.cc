// The public connection functions on the real backend: a raw CUPS queue that
// feeds a peer on 127.0.0.1, and a pty opened as a serial port by its path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "paloma.h"
#include "support/loopback_peer.h"
#include "support/posix/process.h"

namespace {

TEST(ConnectionEndToEnd, CupsQueueByNameAndByPort) {
  // A printer on 127.0.0.1 that keeps what each connection sent until the
  // sender closed.
  paloma::test::LoopbackPeer printer(paloma::test::LoopbackPeer::Options{{}, true, 60000});
  ASSERT_GT(printer.port(), 0);
  const std::string name = "paloma_test_" + std::to_string(getpid());
  const std::string uri = "socket://127.0.0.1:" + std::to_string(printer.port());
  paloma::test::SpoolerQueue queue(name, uri);
  PALOMA_REQUIRE_QUEUE(queue);

  // By the queue's name: one raw job holding exactly the command.
  ASSERT_EQ(openport(name.c_str()), 1);
  EXPECT_EQ(sendcommand("CLS"), 1);
  EXPECT_EQ(closeport(), 1);
  auto job = printer.nextClosed(30000);
  ASSERT_TRUE(job.ended) << "the queue delivered nothing";
  EXPECT_EQ(job.bytes, "CLS\r\n");

  // By the port the spooler lists for it.
  ASSERT_EQ(compareport(uri.c_str()), 1);
  EXPECT_EQ(sendcommand("PRINT 1,1"), 1);
  EXPECT_EQ(closeport(), 1);
  job = printer.nextClosed(30000);
  ASSERT_TRUE(job.ended) << "the queue delivered nothing";
  EXPECT_EQ(job.bytes, "PRINT 1,1\r\n");

  EXPECT_EQ(std::string(returndriver(uri.c_str())), name);
  EXPECT_EQ(std::string(returndriver("socket://127.0.0.1:1")), "-1");
  EXPECT_EQ(compareport("SOCKET://127.0.0.1:1"), 0);
}

TEST(ConnectionEndToEnd, PtyOpenedByPathGetsCommandAndLineEnd) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string path = ptsname(master);

  ASSERT_EQ(openport(path.c_str()), 1);
  EXPECT_EQ(sendcommand("SIZE 40 mm,30 mm"), 1);
  std::string got;
  for (int i = 0; i < 200 && got.size() < 18; ++i) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buf[128];
    ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, "SIZE 40 mm,30 mm\r\n");
  EXPECT_EQ(closeport(), 1);
  EXPECT_EQ(closeport(), 0);
  close(master);
}

// A pty whose line the test sets and reads through a descriptor of its own on
// the terminal side, as another program on the same port would.
class PtyLine {
 public:
  PtyLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    path_ = ptsname(master_);
    line_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PtyLine() {
    if (line_ >= 0) close(line_);
    if (master_ >= 0) close(master_);
  }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;
  bool ok() const { return line_ >= 0; }
  const char* path() const { return path_.c_str(); }
  termios get() const {
    termios t{};
    EXPECT_EQ(tcgetattr(line_, &t), 0);
    return t;
  }
  void set(const termios& t) const { EXPECT_EQ(tcsetattr(line_, TCSANOW, &t), 0); }
  void setSpeed(speed_t speed, bool twoStopBits) const {
    termios t = get();
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (twoStopBits) t.c_cflag |= CSTOPB;
    else t.c_cflag &= ~tcflag_t{CSTOPB};
    set(t);
  }

 private:
  int master_ = -1;
  int line_ = -1;
  std::string path_;
};

// A pty forces 8 data bits and no parity whatever is asked, so the line
// shows the speed and the stop bits; the parity and byte size mapping is
// tested on its own in the backend's tests.
TEST(ConnectionEndToEnd, SetRS232KeepsASpeedOutsideItsTableAndAppliesTheRest) {
  PtyLine pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_STREQ(opencomport(pty.path()), "1");
  for (speed_t speed : {B600, B1800, B460800}) {
    SCOPED_TRACE(speed);
    pty.setSpeed(speed, false);
    // "300" is no rate of the table: the speed stays, the stop bits change.
    EXPECT_EQ(SetRS232("300", "E", "7", "2"), 1);
    termios t = pty.get();
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(cfgetispeed(&t), speed);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // A rate of the table still replaces it.
    EXPECT_EQ(SetRS232("4800", "N", "8", "1"), 1);
    t = pty.get();
    EXPECT_EQ(cfgetospeed(&t), B4800);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
  }
  EXPECT_EQ(closeport(), 1);

  // The same through a port that SetRS232_port opens for itself.
  pty.setSpeed(B1800, true);
  EXPECT_EQ(SetRS232_port(pty.path(), "1800", "O", "8", "1"), 1);
  termios t = pty.get();
  EXPECT_EQ(cfgetospeed(&t), B1800);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_EQ(SetRS232_port(pty.path(), "115200", "O", "8", "2"), 1);
  t = pty.get();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST(ConnectionEndToEnd, LineSettingsAndDefaultsKeepTheLinesFlowControl) {
  PtyLine pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_STREQ(opencomport(pty.path()), "1");
  const tcflag_t software = IXON | IXOFF | IXANY;
  termios t = pty.get();
  t.c_iflag |= software;
  cfsetospeed(&t, B2400);
  cfsetispeed(&t, B2400);
  t.c_cflag |= CSTOPB;
  pty.set(t);

  EXPECT_EQ(SetRS232("19200", "N", "8", "1"), 1);
  t = pty.get();
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_EQ(t.c_iflag & software, software);

  t.c_cflag |= CSTOPB;
  pty.set(t);
  EXPECT_EQ(comportdefault(), 1);
  t = pty.get();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_EQ(t.c_iflag & software, software);

  // Without flow control the line stays without it.
  t.c_iflag &= ~software;
  pty.set(t);
  EXPECT_EQ(SetRS232("9600", "N", "8", "2"), 1);
  EXPECT_EQ(pty.get().c_iflag & software, tcflag_t{0});
  EXPECT_EQ(closeport(), 1);
}

}  // namespace
