// The Windows backend's own contracts that the printer logic leans on: the
// open modes, the three read waits and their bounds, the overlapped writes
// with and without an event, and the lists of spooler printers and USB
// interfaces.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/os.h"

namespace paloma::test {
namespace {

Os& w() { return platformOs(); }

std::string tempPath(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + name + std::to_string(GetCurrentProcessId());
}

TEST(Win32Backend, FileOpenModesWriteReadAndSize) {
  std::string path = tempPath("paloma-file-");
  OpenMode create{kAccessWrite, kShareWrite, Disposition::CreateAlways, false};
  Handle h = w().openFile(path, create);
  ASSERT_NE(h, kInvalidHandle);
  IoResult r = w().writeFile(h, "label bytes", 11);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 11u);
  EXPECT_TRUE(w().closeHandle(h));

  // CreateAlways truncates; OpenAlways keeps.
  h = w().openFile(path, OpenMode{kAccessRead, kShareRead, Disposition::OpenAlways, false});
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(w().fileSize(h), 11);
  char buf[32] = {};
  r = w().readFile(h, buf, sizeof buf, ReadWait::Blocking, 1000);
  EXPECT_EQ(std::string(buf, r.count), "label bytes");
  w().closeHandle(h);
  h = w().openFile(path, create);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(w().fileSize(h), 0);
  w().closeHandle(h);

  DeleteFileA(path.c_str());
  EXPECT_EQ(w().openFile(path, OpenMode{kAccessRead, kShareNone, Disposition::OpenExisting, false}),
            kInvalidHandle);
}

// A device that never answers: the server end of a named pipe that writes
// nothing, opened through the backend for overlapped I/O.
class SilentDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "\\\\.\\pipe\\paloma-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    device_ = w().openFile(name_, OpenMode{kAccessRead | kAccessWrite, kShareNone,
                                           Disposition::OpenExisting, true});
    ASSERT_NE(device_, kInvalidHandle);
  }
  void TearDown() override {
    if (device_ != kInvalidHandle) w().closeHandle(device_);
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
  }
  std::string serverRead(std::size_t n) {
    std::string out;
    char buf[256];
    while (out.size() < n) {
      DWORD got = 0;
      OVERLAPPED ov{};
      ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      BOOL ok = ReadFile(server_, buf, sizeof buf, &got, &ov);
      if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(ov.hEvent, 2000) != WAIT_OBJECT_0) {
          CancelIo(server_);
          GetOverlappedResult(server_, &ov, &got, TRUE);
          CloseHandle(ov.hEvent);
          break;
        }
        ok = GetOverlappedResult(server_, &ov, &got, FALSE);
      }
      CloseHandle(ov.hEvent);
      if (!ok || got == 0) break;
      out.append(buf, got);
    }
    return out;
  }
  std::string name_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  Handle device_ = kInvalidHandle;
};

TEST_F(SilentDevice, ReadWaitsAreBounded) {
  char buf[64];
  ULONGLONG start = GetTickCount64();
  IoResult r = w().readFile(device_, buf, sizeof buf, ReadWait::Arrived, 2000);
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_EQ(r.count, 0u);
  EXPECT_LT(took, 500u) << "what-has-arrived must not wait";

  start = GetTickCount64();
  r = w().readFile(device_, buf, sizeof buf, ReadWait::AtMostMs, 300);
  took = GetTickCount64() - start;
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(took, 250u);
  EXPECT_LT(took, 2000u);

  start = GetTickCount64();
  r = w().readFile(device_, buf, sizeof buf, ReadWait::Blocking, 300);
  took = GetTickCount64() - start;
  EXPECT_TRUE(r.timedOut);
  EXPECT_LT(took, 2000u);
}

TEST_F(SilentDevice, OverlappedWritesWithAndWithoutEventAndAReadThatGetsData) {
  Event e = w().createEvent();
  ASSERT_NE(e, kInvalidEvent);
  IoResult r = w().writeOverlapped(device_, "\x1b!?", 3, e);
  w().closeEvent(e);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 3u);
  r = w().writeOverlapped(device_, "\r\n", 2, kInvalidEvent);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 2u);
  // A plain write on an overlapped handle goes the overlapped way too.
  r = w().writeFile(device_, "X", 1);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(serverRead(6), "\x1b!?\r\nX");

  DWORD put = 0;
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!WriteFile(server_, "\x00", 1, &put, &ov) && GetLastError() == ERROR_IO_PENDING)
    GetOverlappedResult(server_, &ov, &put, TRUE);
  CloseHandle(ov.hEvent);
  char buf[64];
  r = w().readFile(device_, buf, sizeof buf, ReadWait::AtMostMs, 2000);
  EXPECT_FALSE(r.timedOut);
  ASSERT_EQ(r.count, 1u);
  EXPECT_EQ(buf[0], '\0');
}

TEST_F(SilentDevice, BlockingReadWithoutABoundOfItsOwnWaitsForTheDevice) {
  // "Until it completes" with no bound given still waits (under the
  // backend's own bound) rather than giving up at once.
  std::thread answer([&] {
    Sleep(300);
    DWORD put = 0;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!WriteFile(server_, "00", 2, &put, &ov) && GetLastError() == ERROR_IO_PENDING)
      GetOverlappedResult(server_, &ov, &put, TRUE);
    CloseHandle(ov.hEvent);
  });
  char buf[16];
  IoResult r = w().readFile(device_, buf, sizeof buf, ReadWait::Blocking, 0);
  answer.join();
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(std::string(buf, r.count), "00");
}

