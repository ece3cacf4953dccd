// The Linux backend on the real machine: files, a pty as a serial port, TCP
// and UDP on 127.0.0.1, and the names openFile understands.
#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "platform/posix/posix_os.h"
#include "support/loopback_peer.h"

namespace paloma {
namespace {

using posix::PortTarget;

constexpr std::uint32_t kLoopback = 0x7F000001u;

// ---- names -------------------------------------------------------------------

TEST(PosixNames, PortNamesMapToDevicesAndFiles) {
  struct Row {
    const char* name;
    PortTarget::Kind kind;
    const char* path;
  } rows[] = {
      {"LPT1", PortTarget::Device, "/dev/lp0"},
      {"LPT4", PortTarget::Device, "/dev/lp3"},
      {"COM1", PortTarget::Device, "/dev/ttyS0"},
      {"\\\\.\\COM12", PortTarget::Device, "/dev/ttyS11"},
      {"/dev/pts/7", PortTarget::Device, "/dev/pts/7"},
      {"/dev/usb/lp0", PortTarget::Device, "/dev/usb/lp0"},
      {"LPT5", PortTarget::RegularFile, "LPT5"},
      {"COM0", PortTarget::RegularFile, "COM0"},
      {"label.prn", PortTarget::RegularFile, "label.prn"},
      {"/tmp/x/label.prn", PortTarget::RegularFile, "/tmp/x/label.prn"},
      {"\\\\.\\PRN", PortTarget::Invalid, ""},
      {"\\\\.\\COM0", PortTarget::Invalid, ""},
      {"\\\\?\\usb#vid_FFF0&pid_0001#b001p1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
       PortTarget::Invalid, ""},
      {"", PortTarget::Invalid, ""},
  };
  for (const Row& r : rows) {
    PortTarget t = posix::mapPortName(r.name);
    EXPECT_EQ(t.kind, r.kind) << r.name;
    if (r.kind != PortTarget::Invalid) {
      EXPECT_EQ(t.path, r.path) << r.name;
    }
  }
}

TEST(PosixNames, UsbPathCarriesVendorAtCharactersEightToFifteen) {
  const std::uint8_t ports[] = {1, 4};
  std::string loc = posix::usbLocation(3, ports, 2);
  EXPECT_EQ(loc, "b003p1.4");
  EXPECT_EQ(posix::usbLocation(1, nullptr, 0), "b001p0");
  std::string path = posix::usbInterfacePath(0xABCD, 0x00E1, loc);
  EXPECT_EQ(path, "\\\\?\\usb#vid_abcd&pid_00e1#b003p1.4#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_EQ(path.substr(8, 8), "vid_abcd");
  EXPECT_LT(path.size(), 128u);

  std::uint16_t vid = 0, pid = 0;
  std::string back;
  ASSERT_TRUE(posix::parseUsbInterfacePath(path, &vid, &pid, &back));
  EXPECT_EQ(vid, 0xABCD);
  EXPECT_EQ(pid, 0x00E1);
  EXPECT_EQ(back, loc);
  EXPECT_EQ(posix::mapPortName(path).kind, PortTarget::Usb);
  // Truncated or foreign class: not a path of ours.
  EXPECT_FALSE(posix::parseUsbInterfacePath(path.substr(0, path.size() - 1), &vid, &pid, &back));
  EXPECT_FALSE(posix::parseUsbInterfacePath(
      "\\\\?\\usb#vid_abcd&pid_00e1##{a5dcbf10-6530-11d2-901f-00c04fb951ed}", &vid, &pid, &back));
}

// Whatever this machine has on its buses: every listed path is one of ours,
// and a device that is not there does not open.
TEST(PosixUsb, ListedPathsParseInBusOrderAndAbsentDeviceFails) {
  Os& os = platformOs();
  std::vector<std::string> paths;
  if (os.usbInterfaces(&paths)) {
    for (const std::string& p : paths) {
      if (p.empty()) continue;
      std::uint16_t vid = 0, pid = 0;
      std::string loc;
      EXPECT_TRUE(posix::parseUsbInterfacePath(p, &vid, &pid, &loc)) << p;
      EXPECT_LT(p.size(), 128u) << p;
    }
  }
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, false};
  EXPECT_EQ(os.openFile(posix::usbInterfacePath(0xfff0, 0x0001, "b255p9.9.9"), mode),
            kInvalidHandle);
}

TEST(PosixNames, DeviceWriteBound) {
  EXPECT_EQ(posix::deviceWriteTimeoutMs(0), 1000);
  EXPECT_EQ(posix::deviceWriteTimeoutMs(100), 1100);
  EXPECT_EQ(posix::deviceWriteTimeoutMs(10000000), 30000);
}

// A bulk IN read asks for whole packets: a device that sends more than a
// partial packet's room overflows the transfer and its bytes are lost.
TEST(PosixNames, UsbReadLengthIsWholePackets) {
  struct Row {
    std::size_t cap;
    int packet;
    std::size_t length;
  } rows[] = {{100, 64, 64},     {64, 64, 64},      {1, 64, 64}, {64, 512, 512},
              {1000, 512, 512},  {1024, 512, 1024}, {5, 0, 64},
              {(1u << 20) + 100, 512, 1u << 20}};
  for (const Row& r : rows)
    EXPECT_EQ(posix::usbReadLength(r.cap, r.packet), r.length) << r.cap << " " << r.packet;
}

// A serial number as the device's string descriptor holds it: UTF-16LE
// after a length and a type byte, read as far as both the length and the
// bytes received allow.
TEST(PosixNames, UsbSerialFromItsStringDescriptor) {
  using B = std::vector<std::uint8_t>;
  auto text = [](const B& b) { return posix::usbStringFromDescriptor(b.data(), b.size()); };
  EXPECT_EQ(text({10, 3, 'E', 0, 'M', 0, 'U', 0, '1', 0}), "EMU1");
  EXPECT_EQ(text({8, 3, 'A', 0, 0xFC, 0, 0xA9, 0x03}), "A\xC3\xBC\xCE\xA9");  // U+00FC, U+03A9
  EXPECT_EQ(text({8, 3, 'A', 0, '\r', 0, 0x7F, 0}), "A??");  // control characters
  EXPECT_EQ(text({6, 3, 'A', 0, 'B', 0, 'C', 0}), "AB");       // the length ends it
  EXPECT_EQ(text({20, 3, 'A', 0, 'B', 0}), "AB");              // so do the bytes read
  EXPECT_EQ(text({7, 3, 'A', 0, 'B', 0, 'C'}), "AB");          // an odd byte is no unit
  EXPECT_EQ(text({6, 2, 'A', 0, 'B', 0}), "");                 // not a string descriptor
  EXPECT_EQ(text({2, 3}), "");
  EXPECT_EQ(posix::usbStringFromDescriptor(nullptr, 4), "");
}

// ---- files -------------------------------------------------------------------

class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/paloma-posix-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  Os& os_ = platformOs();
  std::string dir_;
};

TEST_F(PosixFiles, WriteReadSizeAndTruncation) {
  OpenMode create{kAccessRead | kAccessWrite, kShareRead, Disposition::CreateAlways, false};
  Handle h = os_.openFile(path("a.txt"), create);
  ASSERT_NE(h, kInvalidHandle);
  IoResult w = os_.writeFile(h, "hello world", 11);
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.count, 11u);
  EXPECT_EQ(os_.fileSize(h), 11);
  EXPECT_TRUE(os_.closeHandle(h));

