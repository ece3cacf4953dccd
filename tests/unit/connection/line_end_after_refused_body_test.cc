// The line end after a body the transport refused: it still goes out (the
// printer must not take the next command as the rest of this one), and the
// writer still reports the failure.
#include <gtest/gtest.h>

#include <string>

#include "connection/connection_state.h"
#include "paloma.h"
#include "support/fake_os.h"

namespace paloma {
namespace {

using test::FakeOs;

// Refuses the first write call on a device, then accepts as usual.
struct FirstWriteFails : FakeOs {
  int calls = 0;
  IoResult writeFile(Handle h, const void* data, std::size_t n) override {
    if (calls++ == 0) return IoResult{false, 0, 5, false};
    return FakeOs::writeFile(h, data, n);
  }
};

struct Installed {
  FirstWriteFails fake;
  Installed() {
    test::resetLibraryState();
    setOs(&fake);
  }
  ~Installed() {
    setOs(nullptr);
    test::resetLibraryState();
  }
  void openLpt() {
    fake.addDevice("LPT1");
    connection().handle = fake.openFile("LPT1", OpenMode{});
    connection().lptMode = 1;
    connection().isOpen = 1;
  }
};

TEST(WritePath, TheLineEndFollowsABodyTheDeviceRefused) {
  {
    Installed os;
    os.openLpt();
    EXPECT_EQ(sendcommand("CLS"), 0);
    EXPECT_EQ(os.fake.wire("LPT1"), "\r\n");
  }
  {
    Installed os;
    os.openLpt();
    const unsigned char body[] = {'A', 'B'};
    EXPECT_EQ(sendBinaryData(body, 2), 0);
    EXPECT_EQ(os.fake.wire("LPT1"), "\r\n");
    // The next command starts clean and goes through whole.
    EXPECT_EQ(sendcommand("PRINT 1"), 1);
    EXPECT_EQ(os.fake.wire("LPT1"), "\r\nPRINT 1\r\n");
  }
}

TEST(UsbPortWrite, TheLineEndFollowsABodyTheDeviceRefused) {
  Installed os;
  const std::string path = "\\\\?\\usb#vid_" PALOMA_USB_VENDOR_ID
                           "&pid_0001#a#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  os.fake.setUsbPaths({path});
  EXPECT_EQ(usbportwrite("CLS"), -2);
  EXPECT_EQ(os.fake.wire(path), "\r\n");
  EXPECT_FALSE(os.fake.isOpen(path));
}

}  // namespace
}  // namespace paloma