TEST(Win32Backend, BlockingReadOnASynchronousHandleIsBounded) {
  // An anonymous pipe with nothing written: a synchronous read would wait
  // for ever; the backend cancels it after the bound.
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  char buf[16];
  ULONGLONG start = GetTickCount64();
  IoResult r = w().readFile(reinterpret_cast<Handle>(readEnd), buf, sizeof buf,
                            ReadWait::Blocking, 300);
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.timedOut);
  EXPECT_LT(took, 3000u);
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
}

TEST(Win32Backend, UdpDatagramOnLoopbackAndReceiveTimeOut) {
  w().netStartup();
  Socket rx = w().udpSocket();
  ASSERT_NE(rx, kInvalidSocket);
  ASSERT_TRUE(w().bindAny(rx, 0));
  sockaddr_in sa{};
  int len = sizeof sa;
  getsockname(static_cast<SOCKET>(rx), reinterpret_cast<sockaddr*>(&sa), &len);
  std::uint16_t port = ntohs(sa.sin_port);

  char buf[64];
  ULONGLONG start = GetTickCount64();
  NetResult r = w().recvFrom(rx, buf, sizeof buf, 200);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.error, kNetTimedOut);
  EXPECT_LT(GetTickCount64() - start, 2000u);

  Socket tx = w().udpSocket();
  ASSERT_NE(tx, kInvalidSocket);
  NetResult s = w().sendTo(tx, "probe", 5, 0x7F000001u, port);
  EXPECT_EQ(s.result, 5);
  r = w().recvFrom(rx, buf, sizeof buf, 2000);
  ASSERT_EQ(r.result, 5);
  EXPECT_EQ(std::string(buf, 5), "probe");

  // A datagram longer than the buffer arrives cut to the buffer, as it
  // does on the other platforms: an answer is an answer.
  std::string big(600, 'a');
  big[510] = 'z';
  ASSERT_EQ(w().sendTo(tx, big.data(), big.size(), 0x7F000001u, port).result, 600);
  char room[512] = {};
  r = w().recvFrom(rx, room, 511, 2000);
  EXPECT_EQ(r.result, 511);
  EXPECT_EQ(r.error, kNetOk);
  EXPECT_EQ(std::string(room, 511), big.substr(0, 511));
  w().closeSocket(tx);
  w().closeSocket(rx);
  w().netCleanup();
}

TEST(Win32Backend, SocketsAreNotInheritedByChildProcesses) {
  // A process the application starts must not hold a copy of the printer's
  // connection, which would keep it open after the library closes it.
  w().netStartup();
  for (Socket s : {w().tcpSocket(), w().udpSocket()}) {
    ASSERT_NE(s, kInvalidSocket);
    DWORD flags = HANDLE_FLAG_INHERIT;
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    w().closeSocket(s);
  }
  w().netCleanup();
}

TEST(Win32Backend, SpoolerAndUsbListsAreReadable) {
  // Wine has no printer and no USB printer here; the lists must still come
  // back, and an unknown printer must not open.
  std::vector<SpoolerPrinter> printers;
  EXPECT_TRUE(w().spoolerList(&printers));
  Handle h = kInvalidHandle;
  EXPECT_FALSE(w().spoolerOpen("no printer of this name", &h));

  std::vector<std::string> paths;
  EXPECT_TRUE(w().usbInterfaces(&paths));
  for (const std::string& p : paths)
    if (!p.empty()) {
      EXPECT_EQ(p.rfind("\\\\?\\", 0), 0u) << p;
    }
  // A device that is not attached reports no serial number, even when its
  // path carries one.
  std::string serial = "left over";
  EXPECT_FALSE(w().usbSerialNumber(
      "\\\\?\\usb#vid_fff0&pid_0001#NOTATTACHED#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", &serial));
  EXPECT_EQ(serial, "");
  EXPECT_FALSE(w().usbSerialNumber("", &serial));
}

TEST(Win32Backend, HostFontTextGivesBackEveryGraphicsObject) {
  // Each measure and draw makes a context, a canvas and a font. The process
  // has room for some tens of thousands of graphics objects at most (Wine:
  // about 65,000; Windows: 10,000), so a single object kept per call makes
  // the calls fail long before the end of this loop.
  FontSpec font;
  font.height = 16;
  font.faceName = "Tahoma";
  HostText text;
  text.bytes = "Hi";
  int failed = 0;
  for (int i = 0; i < 70000 && failed == 0; ++i) {
    int cx = 0, cy = 0;
    if (!w().textExtent(font, text, &cx, &cy)) ++failed;
    BitBlock block;
    if (!w().drawText(font, text, 0, 0, 16, 16, &block)) ++failed;
  }
  EXPECT_EQ(failed, 0);
}

TEST(Win32Backend, AnsiTextBecomesUtf16) {
  EXPECT_EQ(w().ansiToUtf16("CLS"), u"CLS");
  EXPECT_EQ(w().ansiToUtf16(""), u"");
  if (GetACP() == 1252) {
    EXPECT_EQ(w().ansiToUtf16("\xe9\x80"), u"\u00e9\u20ac");
  }
}

}  // namespace
}  // namespace paloma::test