  OpenMode existing{kAccessRead, kShareRead, Disposition::OpenExisting, false};
  h = os_.openFile(path("a.txt"), existing);
  ASSERT_NE(h, kInvalidHandle);
  char buf[32] = {};
  IoResult r = os_.readFile(h, buf, sizeof buf, ReadWait::Blocking, 100);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(std::string(buf, r.count), "hello world");
  r = os_.readFile(h, buf, sizeof buf, ReadWait::Blocking, 100);  // end of file
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_TRUE(os_.closeHandle(h));

  // OpenAlways keeps the content; CreateAlways empties it.
  OpenMode openAlways{kAccessWrite, kShareRead, Disposition::OpenAlways, false};
  h = os_.openFile(path("a.txt"), openAlways);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(os_.fileSize(h), 11);
  EXPECT_TRUE(os_.closeHandle(h));
  h = os_.openFile(path("a.txt"), create);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(os_.fileSize(h), 0);
  EXPECT_TRUE(os_.closeHandle(h));
}

TEST_F(PosixFiles, MissingFilesAndDevicesAreNeverCreatedByOpenExisting) {
  OpenMode existing{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, false};
  EXPECT_EQ(os_.openFile(path("missing.txt"), existing), kInvalidHandle);
  struct stat st {};
  EXPECT_NE(stat(path("missing.txt").c_str(), &st), 0);

  // A device path is never created, whatever the disposition.
  OpenMode create{kAccessWrite, kShareWrite, Disposition::CreateAlways, false};
  const char* dev = "/dev/paloma-no-such-device";
  EXPECT_EQ(os_.openFile(dev, create), kInvalidHandle);
  EXPECT_NE(stat(dev, &st), 0);
  // Nor by another spelling of a path into /dev.
  for (const std::string& other :
       {std::string("//dev/paloma-no-such-device"), std::string("/./dev/paloma-no-such-device"),
        dir_ + "/../../dev/paloma-no-such-device"}) {
    EXPECT_EQ(os_.openFile(other, create), kInvalidHandle) << other;
    EXPECT_NE(stat(dev, &st), 0) << other;
    if (stat(dev, &st) == 0) unlink(dev);
  }
}

TEST_F(PosixFiles, DoubleCloseNeverTouchesAnotherHandle) {
  OpenMode create{kAccessRead | kAccessWrite, kShareRead, Disposition::CreateAlways, false};
  Handle a = os_.openFile(path("a"), create);
  ASSERT_NE(a, kInvalidHandle);
  EXPECT_TRUE(os_.closeHandle(a));
  Handle b = os_.openFile(path("b"), create);  // may reuse a's descriptor number
  ASSERT_NE(b, kInvalidHandle);
  EXPECT_NE(a, b);
  EXPECT_FALSE(os_.closeHandle(a));
  EXPECT_FALSE(os_.spoolerClose(a));
  IoResult w = os_.writeFile(b, "x", 1);
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.count, 1u);
  EXPECT_TRUE(os_.closeHandle(b));
  EXPECT_FALSE(os_.writeFile(b, "x", 1).ok);
}

TEST_F(PosixFiles, ExclusiveOpenExcludesASecondOne) {
  OpenMode exclusive{kAccessWrite, kShareNone, Disposition::CreateAlways, false};
  Handle a = os_.openFile(path("x"), exclusive);
  ASSERT_NE(a, kInvalidHandle);
  EXPECT_TRUE(os_.writeFile(a, "keep", 4).ok);
  EXPECT_EQ(os_.openFile(path("x"), exclusive), kInvalidHandle);
  EXPECT_EQ(os_.fileSize(a), 4);  // the refused open did not truncate it
  EXPECT_TRUE(os_.closeHandle(a));
  Handle b = os_.openFile(path("x"), exclusive);
  EXPECT_NE(b, kInvalidHandle);
  EXPECT_TRUE(os_.closeHandle(b));
}

// The kernel copy of a file: to a file, a device and a socket, from an
// offset, leaving the file's position alone; a file shorter than asked ends
// the copy; what is no descriptor is left to the caller.
TEST_F(PosixFiles, KernelCopyToFilesDevicesAndSockets) {
  std::string content(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131) >> 5);
  OpenMode create{kAccessRead | kAccessWrite, kShareRead, Disposition::CreateAlways, false};
  OpenMode read{kAccessRead, kShareRead, Disposition::OpenExisting, false};
  Handle w = os_.openFile(path("big.prn"), create);
  ASSERT_NE(w, kInvalidHandle);
  ASSERT_EQ(os_.writeFile(w, content.data(), content.size()).count, content.size());
  EXPECT_TRUE(os_.closeHandle(w));
  Handle src = os_.openFile(path("big.prn"), read);
  ASSERT_NE(src, kInvalidHandle);

  // To a regular file, from byte 1000 on.
  Handle out = os_.openFile(path("copy.prn"), create);
  ASSERT_NE(out, kInvalidHandle);
  FileCopyResult r = os_.copyFile(src, 1000, content.size() - 1000, out, kInvalidSocket);
  EXPECT_EQ(r.status, FileCopyResult::Done);
  EXPECT_EQ(r.count, content.size() - 1000);
  EXPECT_TRUE(os_.closeHandle(out));
  std::ifstream copied(path("copy.prn"), std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(copied), {}) == content.substr(1000));
  // The file's own position did not move: a read starts at its first byte.
  char first[4] = {};
  ASSERT_EQ(os_.readFile(src, first, 4, ReadWait::Blocking, 1000).count, 4u);
  EXPECT_EQ(std::string(first, 4), content.substr(0, 4));

  // Asked for more than the file holds: the copy ends with what there was.
  Handle null = os_.openFile("/dev/null", OpenMode{kAccessWrite, kShareRead, Disposition::OpenExisting, false});
  ASSERT_NE(null, kInvalidHandle);
  r = os_.copyFile(src, content.size() - 10, 50, null, kInvalidSocket);
  EXPECT_EQ(r.status, FileCopyResult::FileEnded);
  EXPECT_EQ(r.count, 10u);

  // To a socket on loopback.
  paloma::test::LoopbackPeer peer(paloma::test::LoopbackPeer::Options{{}, true, 20000});
  Socket s = os_.tcpSocket();
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_EQ(os_.tcpConnect(s, kLoopback, static_cast<std::uint16_t>(peer.port())).result, 0);
  os_.setSocketTimeouts(s, 2000, 2000);
  r = os_.copyFile(src, 0, content.size(), kInvalidHandle, s);
  EXPECT_EQ(r.status, FileCopyResult::Done);
  EXPECT_TRUE(peer.waitReceived(content.size(), 10000));
  EXPECT_TRUE(peer.received() == content);

  // A peer that has gone fails the copy, without SIGPIPE (its default action
  // would end this process).
  struct sigaction old {}, dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old);
  peer.stop();
  for (int i = 0; i < 20 && r.status != FileCopyResult::Failed; ++i) {
    r = os_.copyFile(src, 0, content.size(), kInvalidHandle, s);
    usleep(10000);
  }
  EXPECT_EQ(r.status, FileCopyResult::Failed);
  sigaction(SIGPIPE, &old, nullptr);
  os_.closeSocket(s);

  // Not a regular file, or not a descriptor target: the caller's business.
  EXPECT_EQ(os_.copyFile(null, 0, 1, null, kInvalidSocket).status, FileCopyResult::Unsupported);
  EXPECT_EQ(os_.copyFile(src, 0, 1, kInvalidHandle, s).status, FileCopyResult::Unsupported);
  EXPECT_EQ(os_.copyFile(src, 0, 1, src, kInvalidSocket).status, FileCopyResult::Unsupported);
  EXPECT_TRUE(os_.closeHandle(null));
  EXPECT_TRUE(os_.closeHandle(src));
}

TEST_F(PosixFiles, SerialControlFailsOnARegularFile) {
  OpenMode create{kAccessRead | kAccessWrite, kShareRead, Disposition::CreateAlways, true};
  Handle h = os_.openFile(path("notatty"), create);
  ASSERT_NE(h, kInvalidHandle);
  SerialSettings s;
  EXPECT_FALSE(os_.serialGetState(h, &s));
  EXPECT_FALSE(os_.serialSetState(h, s));
  EXPECT_FALSE(os_.serialPurge(h, kPurgeRxClear));
  EXPECT_TRUE(os_.closeHandle(h));
}

// A pipe whose reader has gone must fail the write, not raise SIGPIPE (whose
// default action ends the process): a named pipe given as a file, or a
// /dev/ path that leads to one.
TEST_F(PosixFiles, WriteToAPipeWithoutReaderFailsWithoutASignal) {
  struct sigaction old {}, dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old);
  std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  OpenMode mode{kAccessWrite, kShareWrite, Disposition::CreateAlways, false};
  Handle h = os_.openFile(fifo, mode);
  ASSERT_NE(h, kInvalidHandle);
  IoResult w = os_.writeFile(h, "SIZE 4,2\r\n", 10);
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.count, 10u);
  close(reader);
  w = os_.writeFile(h, "CLS\r\n", 5);
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, EPIPE);
  // Nothing was left pending for the process either.
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  EXPECT_TRUE(os_.closeHandle(h));
  sigaction(SIGPIPE, &old, nullptr);
}

// ---- the serial line settings and termios -------------------------------------

// A terminal record with flow control, modem control, line editing and
// control characters set, so that a mapping that touches any of them shows.
termios busyTermios(speed_t speed) {
  termios t{};
  t.c_iflag = IXON | IXOFF | IXANY | IGNBRK | ICRNL;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CREAD | CLOCAL | CRTSCTS | HUPCL;
  t.c_lflag = ICANON | ECHO | ISIG;
  for (std::size_t i = 0; i < NCCS; ++i) t.c_cc[i] = static_cast<cc_t>(i + 1);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return t;
}

bool sameRecord(const termios& a, const termios& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PosixSerialMapping, EveryParityByteSizeAndStopBitCombinationBothWays) {
  // What each setting must put on the line, from the termios manual.
  const tcflag_t sizeBits[] = {CS5, CS6, CS7, CS8};
  const tcflag_t parityBits[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                 PARENB | CMSPAR};
  const tcflag_t lineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  // Start both from a line with no parity, 8 bits, one stop bit, and from one
  // with stick parity, 5 bits, two stop bits and checking on, so that every
  // bit has to be set by one and cleared by the other.
  termios quiet = busyTermios(B38400);
  quiet.c_cflag |= CS8;
  termios loud = busyTermios(B38400);
  loud.c_cflag |= CS5 | PARENB | PARODD | CMSPAR | CSTOPB;
  loud.c_iflag |= INPCK;
  int combinations = 0;
  for (const termios& start : {quiet, loud}) {
    for (std::uint8_t size = 5; size <= 8; ++size) {
      for (std::uint8_t parity = 0; parity <= 4; ++parity) {
        for (std::uint8_t stop : {0, 2}) {
          for (bool check : {false, true}) {
            SCOPED_TRACE(testing::Message() << "size " << int(size) << " parity " << int(parity)
                                            << " stop " << int(stop) << " check " << check);
            SerialSettings s;
            s.baudRate = 38400;
            s.byteSize = size;
            s.parity = parity;
            s.stopBits = stop;
            s.parityCheck = check;
            termios t = start;
            ASSERT_TRUE(posix::applySerialSettings(s, &t));
            EXPECT_EQ(t.c_cflag, (start.c_cflag & ~lineBits) | sizeBits[size - 5] |
                                     parityBits[parity] | (stop == 2 ? CSTOPB : 0));
            EXPECT_EQ(t.c_iflag, (start.c_iflag & ~tcflag_t{INPCK}) | (check ? INPCK : 0));
            EXPECT_EQ(t.c_oflag, start.c_oflag);
            EXPECT_EQ(t.c_lflag, start.c_lflag);
            EXPECT_EQ(std::memcmp(t.c_cc, start.c_cc, sizeof t.c_cc), 0);
            EXPECT_EQ(cfgetispeed(&t), B38400);
            EXPECT_EQ(cfgetospeed(&t), B38400);

            const SerialSettings back = posix::serialSettingsFromTermios(t);
            EXPECT_EQ(back.baudRate, 38400u);
            EXPECT_EQ(back.byteSize, size);
            EXPECT_EQ(back.parity, parity);
            EXPECT_EQ(back.stopBits, stop);
            EXPECT_EQ(back.parityCheck, check);
            ++combinations;
          }
        }
      }
    }
  }
  EXPECT_EQ(combinations, 2 * 4 * 5 * 2 * 2);

  // Read from records set by hand: even is PARENB alone, odd adds PARODD.
  termios t = busyTermios(B9600);
  t.c_cflag |= CS7 | PARENB;
  EXPECT_EQ(posix::serialSettingsFromTermios(t).parity, 2);
  t.c_cflag |= PARODD;
  EXPECT_EQ(posix::serialSettingsFromTermios(t).parity, 1);
  t.c_cflag &= ~tcflag_t{PARENB};  // PARODD without PARENB: no parity
  EXPECT_EQ(posix::serialSettingsFromTermios(t).parity, 0);
  EXPECT_EQ(posix::serialSettingsFromTermios(t).byteSize, 7);
}

TEST(PosixSerialMapping, StandardSpeedsReadAsTheirRateAndAnyOtherSpeedIsKeptExactly) {
  struct Row {
    std::uint32_t rate;
    speed_t speed;
  } rows[] = {{50, B50},         {300, B300},         {600, B600},         {1800, B1800},
              {9600, B9600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
              {921600, B921600}, {4000000, B4000000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.rate);
    const termios at = busyTermios(r.speed);
    EXPECT_EQ(posix::serialSettingsFromTermios(at).baudRate, r.rate);
    // Written back unchanged, and set on a line at another speed.
    termios same = at;
    SerialSettings s = posix::serialSettingsFromTermios(at);
    ASSERT_TRUE(posix::applySerialSettings(s, &same));
    EXPECT_TRUE(sameRecord(same, at));
    termios other = busyTermios(r.speed == B9600 ? B2400 : B9600);
    ASSERT_TRUE(posix::applySerialSettings(s, &other));
    EXPECT_EQ(cfgetospeed(&other), r.speed);
    EXPECT_EQ(cfgetispeed(&other), r.speed);
  }

  // Speed bits that name no standard speed (a rate set through the extended
  // interface) and a hung-up line read as 0; written back with that 0, the
  // bits stay exactly as they were while the rest changes.
  termios custom = busyTermios(B9600);
  custom.c_cflag = (custom.c_cflag & ~tcflag_t{CBAUD}) | CBAUDEX;
  termios hungUp = busyTermios(B0);
  for (termios* t : {&custom, &hungUp}) {
    const tcflag_t speedBits = t->c_cflag & CBAUD;
    SerialSettings s = posix::serialSettingsFromTermios(*t);
    EXPECT_EQ(s.baudRate, 0u);
    s.stopBits = 2;
    ASSERT_TRUE(posix::applySerialSettings(s, t));
    EXPECT_EQ(t->c_cflag & CBAUD, speedBits);
    EXPECT_TRUE(t->c_cflag & CSTOPB);
    // A standard rate replaces them.
    s.baudRate = 19200;
    ASSERT_TRUE(posix::applySerialSettings(s, t));
    EXPECT_EQ(cfgetospeed(t), B19200);
  }
}

TEST(PosixSerialMapping, SettingsWithoutATermiosFormAreRefusedAndTheRecordKept) {
  const termios start = busyTermios(B9600);
  SerialSettings good;
  good.baudRate = 9600;
  auto refused = [&](SerialSettings s) {
    termios t = start;
    return !posix::applySerialSettings(s, &t) && sameRecord(t, start);
  };
  SerialSettings s = good;
  s.baudRate = 12345;  // no standard speed, and not the line's own
  EXPECT_TRUE(refused(s));
  s.baudRate = 0;  // 0 is the line's own rate only on a hung-up or custom line
  EXPECT_TRUE(refused(s));
  for (std::uint8_t size : {0, 4, 9}) {
    s = good;
    s.byteSize = size;
    EXPECT_TRUE(refused(s)) << int(size);
  }
  s = good;
  s.parity = 5;
  EXPECT_TRUE(refused(s));
  for (std::uint8_t stop : {1, 3}) {  // one and a half has no termios form
    s = good;
    s.stopBits = stop;
    EXPECT_TRUE(refused(s)) << int(stop);
  }
}

// ---- a pty as the serial port ------------------------------------------------

class PosixPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slavePath_ = ptsname(master_);
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
  }
  // Reads from the master until `want` bytes came or 2 s passed.
  std::string readMaster(std::size_t want) {
    std::string got;
    for (int i = 0; i < 200 && got.size() < want; ++i) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[256];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  Os& os_ = platformOs();
  int master_ = -1;
  std::string slavePath_;
};

TEST_F(PosixPty, LineSettingsRoundTrip) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
  Handle h = os_.openFile(slavePath_, mode);
  ASSERT_NE(h, kInvalidHandle);
  struct Row {
    std::uint32_t baud;
    std::uint8_t size, parity, stop;
    bool check, dsr;
  } rows[] = {{9600, 8, 0, 0, false, false},
              {2400, 7, 2, 2, true, true},
              {115200, 8, 1, 0, true, false},
              {19200, 7, 1, 2, false, true}};
  for (const Row& r : rows) {
    SerialSettings s;
    s.baudRate = r.baud;
    s.byteSize = r.size;
    s.parity = r.parity;
    s.stopBits = r.stop;
    s.parityCheck = r.check;
    s.dsrSensitivity = r.dsr;
    ASSERT_TRUE(os_.serialSetState(h, s)) << r.baud;
    SerialSettings back;
    ASSERT_TRUE(os_.serialGetState(h, &back));
    EXPECT_EQ(back.baudRate, r.baud);
    // A pty keeps 8 data bits and no parity whatever is asked (the kernel's
    // pty driver forces them), so those two cannot be seen to change here.
    EXPECT_EQ(back.stopBits, r.stop);
    EXPECT_EQ(back.parityCheck, r.check);
    EXPECT_EQ(back.dsrSensitivity, r.dsr);
  }
  SerialSettings bad;
  bad.baudRate = 12345;
  EXPECT_FALSE(os_.serialSetState(h, bad));
  bad.baudRate = 9600;
  bad.stopBits = 1;  // one and a half: no termios equivalent
  EXPECT_FALSE(os_.serialSetState(h, bad));
  EXPECT_TRUE(os_.serialPurge(h, kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear));
  EXPECT_TRUE(os_.closeHandle(h));
}

TEST_F(PosixPty, BytesPassUnchangedBothWays) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
  Handle h = os_.openFile(slavePath_, mode);
  ASSERT_NE(h, kInvalidHandle);
  SerialTimeouts t;
  t.readInterval = 0xFFFFFFFFu;
  t.writeTotalMultiplier = 10;
  t.writeTotalConstant = 100;
  EXPECT_TRUE(os_.serialSetTimeouts(h, t));

  // Raw mode: no CR inserted before LF, binary bytes intact.
  const char out[] = "CLS\r\n\n\x00\xff";
  Event ev = os_.createEvent();
  EXPECT_NE(ev, kInvalidEvent);
  IoResult w = os_.writeOverlapped(h, out, sizeof out - 1, ev);
  os_.closeEvent(ev);
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.count, sizeof out - 1);
  EXPECT_EQ(readMaster(sizeof out - 1), std::string(out, sizeof out - 1));

  // Nothing has arrived: the read returns at once with nothing, not a time-out.
  char buf[64];
  IoResult r = os_.readFile(h, buf, sizeof buf, ReadWait::Arrived, 0);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_FALSE(r.timedOut);
  // With "return at once" time-outs a blocking read takes what has arrived.
  r = os_.readFile(h, buf, sizeof buf, ReadWait::Blocking, 60000);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  // A bounded wait that runs out says so.
  r = os_.readFile(h, buf, sizeof buf, ReadWait::AtMostMs, 20);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_TRUE(r.timedOut);

  ASSERT_EQ(write(master_, "00\r\n", 4), 4);
  std::string got;
  for (int i = 0; i < 200 && got.size() < 4; ++i) {
    r = os_.readFile(h, buf, sizeof buf, ReadWait::Arrived, 0);
    ASSERT_TRUE(r.ok);
    got.append(buf, r.count);
    if (got.size() < 4) os_.sleepMs(10);
  }
  EXPECT_EQ(got, "00\r\n");
  EXPECT_TRUE(os_.closeHandle(h));
  EXPECT_FALSE(os_.closeHandle(h));
}

// A line that stops taking bytes (flow control held, the printer busy): the
// write hands back what was taken within the write time-out, and the next
// one fails as timed out, neither waits longer.
TEST_F(PosixPty, StalledLineEndsWritesAtTheWriteTimeOut) {
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
  Handle h = os_.openFile(slavePath_, mode);
  ASSERT_NE(h, kInvalidHandle);
  SerialTimeouts t;
  t.readInterval = 0xFFFFFFFFu;
  t.writeTotalConstant = 1000;
  EXPECT_TRUE(os_.serialSetTimeouts(h, t));
  std::string big(1u << 20, 'x');  // far more than the line's buffers hold
  std::uint64_t t0 = os_.nowMs();
  IoResult w = os_.writeFile(h, big.data(), big.size());
  std::uint64_t firstMs = os_.nowMs() - t0;
  EXPECT_TRUE(w.ok);
  EXPECT_GT(w.count, 0u);
  EXPECT_LT(w.count, big.size());
  t0 = os_.nowMs();
  w = os_.writeFile(h, big.data(), big.size());
  std::uint64_t secondMs = os_.nowMs() - t0;
  EXPECT_FALSE(w.ok);
  EXPECT_TRUE(w.timedOut);
  EXPECT_EQ(w.count, 0u);
  EXPECT_LT(firstMs, 3000u);
  EXPECT_GE(secondMs, 900u);
  EXPECT_LT(secondMs, 3000u);
  EXPECT_TRUE(os_.closeHandle(h));
}

// The far side of the line goes away (a USB serial adapter unplugged, the
// program behind a pty ended): writes and reads fail at once, no signal.
TEST_F(PosixPty, ClosedFarSideFailsWritesAndReadsWithoutWaiting) {
  struct sigaction old {}, dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old);
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
  Handle h = os_.openFile(slavePath_, mode);
  ASSERT_NE(h, kInvalidHandle);
  close(master_);
  master_ = -1;
  std::uint64_t t0 = os_.nowMs();
  IoResult w = os_.writeFile(h, "CLS\r\n", 5);
  EXPECT_FALSE(w.ok);
  char buf[16];
  IoResult r = os_.readFile(h, buf, sizeof buf, ReadWait::AtMostMs, 5000);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_LT(os_.nowMs() - t0, 1000u);
  EXPECT_TRUE(os_.closeHandle(h));
  sigaction(SIGPIPE, &old, nullptr);
}

// ---- the spooler ---------------------------------------------------------------

// A scheduler that takes connections and never answers (a hung cupsd, or a
// socket-activated one that does not start): looking a queue up and listing
// the queues each fail within their bound instead of waiting minutes on the
// CUPS library's own connection.
TEST(PosixSpooler, HungSchedulerFailsOpenAndListWithinTheBound) {
  paloma::test::LoopbackPeer::Options silent;
  silent.lifeMs = 60000;  // outlives any bound the backend should keep
  paloma::test::LoopbackPeer scheduler(silent);
  ASSERT_NE(scheduler.port(), 0);
  const std::string server = "127.0.0.1:" + std::to_string(scheduler.port());
  Os& os = platformOs();
  // The CUPS server setting is per thread.
  std::uint64_t listMs = 0;
  bool listed = true;
  std::thread lister([&] {
    cupsSetServer(server.c_str());
    std::uint64_t t0 = os.nowMs();
    std::vector<SpoolerPrinter> printers;
    listed = os.spoolerList(&printers);
    listMs = os.nowMs() - t0;
    cupsSetServer(nullptr);
  });
  cupsSetServer(server.c_str());
  std::uint64_t t0 = os.nowMs();
  Handle h = kInvalidHandle;
  EXPECT_FALSE(os.spoolerOpen("paloma_no_such_queue", &h));
  std::uint64_t openMs = os.nowMs() - t0;
  cupsSetServer(nullptr);
  lister.join();
  EXPECT_FALSE(listed);
  EXPECT_LT(openMs, 15000u);
  EXPECT_LT(listMs, 15000u);
}

// ---- TCP and UDP on 127.0.0.1 ------------------------------------------------

using paloma::test::LoopbackPeer;

TEST(PosixTcp, SendReceiveTimeOutCloseAndNoSigpipe) {
  // A peer that drops the connection must not kill us even with the default
  // action for SIGPIPE in force.
  struct sigaction old {}, dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old);

  Os& os = platformOs();
  LoopbackPeer peer;  // silent: collects until it is stopped
  ASSERT_NE(peer.port(), 0);

  os.netStartup();
  Socket s = os.tcpSocket();
  ASSERT_NE(s, kInvalidSocket);
  NetResult c = os.tcpConnect(s, kLoopback, static_cast<std::uint16_t>(peer.port()));
  ASSERT_EQ(c.result, 0);
  ASSERT_EQ(c.error, kNetOk);
  os.setNoDelay(s);
  os.setSocketTimeouts(s, 1000, 100);
  EXPECT_EQ(os.send(s, "AB", 2, true).result, 2);
  EXPECT_EQ(os.send(s, "CD", 2, false).result, 2);

  // The peer is silent: the receive time-out is an error, not "would block".
  char buf[16];
  NetResult r = os.recv(s, buf, sizeof buf);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.error, kNetTimedOut);

  EXPECT_TRUE(peer.waitReceived(4, 5000));
  EXPECT_EQ(peer.received(), "ABCD");
  peer.stop();
  os.setSocketTimeouts(s, 1000, 2000);
  r = os.recv(s, buf, sizeof buf);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, kNetOk);

  // Sending to the closed peer fails (reset) without a signal.
  NetResult sent{};
  for (int i = 0; i < 20; ++i) {
    sent = os.send(s, "XXXX", 4, false);
    if (sent.result < 0) break;
    usleep(10000);
  }
  EXPECT_EQ(sent.result, -1);
  EXPECT_EQ(sent.error, kNetConnReset);

  os.closeSocket(s);
  os.closeSocket(s);  // harmless
  EXPECT_EQ(os.send(s, "X", 1, false).result, -1);
  sigaction(SIGPIPE, &old, nullptr);
}

TEST(PosixTcp, ConnectToAClosedPortFails) {
  Os& os = platformOs();
  std::uint16_t port = 0;
  {
    LoopbackPeer gone;
    port = static_cast<std::uint16_t>(gone.port());
  }  // nobody listens there now
  ASSERT_NE(port, 0);
  Socket s = os.tcpSocket();
  ASSERT_NE(s, kInvalidSocket);
  NetResult c = os.tcpConnect(s, kLoopback, port);
  EXPECT_EQ(c.result, -1);
  EXPECT_NE(c.error, kNetOk);
  EXPECT_NE(c.error, kNetTimedOut);  // refused at once, not waited out
  os.closeSocket(s);
}

TEST(PosixUdp, DatagramToLoopbackAndBoundedReceive) {
  Os& os = platformOs();
  int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(rx, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(kLoopback);
  ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  socklen_t len = sizeof sa;
  getsockname(rx, reinterpret_cast<sockaddr*>(&sa), &len);

  Socket s = os.udpSocket();
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_TRUE(os.bindAny(s, 0));
  char buf[64];
  NetResult r = os.recvFrom(s, buf, sizeof buf, 20);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.error, kNetTimedOut);

  NetResult sent = os.sendTo(s, "probe", 5, kLoopback, ntohs(sa.sin_port));
  EXPECT_EQ(sent.result, 5);
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  pollfd p{rx, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  ssize_t n = recvfrom(rx, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(std::string(buf, 5), "probe");

  // And back: the answer arrives within the wait.
  ASSERT_EQ(sendto(rx, "answer", 6, 0, reinterpret_cast<sockaddr*>(&from), fromLen), 6);
  r = os.recvFrom(s, buf, sizeof buf, 2000);
  EXPECT_EQ(r.result, 6);
  os.closeSocket(s);
  close(rx);
}

// Signals that come more often than a wait's bound (a profiler's timer, an
// application's alarm) interrupt every wait. Each wait still ends within its
// bound: a receive on a silent printer, a serial read, a datagram wait.
TEST(PosixSignals, WaitsKeepTheirBoundUnderFrequentSignals) {
  struct sigaction old {}, act {};
  act.sa_handler = [](int) {};
  sigemptyset(&act.sa_mask);
  act.sa_flags = 0;  // no SA_RESTART: every blocking call sees EINTR
  sigaction(SIGUSR1, &act, &old);
  // Signals this thread every 5 ms for at most 4 s.
  std::atomic<bool> done{false};
  pthread_t target = pthread_self();
  std::thread signaller([&] {
    for (int i = 0; i < 800 && !done; ++i) {
      pthread_kill(target, SIGUSR1);
      usleep(5000);
    }
  });
  Os& os = platformOs();

  LoopbackPeer peer;  // silent
  Socket s = os.tcpSocket();
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_EQ(os.tcpConnect(s, kLoopback, static_cast<std::uint16_t>(peer.port())).result, 0);
  os.setSocketTimeouts(s, 1000, 200);
  char buf[16];
  std::uint64_t t0 = os.nowMs();
  NetResult r = os.recv(s, buf, sizeof buf);
  std::uint64_t recvMs = os.nowMs() - t0;
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.error, kNetTimedOut);
  os.closeSocket(s);

  Socket u = os.udpSocket();
  ASSERT_NE(u, kInvalidSocket);
  ASSERT_TRUE(os.bindAny(u, 0));
  t0 = os.nowMs();
  r = os.recvFrom(u, buf, sizeof buf, 200);
  std::uint64_t udpMs = os.nowMs() - t0;
  EXPECT_EQ(r.error, kNetTimedOut);
  os.closeSocket(u);

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  OpenMode mode{kAccessRead | kAccessWrite, kShareNone, Disposition::OpenExisting, true};
  Handle h = os.openFile(ptsname(master), mode);
  ASSERT_NE(h, kInvalidHandle);
  t0 = os.nowMs();
  IoResult io = os.readFile(h, buf, sizeof buf, ReadWait::AtMostMs, 200);
  std::uint64_t serialMs = os.nowMs() - t0;
  EXPECT_TRUE(io.ok);
  EXPECT_TRUE(io.timedOut);
  EXPECT_TRUE(os.closeHandle(h));
  close(master);

  done = true;
  signaller.join();
  sigaction(SIGUSR1, &old, nullptr);
  const std::pair<const char*, std::uint64_t> waits[] = {
      {"recv", recvMs}, {"recvFrom", udpMs}, {"serial read", serialMs}};
  for (const auto& [name, ms] : waits) {
    EXPECT_GE(ms, 190u) << name;
    EXPECT_LT(ms, 1500u) << name;
  }
}

TEST(PosixTime, SleepAndMonotonicClock) {
  Os& os = platformOs();
  std::uint64_t a = os.nowMs();
  os.sleepMs(20);
  EXPECT_GE(os.nowMs() - a, 20u);
}

}  // namespace
}  // namespace paloma
